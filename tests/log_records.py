#!/usr/bin/env python3
"""The run records of /log, read with Python's json module: one whole line a
run, every key present, the values of what the run found and did.
    log_records.py SORVEL SAMPLE_BIT"""
import json
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import threading

import jsonschema

SORVEL, SAMPLE = os.path.abspath(sys.argv[1]), sys.argv[2]
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs", "run-record.schema.json")) as f:
    SCHEMA = jsonschema.Draft202012Validator(json.load(f))
KEYS = ["time", "version", "record_version", "arguments", "card", "board_type", "logic_revision", "bridge_revision", "build_date",
        "control_address", "register_path", "card_info", "flash", "bit", "action", "fast", "blocks_rewritten", "backup",
        "result", "error",
        "differing_bytes", "interrupted", "exit_status", "seconds"]
BIT_KEYS = ["path", "file_bytes", "sha256", "design", "part", "date", "time", "data_bytes"]
SECONDS_KEYS = ["backup", "erase", "program", "verify", "total"]
ODD = os.fsencode('q"b\\\t') + b"\xe9.bit"  # a quote, a backslash, a tab, a byte that is not UTF-8
ODD_TEXT = 'q"b\\\t\u00e9.bit'
failures = []


def sorvel(work, args, card="", program=SORVEL, limit=None, output=None):  # the process's status
    with open(os.path.join(work, "card.ini"), "w") as f:
        f.write("[card]\nflash_image = flash.bin\n" + card)
    env = dict(os.environ, KORVAN_SIM="card.ini", SORVEL_LOCK=os.path.join(work, "host.lock"))  # each folder its own
    limited = (lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))) if limit else None
    run = subprocess.run([program] + args, cwd=work, env=env, stdout=subprocess.PIPE, preexec_fn=limited)
    if output is not None:
        output.append(run.stdout)
    return run.returncode if run.returncode >= 0 else 128 - run.returncode  # as a shell tells a signal


def records(work, name="run.log"):
    with open(os.path.join(work, name), "rb") as f:
        lines = f.read().split(b"\n")
    if lines[-1] != b"":
        failures.append("the log does not end with a line end")
    out = [json.loads(line) for line in lines[:-1]]
    for record in out:
        failures.extend(f"schema: {e.message} in {record}" for e in SCHEMA.iter_errors(record))
    return out


def expect(name, what, actual, expected):
    if actual != expected:
        failures.append(f"{name}: {what} is {actual!r}, not {expected!r}")


def check(name, record, expected):
    expect(name, "keys", list(record), KEYS)
    expect(name, "bit keys", list(record["bit"]), BIT_KEYS)
    expect(name, "seconds keys", list(record["seconds"]), SECONDS_KEYS)
    for key, value in expected.items():
        actual = record
        for part in key.split("."):
            actual = actual[part] if actual is not None else None
        expect(name, key, actual, value)


def sha256sum(path):
    return subprocess.run(["sha256sum", path], stdout=subprocess.PIPE, text=True).stdout.split()[0]


work = tempfile.mkdtemp()
try:
    shutil.copy(SAMPLE, os.path.join(work, "b.bit"))
    shutil.copy(SAMPLE, os.path.join(work, "c.bit"))
    with open(os.path.join(work, "c.bit"), "r+b") as f:  # the last data byte other
        f.seek(-1, 2)
        f.write(b"\x00")
    shutil.copy(SAMPLE, os.path.join(os.fsencode(work), ODD))
    last = open(SAMPLE, "rb").read()[-1]
    alone = os.path.join(work, "alone")
    os.mkdir(alone)
    os.mkdir(os.path.join(work, "no"))
    shutil.copy(SORVEL, alone)  # no card library beside it
    written = {"result": "written", "exit_status": 0, "differing_bytes": 0, "error": None, "interrupted": False,
               "card": {"by": "id", "number": 0}, "board_type": 4, "logic_revision": 0x12,
               "bridge_revision": 2, "build_date": "28/06/2019 09:05:07", "control_address": 0,
               "register_path": "library", "flash": {"vendor": 0x89, "device": 0x17, "lock": 0},
               "bit.path": "b.bit", "bit.file_bytes": os.path.getsize(SAMPLE),
               "bit.sha256": sha256sum(SAMPLE), "bit.design": "bridge_top.ncd;UserID=0xFFFFFFFF",
               "bit.part": "2v1500fg676", "bit.date": "2019/06/28", "bit.time": "09:05:07",
               "bit.data_bytes": 707916, "action": "write", "fast": False, "blocks_rewritten": None, "backup": None, "seconds.backup": None,
               "card_info": "0000000000000000040000000000000000000000000000000000000000000000000000000012" + "0000",
               "arguments": ["/log", "run.log", "b.bit"]}
    failed = {"result": "failed", "exit_status": -1, "differing_bytes": None, "seconds.erase": None}
    rows = [  # name, arguments, card-file lines, process status, what the record says
        ("verified_write", ["/log", "run.log", "b.bit"], "", 0, written),
        ("compare_same", ["/log", "run.log", "-write", "b.bit"], "", 0,
         {"result": "same", "action": "compare", "exit_status": 0, "differing_bytes": 0, "seconds.erase": None}),
        ("compare_differs", ["/log", "run.log", "-write", "c.bit"], "", 1,
         {"result": "differs", "exit_status": 1, "differing_bytes": 1,
          "error": "*** expected 0x00 actual 0x%02x index 0xacd5b" % int(f"{last:08b}"[::-1], 2)}),
        ("no_flash", ["/log", "run.log", "b.bit"], "flash_vendor = 0xff\n", 255,
         dict(failed, error="*** Unrecognised vendor/device ID for Flash", **{"flash.vendor": 255})),
        ("interrupted_write", ["/log", "run.log", "+f", "/index", "0", "b.bit"], "interrupt = program:5\n", 128 + 2,
         {"result": "written", "interrupted": True, "exit_status": 0, "card": {"by": "index", "number": 0}}),
        ("odd_path", ["/log", "run.log", ODD], "", 0, {"bit.path": ODD_TEXT, "arguments": ["/log", "run.log", ODD_TEXT]}),
        ("fast_write", ["/log", "run.log", "+fast", "b.bit"], "fail_buffer = 2\n", 0,
         {"fast": True, "blocks_rewritten": 1, "result": "written"}),
        ("interrupted_before_the_erase", ["/log", "run.log", "b.bit"], "interrupt = read:2\n", 128 + 2,
         dict(failed, interrupted=True, error="*** Interrupted before the Flash was touched")),
    ]
    for count, (name, args, card, status, expected) in enumerate(rows, 1):
        expect(name, "status", sorvel(work, args, card), status)
        got = records(work)
        expect(name, "records", len(got), count)
        check(name, got[-1], expected)

    # A listing with the file: a record for each card, by index; the second card does not open, the third differs
    # (-1 wins over 1).
    expect("list", "status", sorvel(work, ["/log", "run.log", "+list", "b.bit"],
                                    "[card]\nfail = open\n[card]\nflash_image = other.bin\n"), 255)
    got = records(work)
    for name, record, expected in (
            ("list_0", got[-3], {"card": {"by": "index", "number": 0}, "result": "same", "action": "compare"}),
            ("list_1", got[-2], {"card": {"by": "index", "number": 1}, "result": "failed", "action": "none",
                                 "exit_status": -1, "error": "*** Failed to open card with index 1: injected failure"}),
            ("list_2", got[-1], {"card": {"by": "index", "number": 2}, "result": "differs", "action": "compare",
                                 "exit_status": 1, "bit.sha256": sha256sum(SAMPLE)})):
        check(name, record, expected)
    expect("list_unreadable", "status", sorvel(work, ["+list"], "fail = card_info\n"), 255)
    expect("all_no_card", "status", sorvel(work, ["+all", "b.bit"], "fail = open\n[card]\nfail = open\n"), 255)
    expect("list_missing_file", "status", sorvel(work, ["/log", "run.log", "+list", "missing.bit"]), 255)
    check("list_missing_file", records(work)[-1], dict(failed, card={"by": "id", "number": 0}, board_type=None,
                                                       error="*** Failed to load bitstream missing.bit: "
                                                             "file cannot be opened"))

    # +all +fast: a card that holds the file gets no query; one that does not open, one of another model, one a
    # check refuses each have their record; an interrupt before card 4's erase is told in its lines, its row and
    # its record, and no card after it is looked at.
    cards = ("trace = t0.txt\n[card]\nfail = open\n[card]\nboard_type = 6\n[card]\nlogic_revision = 0x10\n"
             "[card]\nflash_image = other.bin\ninterrupt = read:5\n[card]\n")
    before = len(records(work))
    out = []
    expect("all", "status", sorvel(work, ["/log", "run.log", "+all", "+fast", "b.bit"], cards, output=out), 128 + 2)
    got = records(work)[before:]
    expect("all", "records", [r["card"]["number"] for r in got], [0, 1, 2, 3, 4])
    none = {"action": "none", "exit_status": -1, "result": "failed", "interrupted": False, "fast": False}
    for name, record, expected in (
            ("all_same", got[0], {"result": "same", "action": "compare", "fast": False, "exit_status": 0}),
            ("all_not_opened", got[1], dict(none, board_type=None, card_info=None,
                                            error="*** Failed to open card with index 1: injected failure")),
            ("all_skipped", got[2], dict(none, result="skipped", exit_status=0, board_type=6, error=None)),
            ("all_refused", got[3], dict(none, result="refused", bridge_revision=0,
                                         error="*** Current Bridge revision too low.")),
            ("all_interrupted", got[4], dict(none, action="compare", interrupted=True,
                                             error="*** Interrupted before the Flash was touched"))):
        check(name, record, expected)
    lines = out[0].decode().split("\n")
    expect("all", "last lines", lines[-9:], [
        "*** Interrupted before the Flash was touched", "Summary:", "    0  Halcyra       left alone: holds the file",
        "    1  -             not opened: injected failure",
        "    2  board type 6  skipped: neither a Halcyra nor a Perinel",
        "    3  Halcyra       refused: Current Bridge revision too low.",
        "    4  Halcyra       interrupted before its erase", "    -  cards after index 4 not looked at: interrupted", ""])
    expect("all", "query", [line for line in open(os.path.join(work, "t0.txt")) if line.startswith("W lib 1c 98")], [])
    # After a failed rewrite (a locked Flash) the next card is named from its card information alone.
    expect("not_tried", "status", sorvel(work, ["/log", "run.log", "+all", "b.bit"],
                                         "flash_image = locked.bin\nflash_lock = 1\n[card]\nboard_type = 8\n"), 255)
    got = records(work)[-2:]
    check("failed_rewrite", got[0], {"action": "write", "result": "failed", "exit_status": -1})
    check("not_tried", got[1], dict(none, result="not tried", board_type=8, flash=None, bridge_revision=None, error=None,
                                    card_info="00" * 8 + "08" + "00" * 28 + "12" + "00" * 2))

    # An interrupt during the first card of a listing: that card is listed, none after it is looked at.
    out = []
    expect("list_interrupted", "status", sorvel(work, ["/log", "run.log", "+list"], "interrupt = read:1\n[card]\n",
                                                output=out), 128 + 2)
    expect("list_interrupted", "last line", out[0].decode().split("\n")[-2],
           "    -  cards after index 0 not looked at: interrupted")
    expect("list_interrupted", "records", [r["card"]["number"] for r in records(work)[-1:]], [0])

    # 40 cards to a log that is the output, through a pipe: every row whole, each followed by its record. The
    # last is refused, which is no error of the list.
    out = []
    expect("pipe_40", "status", sorvel(work, ["/log", "/dev/stdout", "+list"],
                                       "[card]\n" * 39 + "logic_revision = 0x10\n", output=out), 0)
    lines = out[0].decode().split("\n")
    row = "  Halcyra       rev02   28/06/2019 09:05:07  0x0         library  vendor 89, device 17, lock 0"
    refused = "   39  Halcyra       rev00   -                    0x0         library  refused: Current Bridge revision too low."
    expect("pipe_40", "rows", [line for line in lines if not line.startswith("{")],
           [lines[0]] + ["%5d%s" % (k, row) for k in range(39)] + [refused, "No card at index 40: no such card", ""])
    piped = [json.loads(lines[2 + 2 * k]) for k in range(40)]
    expect("pipe_40", "records", [(r["card"]["number"], r["result"]) for r in piped],
           [(k, "listed") for k in range(39)] + [(39, "refused")])
    failures.extend(f"schema: {e.message}" for r in piped for e in SCHEMA.iter_errors(r))

    # A record that cannot be written whole (a file-size limit) is cut off again: only whole lines.
    log = os.path.join(work, "run.log")
    kept = open(log, "rb").read()
    expect("cut_short", "status", sorvel(work, ["/log", "run.log", "-write", "b.bit"], limit=len(kept) + 100), 255)
    expect("cut_short", "log", open(log, "rb").read(), kept)
    # A log that is a pipe: the record arrives, and nothing is flushed to a disk.
    piped = []
    expect("pipe", "status", sorvel(work, ["/log", "/dev/stdout", "-write", "b.bit"], output=piped), 0)
    piped = json.loads(piped[0].split(b"\n")[-2])
    failures.extend(f"schema: {e.message}" for e in SCHEMA.iter_errors(piped))
    check("pipe", piped, {"result": "same"})

    # Before the card is opened: no card library, and a log that cannot be opened.
    lone = os.path.join(alone, os.path.basename(SORVEL))
    expect("library_missing", "status", sorvel(alone, ["/log", "run.log", "../b.bit"], program=lone), 255)
    check("library_missing", records(alone)[0],
          dict(failed, card={"by": "id", "number": 0}, board_type=None, card_info=None, register_path=None,
               flash=None, **{"bit.sha256": None, "error": "*** Cannot load libkorvan.so: libkorvan.so: cannot open"
                              " shared object file: No such file or directory"}))
    expect("log_unopened", "status", sorvel(work, ["/log", "missing/run.log", "b.bit"], "trace = trace.txt\n"), 255)
    expect("log_unopened", "card calls", os.path.exists(os.path.join(work, "trace.txt")), False)

    # Two processes appending 20 records each, at once, each from a folder of its own: 40 whole lines.
    both = os.path.join(work, "both.log")
    runs = [threading.Thread(target=lambda folder=folder: [sorvel(folder, ["/log", both, "../b.bit"], "fail = clock\n")
                                                           for _ in range(20)]) for folder in (alone, work + "/no")]
    for run in runs:
        run.start()
    for run in runs:
        run.join()
    expect("two_processes", "records", [r["error"] for r in records(work, "both.log")],
           ["Failed to set LCLK to 33.0MHz: injected failure"] * 40)
finally:
    shutil.rmtree(work)

for failure in failures:
    print("FAILED:", failure)
print(f"{0 if failures else 1} passed, {1 if failures else 0} failed")
sys.exit(1 if failures else 0)
