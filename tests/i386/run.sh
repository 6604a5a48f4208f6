#!/usr/bin/env bash
# Builds tests/i386/binding_check.cpp with the utility's binding for 32-bit
# x86 and runs it, under qemu-i386 on a machine that runs no 32-bit code.
#   run.sh SOURCE_DIR WORK_DIR
set -euo pipefail
src=$1 work=$2
mkdir -p "$work"
g++ -m32 -O2 -fomit-frame-pointer -std=c++17 -Wall -Wextra -Werror -I"$src/src" -I"$src/include" \
  "$src/tests/i386/binding_check.cpp" "$src/src/board/korvan_library.cpp" "$src/src/board/korvan_call_i386.S" \
  -o "$work/binding_check"
qemu-i386-static "$work/binding_check"
