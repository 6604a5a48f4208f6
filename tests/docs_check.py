#!/usr/bin/env python3
"""The documentation against the code: every relative link of README.md and
docs/ names a file that exists, every option of the usage text has its line
in docs/usage.md, every folder that holds source files is named on
docs/layout.md, and the collection's version is the utility's as SemVer.
    docs_check.py ROOT SORVEL"""
import os
import re
import subprocess
import sys

ROOT, SORVEL = sys.argv[1], sys.argv[2]
SOURCES = (".c", ".cpp", ".h", ".S", ".py", ".sh", ".cmake")
failures = []


def text(name):
    with open(os.path.join(ROOT, name), encoding="utf-8") as f:
        return f.read()


pages = ["README.md"] + ["docs/" + n for n in sorted(os.listdir(os.path.join(ROOT, "docs"))) if n.endswith(".md")]
for page in pages:
    for target in re.findall(r"\]\(([^)\s]+)\)", text(page)):
        path = target.split("#")[0]
        if path and not re.match(r"[a-z]+:", path) and not os.path.exists(
                os.path.join(ROOT, os.path.dirname(page), path)):
            failures.append(f"{page}: the link {target} names no file")

usage = subprocess.run([SORVEL, "/?"], stdout=subprocess.PIPE, text=True).stdout
options = re.findall(r"^\s+(?:-/\+|/)(\w+)\s+(?:boolean|uint|string)", usage, re.M)
described = text("docs/usage.md")
for option in options:
    if not re.search(r"^\s+[-/+]%s\b" % option, described, re.M):
        failures.append(f"docs/usage.md: the option {option} has no line of its own")
if len(options) < 10:
    failures.append(f"the usage text gave {len(options)} options")

listed = set(re.findall(r"^\| ([\w./-]+) \|", text("docs/layout.md"), re.M))
files = subprocess.run(["git", "-C", ROOT, "ls-files"], stdout=subprocess.PIPE, text=True).stdout.split()
folders = {os.path.dirname(f) for f in files if f.endswith(SOURCES) and os.path.dirname(f)}
for folder in sorted(folders - listed):
    failures.append(f"docs/layout.md: the folder {folder} is not named")

project = re.search(r"project\(sorvel VERSION ([0-9.]+)", text("CMakeLists.txt")).group(1)
galaxy = re.search(r"^version: (\S+)$", text("ansible/ansible_collections/sorvel/cards/galaxy.yml"), re.M).group(1)
if galaxy != ".".join((project.split(".") + ["0", "0"])[:3]):
    failures.append(f"galaxy.yml: version {galaxy} is not the utility's {project}")

for failure in failures:
    print("FAILED:", failure)
print(f"{0 if failures else 1} passed, {1 if failures else 0} failed")
sys.exit(1 if failures else 0)
