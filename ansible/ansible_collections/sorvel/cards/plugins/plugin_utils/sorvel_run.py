# -*- coding: utf-8 -*-
# Copyright: the sorvel developers
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""A run of sorvel on a target, from the controller: the command as the
target's shell takes it, the run's records read back, and what they say."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import hashlib
import json
import ntpath
import os
import posixpath
import re
import shutil
import tempfile

from ansible.errors import AnsibleActionFail
from ansible.module_utils.common.text.converters import to_native, to_text
from ansible.plugins.action import ActionBase

RECORD_VERSIONS = (1,)
MODELS = {4: "Halcyra", 8: "Perinel"}
COUNTS = ("current", "rewritten", "failed", "skipped", "not_tried")
RECORDS_NAME = "sorvel-records.jsonl"

ARGUMENT_SPEC = {
    "src": {"type": "path"},
    "remote_src": {"type": "bool", "default": False},
    "executable": {"type": "str"},
    "fast": {"type": "bool", "default": False},
    "cards": {"type": "int"},
    "wait": {"type": "int", "default": 0},
    "skip_revision_gate": {"type": "bool", "default": False},
    "log": {"type": "str"},
}


def is_windows(shell):
    """Told by the connection's shell plugin (PowerShell or cmd), not by facts."""
    return bool(getattr(shell, "_IS_WINDOWS", False))


def sorvel_arguments(params, records_path, bit_name, listing):
    """The utility's arguments; the .bit file as ./NAME in its own folder (a path that starts with / is an option)."""
    argv = ["/log", records_path]
    if params.get("skip_revision_gate"):
        argv.append("+f")
    if params.get("fast") and not listing:
        argv.append("+fast")
    if params.get("cards") is not None:
        argv += ["/cards", str(params["cards"])]
    if params.get("wait"):
        argv += ["/wait", str(params["wait"])]
    argv.append("+list" if listing else "+all")
    if bit_name is not None:
        argv.append("./" + bit_name)
    return argv


def posix_command(shell, environment, folder, program, argv):
    """Each argument quoted by the shell's own rules; the environment set for the utility alone."""
    words = [shell.quote(word) for word in [program] + argv]
    prefix = shell.env_prefix(**environment)
    return "cd %s && %sexec %s" % (shell.quote(folder), prefix + " " if prefix else "", " ".join(words))


def powershell_quote(text):
    """A PowerShell single-quoted string: its quote characters doubled."""
    return "'" + re.sub(u"(['\u2018\u2019\u201a\u201b])", u"\\1\\1", text) + "'"


def windows_script(environment, folder, program, argv):
    """The PowerShell script run on a Windows target. A native program's command line is made from the
    arguments by rules that mangle a double quote and a trailing backslash: such an argument is refused."""
    for word in argv:
        if '"' in word or word.endswith("\\"):
            raise AnsibleActionFail("sorvel cannot be given %s on a Windows host: it holds a double quote or ends "
                                    "in a backslash" % word)
    lines = ["Set-Location -LiteralPath %s" % powershell_quote(folder)]
    lines += ["$env:%s = %s" % (name, powershell_quote(value)) for name, value in environment.items()]
    lines.append("& " + " ".join(powershell_quote(word) for word in [program] + argv))
    lines.append("exit $LASTEXITCODE")
    return "\n".join(lines)


def posix_append(shell, records_path, log):
    """The records appended to the host's log under the utility's own lock on it (flock), then on the disk."""
    return "flock -x %s sh -c 'cat \"$1\" >>\"$2\" && sync \"$2\"' sh %s %s" % (
        shell.quote(log), shell.quote(records_path), shell.quote(log))


def windows_append(records_path, log):
    """The same on Windows: the utility's lock on the whole file, held and written through one handle."""
    return "\n".join([
        "$bytes = [IO.File]::ReadAllBytes(%s)" % powershell_quote(records_path),
        "$log = [IO.File]::Open(%s, 'OpenOrCreate', 'ReadWrite', 'ReadWrite')" % powershell_quote(log),
        "try {",
        "for ($try = 0; ; $try++) { try { $log.Lock(0, [long]::MaxValue); break }"
        " catch [IO.IOException] { if ($try -ge 600) { throw }; Start-Sleep -Milliseconds 100 } }",
        "try { [void]$log.Seek(0, 'End'); $log.Write($bytes, 0, $bytes.Length); $log.Flush($true) }",
        "finally { $log.Unlock(0, [long]::MaxValue) }",
        "} finally { $log.Close() }",
        "exit 0",
    ])


def read_records(data, host):
    """The records as written, one JSON object a line; a version this collection does not know is refused."""
    records = [json.loads(line) for line in to_text(data, errors="surrogate_or_strict").splitlines() if line]
    for record in records:
        version = record.get("record_version")
        if version is None:
            raise AnsibleActionFail("sorvel on %s is older than this collection: its records have no "
                                    "record_version" % host)
        if version not in RECORD_VERSIONS:
            raise AnsibleActionFail("sorvel on %s writes records of version %s, which this collection does not "
                                    "know (it reads %s)" % (host, version, ", ".join(map(str, RECORD_VERSIONS))))
    return records


def model_of(record):
    board = record.get("board_type")
    return None if board is None else MODELS.get(board, "board type %d" % board)


def card_kind(record):
    """What a card's record counts as, and whether the card was (or in check mode would be) rewritten."""
    result, action = record["result"], record["action"]
    if result == "skipped":
        return "skipped", False
    if result in ("same", "listed"):
        return "current", False
    if result == "differs":
        return "rewritten", True
    if action == "write":
        return ("rewritten", True) if result == "written" else ("failed", True)  # a failed rewrite began its erase
    if result == "not tried":
        return "not_tried", False
    return "failed", False


def rewritten_counts(stdout):
    """Each card's 'differs ... in N of M bytes' from a +all run's lines: the diff's before."""
    counts, index = {}, None
    for line in stdout.splitlines():
        card = re.match(r"== Card index (\d+)$", line)
        index = int(card.group(1)) if card else index
        differs = re.match(r"The Flash differs from .* in (\d+) of (\d+) bytes", line)
        if differs and index is not None:
            counts[index] = (int(differs.group(1)), int(differs.group(2)))
    return counts


def diff_entry(record, kind, sha256, stdout_counts):
    index = record["card"]["number"]
    header = "card index %d" % index
    if kind == "current":
        before = "holds %s" % sha256
    else:
        bits = record["bit"]
        counted = stdout_counts.get(index)
        if record["result"] == "differs" and record.get("differing_bytes") is not None:
            counted = (record["differing_bytes"], (bits.get("data_bytes") or 0) + 16)
        before = "differs from %s" % sha256 + (" in %d of %d bytes" % counted if counted else "")
    after = "holds %s" % sha256 if kind in ("current", "rewritten") else "%s: %s" % (kind, record.get("error"))
    return {"before_header": header, "after_header": header, "before": before + "\n", "after": after + "\n"}


def verdict(records, rc, check_mode, host, expected_sha256=None, stdout="", listing=False):
    """The task's result from the run's records and exit status."""
    out = {"rc": rc, "records": records, "cards": [], "counts": dict((name, 0) for name in COUNTS), "diff": []}
    shas = set(r["bit"]["sha256"] for r in records if r["bit"]["sha256"] is not None)
    problems = []
    if expected_sha256 is not None and shas - {expected_sha256}:
        problems.append("sorvel on %s used a file other than the one sent (sha256 %s, not %s)"
                        % (host, ", ".join(sorted(shas - {expected_sha256})), expected_sha256))
    elif len(shas) > 1:
        problems.append("sorvel on %s used files that differ (sha256 %s)" % (host, ", ".join(sorted(shas))))
    sha256 = expected_sha256 or (shas.pop() if len(shas) == 1 else None)
    stdout_counts = rewritten_counts(stdout)
    refused = False
    for record in records:
        if record["card"]["by"] != "index":  # a run refused before any card: busy, no card library
            problems.append(re.sub(r"^\*\*\* ", "", record.get("error") or "sorvel did not reach a card"))
            continue
        kind, changed = card_kind(record)
        out["counts"][kind] += 1
        seconds = record["seconds"]["total"]
        out["cards"].append({"index": record["card"]["number"], "model": model_of(record),
                             "bridge_revision": record["bridge_revision"], "result": record["result"],
                             "changed": changed, "differing_bytes": record["differing_bytes"],
                             "blocks_rewritten": record["blocks_rewritten"], "error": record["error"],
                             "seconds": seconds})
        if record.get("board_type") in MODELS:
            refused = refused or record["result"] in ("refused", "failed")
            if sha256 is not None:
                out["diff"].append(diff_entry(record, kind, sha256, stdout_counts))
    out["changed"] = not listing and any(card["changed"] for card in out["cards"])
    summary = ", ".join("%d %s" % (out["counts"][name], name.replace("_", " ")) for name in COUNTS)
    ran = rc in (0, 1)
    if listing:
        failed = not ran
    elif check_mode:
        failed = not ran or refused
    else:
        failed = not ran or out["counts"]["failed"] > 0
    failed = failed or bool(problems)
    if problems:
        out["msg"] = "; ".join(problems)
    elif not records and not ran:
        out["msg"] = "sorvel did not run on %s (exit status %s)" % (host, rc)
    else:
        out["msg"] = summary
    out["failed"] = failed
    return out


def file_sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 16), b""):
            digest.update(chunk)
    return digest.hexdigest()


class SorvelAction(ActionBase):
    """+all (or +list) on the target under the utility's own /log; the records read back, the temporaries
    removed whatever happened."""

    TRANSFERS_FILES = True
    LISTING = False  # the info task: +list, never changed

    def run(self, tmp=None, task_vars=None):
        self._supports_check_mode = True
        result = super(SorvelAction, self).run(tmp, task_vars)
        del tmp
        dummy, params = self.validate_argument_spec(argument_spec=ARGUMENT_SPEC)
        host = (task_vars or {}).get("inventory_hostname", "the host")
        shell = self._connection._shell
        windows = is_windows(shell)
        listing = self.LISTING or bool(self._task.check_mode)
        if not self.LISTING and not params["src"]:
            raise AnsibleActionFail("src is required: the .bit file to bring every card up to date with")
        local_tmp = tempfile.mkdtemp(prefix="sorvel-records-")
        try:
            result.update(self._run_on_target(params, host, shell, windows, listing, local_tmp))
        finally:
            shutil.rmtree(local_tmp, ignore_errors=True)
            if shell.tmpdir is not None:
                self._remove_tmp_path(shell.tmpdir)
        if not self._task.diff:
            result.pop("diff", None)
        return result

    def _run_on_target(self, params, host, shell, windows, listing, local_tmp):
        paths = ntpath if windows else posixpath
        expected, bit_name, folder = None, None, shell.tmpdir
        if params["src"] and params["remote_src"]:
            folder, bit_name = paths.split(params["src"])
            folder = folder or "."
        elif params["src"]:
            local = self._find_needle("files", params["src"])
            expected = file_sha256(local)
            bit_name = os.path.basename(local)
            self._transfer_file(local, shell.join_path(shell.tmpdir, bit_name))
            self._fixup_perms2((shell.tmpdir, shell.join_path(shell.tmpdir, bit_name)), execute=False)
        records_path = shell.join_path(shell.tmpdir, RECORDS_NAME)
        program = params["executable"] or ("sorvel.exe" if windows else "sorvel")
        argv = sorvel_arguments(params, records_path, bit_name, listing)
        environment = {}
        self._compute_environment_string(environment)
        environment = dict((to_native(k), to_native(v)) for k, v in environment.items())
        if windows:
            command = shell._encode_script(windows_script(environment, folder, program, argv), preserve_rc=False)
        else:
            command = posix_command(shell, environment, folder, program, argv)
        ran = self._low_level_execute_command(command, sudoable=not windows)
        local_records = os.path.join(local_tmp, RECORDS_NAME)
        try:
            self._connection.fetch_file(records_path, local_records)
            with open(local_records, "rb") as f:
                data = f.read()
        except Exception:  # no records: the utility did not start
            data = b""
        if data and params["log"]:
            self._append_to_log(shell, windows, records_path, params["log"])
        records = read_records(data, host)
        out = verdict(records, ran["rc"], bool(self._task.check_mode), host, expected, ran.get("stdout", ""),
                      self.LISTING)
        out["stdout_lines"] = ran.get("stdout", "").splitlines()
        said = (ran.get("stderr", "") + ran.get("stdout", "")).strip().splitlines()
        if not records and ran["rc"] not in (0, 1) and said:
            out["msg"] += ": " + said[-1]  # why the utility did not start
        return out

    def _append_to_log(self, shell, windows, records_path, log):
        if windows:
            command = shell._encode_script(windows_append(records_path, log), preserve_rc=False)
        else:
            command = posix_append(shell, records_path, log)
        appended = self._low_level_execute_command(command, sudoable=not windows)
        if appended["rc"] != 0:
            raise AnsibleActionFail("the records could not be appended to %s: %s"
                                    % (log, to_native(appended.get("stderr", "")).strip()))
