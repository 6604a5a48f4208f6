# -*- coding: utf-8 -*-
# Copyright: the sorvel developers
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""The tasks' verdicts from records and exit statuses; each target shell's exact command (the transport faked)."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import base64
import json
import os
import re
from unittest.mock import MagicMock

import pytest
from ansible.errors import AnsibleActionFail
from ansible.parsing.dataloader import DataLoader
from ansible.plugins.loader import shell_loader
from ansible.template import Templar
from ansible_collections.sorvel.cards.plugins.action.update import ActionModule as Update
from ansible_collections.sorvel.cards.plugins.plugin_utils.sorvel_run import read_records, verdict, windows_script

SHA = "ab" * 32


def record(index, result, action="compare", board=4, by="index", sha=SHA, error=None, version=1):
    return {"record_version": version, "card": {"by": by, "number": index}, "result": result, "action": action,
            "board_type": board, "bridge_revision": 2, "differing_bytes": None, "blocks_rewritten": None,
            "error": error, "seconds": {"total": 1.0}, "bit": {"sha256": sha, "data_bytes": 8}}


BUSY = "*** Another run of sorvel is using a card on this host (process 7): nothing was done"
VERDICTS = [  # id, records, rc, check mode, counts that are not 0, changed, failed, msg (None: the counts)
    ("busy", [record(0, "failed", "write", None, "id", None, BUSY)], 255, False, {}, False, True, BUSY[4:]),
    ("skipped", [record(0, "skipped", "none", 6)], 0, False, {"skipped": 1}, False, False, None),
    ("current", [record(0, "same")], 0, False, {"current": 1}, False, False, None),
    ("would_rewrite", [record(0, "differs")], 1, True, {"rewritten": 1}, True, False, None),
    ("rewritten", [record(0, "written", "write")], 0, False, {"rewritten": 1}, True, False, None),
    ("rewrite_failed", [record(0, "written", "write"), record(1, "failed", "write")], 255, False,
     {"rewritten": 1, "failed": 1}, True, True, None),
    ("refused", [record(0, "refused", "none")], 255, False, {"failed": 1}, False, True, None),
    ("not_opened", [record(0, "failed", "none", None)], 255, False, {"failed": 1}, False, True, None),
    ("not_tried", [record(0, "failed", "write"), record(1, "not tried", "none")], 255, False,
     {"failed": 1, "not_tried": 1}, True, True, None),
    ("preflight_refused", [record(0, "refused", "none")], 0, True, {"failed": 1}, False, True, None),
    ("windows_failure", [record(0, "same")], 4294967295, False, {"current": 1}, False, True, None),
    ("other_file", [record(0, "same", sha="cd" * 32)], 0, False, {"current": 1}, False, True,
     "sorvel on h used a file other than the one sent (sha256 %s, not %s)" % ("cd" * 32, SHA)),
]


@pytest.mark.parametrize("records,rc,check,counts,changed,failed,msg", [v[1:] for v in VERDICTS],
                         ids=[v[0] for v in VERDICTS])
def test_verdict_from_records_and_exit_status(records, rc, check, counts, changed, failed, msg):
    out = verdict(records, rc, check, "h", SHA)
    expected = dict({"current": 0, "rewritten": 0, "failed": 0, "skipped": 0, "not_tried": 0}, **counts)
    assert (out["counts"], out["changed"], out["failed"]) == (expected, changed, failed)
    assert out["msg"] == (msg or ", ".join("%d %s" % (expected[k], k.replace("_", " ")) for k in expected))


def test_listing_is_never_changed_and_fails_only_by_its_exit_status():
    listed = verdict([record(0, "differs"), record(1, "refused", "none")], 1, False, "h", listing=True)
    assert (listed["changed"], listed["failed"]) == (False, False)


@pytest.mark.parametrize("version,text", [(2, "writes records of version 2"), (None, "is older than this collection")])
def test_records_of_an_unknown_version_are_refused(version, text):
    line = dict(record(0, "same"), record_version=version)
    if version is None:
        del line["record_version"]
    with pytest.raises(AnsibleActionFail, match=text):
        read_records(json.dumps(line).encode() + b"\n", "h")


class Target:
    """The transport, faked: every command is kept, and the records file is 'fetched' from a string."""

    def __init__(self, shell_name, records, raise_on=None):
        self.commands, self.removed, self.records, self.raise_on = [], [], records, raise_on
        self.shell = shell_loader.get(shell_name)
        self.shell.tmpdir = "C:\\Temp\\a b" if shell_name == "powershell" else "/tmp/a b'c"

    def action(self, args, environment, tmp_path):
        task = MagicMock(args=args, async_val=0, check_mode=False, diff=False, environment=[environment])
        connection = MagicMock(_shell=self.shell)
        connection.fetch_file.side_effect = lambda remote, local: open(local, "wb").write(self.records)
        action = Update(task, connection, MagicMock(), DataLoader(), Templar(loader=DataLoader()), None)
        action._find_needle = lambda dirname, needle: needle
        action._transfer_file = MagicMock()
        action._fixup_perms2 = MagicMock()
        action._remove_tmp_path = self.removed.append
        action._low_level_execute_command = self.execute
        return action

    def execute(self, command, sudoable=True):
        self.commands.append((command, sudoable))
        if self.raise_on and self.raise_on in command:
            raise OSError("the connection dropped")
        return {"rc": 0, "stdout": "", "stderr": ""}


def script_of(command):
    return base64.b64decode(command.split()[-1]).decode("utf-16-le")


def test_posix_command_quotes_each_argument_and_sets_the_environment(tmp_path):
    bit = tmp_path / "new bridge.bit"
    bit.write_bytes(b"x")
    line = json.dumps(dict(record(0, "same"), bit={"sha256": None}))
    target = Target("sh", line.encode() + b"\n")
    out = target.action({"src": str(bit), "fast": True, "cards": 2, "log": "/var/log/it's.jsonl"},
                        {"KORVAN_SIM": "a b"}, tmp_path).run(task_vars={"inventory_hostname": "h"})
    assert not out["failed"]
    assert target.commands[0] == ("cd '/tmp/a b'\"'\"'c' && KORVAN_SIM='a b' exec sorvel /log "
                                  "'/tmp/a b'\"'\"'c/sorvel-records.jsonl' +fast /cards 2 +all './new bridge.bit'", True)
    assert target.commands[1][0] == ("flock -x '/var/log/it'\"'\"'s.jsonl' sh -c 'cat \"$1\" >>\"$2\" && sync \"$2\"'"
                                     " sh '/tmp/a b'\"'\"'c/sorvel-records.jsonl' '/var/log/it'\"'\"'s.jsonl'")
    assert target.removed == ["/tmp/a b'c"]


def test_windows_script_runs_in_the_bit_folder_and_ends_with_the_exit_status(tmp_path):
    target = Target("powershell", json.dumps(record(0, "same", sha=None)).encode() + b"\n")
    action = target.action({"src": "D:\\it's here\\x.bit", "remote_src": True, "wait": 5,
                            "log": "D:\\logs\\runs.jsonl"}, {"KORVAN_SIM": "c'd"}, tmp_path)
    out = action.run(task_vars={"inventory_hostname": "h"})
    assert not out["failed"] and target.commands[0][1] is False  # become is not applied there
    assert script_of(target.commands[0][0]).splitlines()[1:] == [
        "Set-Location -LiteralPath 'D:\\it''s here'", "$env:KORVAN_SIM = 'c''d'",
        "& 'sorvel.exe' '/log' 'C:\\Temp\\a b\\sorvel-records.jsonl' '/wait' '5' '+all' './x.bit'",
        "exit $LASTEXITCODE"]
    append = script_of(target.commands[1][0])  # under the utility's lock on the whole file, written through it
    assert "[IO.File]::Open('D:\\logs\\runs.jsonl', 'OpenOrCreate', 'ReadWrite', 'ReadWrite')" in append
    assert "$log.Lock(0, [long]::MaxValue)" in append and "$log.Flush($true)" in append


def test_windows_refuses_a_quote_or_a_trailing_backslash(tmp_path):
    target = Target("powershell", b"")
    with pytest.raises(AnsibleActionFail, match="double quote or ends in a backslash"):
        target.action({"src": 'D:\\a b\\x"y.bit', "remote_src": True}, {}, tmp_path).run(task_vars={})
    assert target.commands == [] and target.removed == ["C:\\Temp\\a b"]
    with pytest.raises(AnsibleActionFail, match="double quote or ends in a backslash"):
        windows_script({}, "D:\\", "sorvel.exe", ["/log", "D:\\logs\\"])


def test_temporaries_are_removed_when_a_step_raises(tmp_path):
    bit = tmp_path / "x.bit"
    bit.write_bytes(b"x")
    target = Target("sh", b"", raise_on="exec sorvel")
    before = set(os.listdir(os.environ.get("TMPDIR", "/tmp")))
    with pytest.raises(OSError):
        target.action({"src": str(bit)}, {}, tmp_path).run(task_vars={})
    assert target.removed == ["/tmp/a b'c"]
    left = set(os.listdir(os.environ.get("TMPDIR", "/tmp"))) - before
    assert not [name for name in left if re.match("sorvel-records-", name)]
