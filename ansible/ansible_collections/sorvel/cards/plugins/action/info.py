# -*- coding: utf-8 -*-
# Copyright: the sorvel developers
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""sorvel.cards.info: every card of the host listed (+list), compared with src when given."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

from ansible_collections.sorvel.cards.plugins.plugin_utils.sorvel_run import SorvelAction


class ActionModule(SorvelAction):
    LISTING = True  # +list: never changed
