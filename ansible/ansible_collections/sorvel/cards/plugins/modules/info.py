# -*- coding: utf-8 -*-
# Copyright: the sorvel developers
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
# The task runs on the controller (plugins/action/info.py): this file only documents it.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
module: info
short_description: List every card of a host, compared with a .bit file
description:
  - Runs C(sorvel +list) on the target, with the .bit file when one is given, under the utility's own C(/log), and
    reads the run's records back. Never changed; failed only when the utility's exit status is other than 0 or 1.
  - Every temporary file is removed however the task ends.
version_added: 1.0.0
author: The sorvel developers (@sorvel)
options:
  src:
    description:
      - The .bit file on the controller, copied into the task's temporary folder on the target; each card is
        compared with it. Without it the cards are only listed.
      - With O(remote_src=true), a path on the target.
    type: path
  remote_src:
    description: O(src) is a path on the target.
    type: bool
    default: false
  executable:
    description: The utility; C(sorvel), or C(sorvel.exe) on Windows, from the E(PATH) when not given.
    type: str
  cards:
    description: How many cards the host has (C(/cards N)).
    type: int
  wait:
    description: Seconds to wait for another run of sorvel on the host (C(/wait S)).
    type: int
    default: 0
  skip_revision_gate:
    description: Skip the bridge revision gate (C(+f)).
    type: bool
    default: false
  log:
    description: A file on the target to which the run's records are also appended, under the utility's own lock.
    type: str
attributes:
  check_mode:
    support: full
    description: The same run, which writes nothing.
  diff_mode:
    support: none
    description: A listing changes nothing.
  platform:
    support: full
    platforms: posix, windows
    description: Linux hosts through a POSIX shell, Windows hosts through PowerShell or cmd.
notes:
  - Windows is told apart by the connection's shell plugin (PowerShell or cmd). Become is not applied there.
  - O(src) and every argument are quoted by the target shell's own rules; on Windows an argument that holds a
    double quote or ends in a backslash is refused.
  - C(async) is refused. A task timeout ends the connection, not the run; O(log) keeps the records.
"""

EXAMPLES = r"""
- name: See which cards hold the file
  sorvel.cards.info:
    src: files/bridge.bit
    cards: 4
  register: cards
"""

RETURN = r"""
changed:
  description: Always false.
  returned: always
  type: bool
rc:
  description: The utility's exit status.
  returned: always
  type: int
msg:
  description: The counts, as C(1 current, 2 rewritten, 0 failed, 1 skipped, 0 not tried), or why nothing ran.
  returned: always
  type: str
cards:
  description: One entry per card record.
  returned: always
  type: list
  elements: dict
  contains:
    index:
      description: The card's index.
      type: int
    model:
      description: C(Halcyra), C(Perinel), C(board type N), or null when not read.
      type: str
    bridge_revision:
      description: The bridge revision.
      type: int
    result:
      description: The record's result.
      type: str
    changed:
      description: The card was (or would be) rewritten; a rewrite that failed began its erase.
      type: bool
    differing_bytes:
      description: The bytes a compare or verification found different.
      type: int
    blocks_rewritten:
      description: Blocks written again byte by byte (C(fast)).
      type: int
    error:
      description: The card's first error line.
      type: str
    seconds:
      description: The wall time up to the card's end.
      type: float
counts:
  description: The cards by what became of them.
  returned: always
  type: dict
  contains:
    current:
      description: Cards that held the file.
      type: int
    rewritten:
      description: Cards that differ from the file.
      type: int
    failed:
      description: Cards refused, unreadable, not opened, or whose rewrite failed.
      type: int
    skipped:
      description: Cards of another model.
      type: int
    not_tried:
      description: Always 0 for a listing.
      type: int
records:
  description: The run's records, as parsed.
  returned: always
  type: list
  elements: dict
stdout_lines:
  description: What the utility printed.
  returned: always
  type: list
  elements: str
"""
