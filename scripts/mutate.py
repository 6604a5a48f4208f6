#!/usr/bin/env python3
"""Mutation testing of the utility (src/) and of the simulator's bridge and
Flash models: from a seed, single-line mutants are drawn, each one built and
run against the Linux suite, and the file restored.

    python3 scripts/mutate.py --seed 1 --count 80
    python3 scripts/mutate.py --seed 1 --count 40 --files src/main/host_view.cpp src/main/host_lock.cpp

For each mutant it prints one line (killed, survived, or does not compile),
then the score: killed / (killed + survived) over the mutants that compiled.
With --recheck LOG (the output of an earlier run of the same seed over the
same code) only the mutants that survived there are built and run again.
--count is the number of compiling mutants wanted. --files draws them from
the files named only (paths from the top of the checkout). The suite leaves out the
cases that take over 10 s (measured once, on the unmutated tree) and runs
with the pauses of the utility shortened to nothing (a preloaded
nanosleep in the utility's own processes), so that a mutant takes seconds;
no test times anything.
"""
import argparse
import os
import random
import re
import signal
import subprocess
import sys
import xml.etree.ElementTree as ET

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "mutate")
MODELS = ["sim/models/bridge_model.h", "sim/models/bridge_model.cpp",
          "sim/models/flash_model.h", "sim/models/flash_model.cpp"]
SLOW_SECONDS = 10.0
SUITE_TIMEOUT = 120  # a mutant that hangs the suite is killed

NO_SLEEP = r"""
#define _GNU_SOURCE
#include <errno.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
/* Only the utility's own pauses: the tests' shell scripts still wait. */
int nanosleep(const struct timespec *req, struct timespec *rem) {
  if (strstr(program_invocation_short_name, "sorvel") != NULL) return 0;
  return (int)syscall(SYS_nanosleep, req, rem);
}
"""

SWAPS = [(" <= ", " < "), (" < ", " <= "), (" >= ", " > "), (" > ", " >= "), (" == ", " != "),
         (" != ", " == "), (" && ", " || "), (" || ", " && "), (" + ", " - "), (" - ", " + "),
         ("true", "false"), ("false", "true")]
NUMBER = re.compile(r"(?<![\w.])(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.])")
CALL = re.compile(r"^\s*(\(void\)\s*)?[A-Za-z_][\w:]*(\.|->)?[\w:]*\(.*\);\s*$")
NOT_CALLS = ("return", "if", "for", "while", "switch", "case", "delete", "throw")


def files():
    out = []
    for base, _, names in os.walk(os.path.join(ROOT, "src")):
        out += [os.path.relpath(os.path.join(base, n), ROOT) for n in names if n.endswith((".cpp", ".h"))]
    return sorted(out) + MODELS


def masked(line):
    """The line with its comment cut and its literals blanked."""
    line = re.sub(r'"(\\.|[^"\\])*"', lambda m: '"' + " " * (len(m.group(0)) - 2) + '"', line)
    line = re.sub(r"'(\\.|[^'\\])'", lambda m: "'" + " " * (len(m.group(0)) - 2) + "'", line)
    cut = line.find("//")
    return line if cut < 0 else line[:cut]


def sites_of(path):
    """Every (path, line index, column, old, new) of one file."""
    out = []
    with open(os.path.join(ROOT, path)) as f:
        lines = f.read().split("\n")
    for k, line in enumerate(lines):
        code = masked(line)
        stripped = code.strip()
        if not stripped or stripped.startswith(("#", "static_assert", "* ", "*/", "/*", "namespace")):
            continue
        for old, new in SWAPS:
            if old.strip().isalpha():
                for m in re.finditer(r"\b%s\b" % old, code):
                    out.append((path, k, m.start(), old, new))
                continue
            start = code.find(old)
            while start >= 0:
                out.append((path, k, start, old, new))
                start = code.find(old, start + 1)
        for m in NUMBER.finditer(code):
            text = m.group(1)
            value = int(text, 16 if text[:2].lower() == "0x" else 10)
            for changed in (value + 1, value - 1):
                if changed < 0:
                    continue
                shown = hex(changed) if text[:2].lower() == "0x" else str(changed)
                out.append((path, k, m.start(1), text, shown))
        if CALL.match(code) and not stripped.startswith(NOT_CALLS) and "=" not in code.split("(")[0]:
            out.append((path, k, 0, line, ";  // dropped"))
    return out


def apply(site):
    path, k, col, old, new = site
    full = os.path.join(ROOT, path)
    with open(full) as f:
        original = f.read()
    lines = original.split("\n")
    if new == ";  // dropped":
        indent = len(lines[k]) - len(lines[k].lstrip())
        lines[k] = " " * indent + new
    else:
        lines[k] = lines[k][:col] + new + lines[k][col + len(old):]
    with open(full, "w") as f:
        f.write("\n".join(lines))
    return original


def run(command, **kwargs):
    return subprocess.run(command, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          errors="replace", **kwargs)


def build():
    return run(["cmake", "--build", BUILD, "-j2"]).returncode == 0


def suite(exclude, env):
    """True when every case passes; a suite that hangs is ended with all it started."""
    command = ["ctest", "--test-dir", BUILD, "-j2", "--stop-on-failure"]
    if exclude:
        command += ["-E", exclude]
    process = subprocess.Popen(command, cwd=ROOT, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               start_new_session=True)
    try:
        return process.wait(timeout=SUITE_TIMEOUT) == 0
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()
        return False


def slow_tests(env):
    """Names of the cases over SLOW_SECONDS, from one run of the whole suite."""
    junit = os.path.join(BUILD, "timing.xml")
    run(["ctest", "--test-dir", BUILD, "-j2", "--output-junit", junit], env=env)
    slow = []
    for case in ET.parse(junit).getroot().iter("testcase"):
        if float(case.get("time", "0")) > SLOW_SECONDS:
            slow.append(case.get("name"))
    return slow


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=80, help="compiling mutants to run")
    parser.add_argument("--recheck", help="an earlier run's output: run only its survivors again")
    parser.add_argument("--files", nargs="+", help="mutate these files only")
    args = parser.parse_args()
    for path in args.files or []:
        if not os.path.isfile(os.path.join(ROOT, path)):
            sys.exit("%s: no such file" % path)
    mutated = args.files or ["src"] + MODELS
    if run(["git", "diff", "--quiet", "--"] + mutated).returncode != 0:
        sys.exit("src/ or the models have changes of their own: commit or restore them first")
    # Ended from outside, the mutant is still restored (the finally below).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("ended"))

    run(["cmake", "-S", ROOT, "-B", BUILD, "-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_CXX_FLAGS_RELEASE=-O1",
         "-DSORVEL_WERROR=OFF"], check=True)
    if not build():
        sys.exit("the unmutated tree does not build")
    shim = os.path.join(BUILD, "no_sleep.so")
    with open(os.path.join(BUILD, "no_sleep.c"), "w") as f:
        f.write(NO_SLEEP)
    run(["cc", "-shared", "-fPIC", "-o", shim, os.path.join(BUILD, "no_sleep.c")], check=True)
    env = dict(os.environ, LD_PRELOAD=shim)
    slow = slow_tests(env)
    exclude = "|".join(re.escape(name) for name in slow)
    print("left out (over %.0f s): %s" % (SLOW_SECONDS, ", ".join(slow) or "none"), flush=True)
    if not suite(exclude, env):
        sys.exit("the suite fails on the unmutated tree")

    sites = [s for path in (args.files or files()) for s in sites_of(path)]
    random.Random(args.seed).shuffle(sites)
    earlier = []
    if args.recheck:
        with open(args.recheck) as f:
            earlier = [line.split() for line in f if re.match(r"(killed|survived|does not compile) ", line)]
    killed = survived = broken = 0
    survivors = []
    for number, site in enumerate(sites):
        if killed + survived == args.count:
            break
        path, k, _, old, new = site
        if number < len(earlier):
            was = earlier[number]
            where = was[3] if was[0] == "does" else was[1]
            if where != "%s:%d" % (path, k + 1):
                sys.exit("%s does not match this code at mutant %d" % (args.recheck, number + 1))
            if was[0] != "survived":
                killed += was[0] == "killed"
                broken += was[0] == "does"
                continue
        original = apply(site)
        try:
            if not build():
                outcome = "does not compile"
                broken += 1
            elif suite(exclude, env):
                outcome = "survived"
                survived += 1
                survivors.append(site)
            else:
                outcome = "killed"
                killed += 1
        finally:
            with open(os.path.join(ROOT, site[0]), "w") as f:
                f.write(original)
        change = "call dropped" if new.startswith(";") else "%r -> %r" % (old.strip(), new.strip())
        print("%-16s %s:%d  %s" % (outcome, path, k + 1, change), flush=True)
    build()
    total = killed + survived
    print("seed %d: %d killed, %d survived, %d did not compile; score %d/%d = %.1f%%" %
          (args.seed, killed, survived, broken, killed, total, 100.0 * killed / max(total, 1)))


if __name__ == "__main__":
    main()
