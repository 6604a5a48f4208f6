#!/usr/bin/env bash
# Runs each fuzz target (or the one named) for SECONDS, growing a corpus in
# build/fuzz-corpus/TARGET from the seeds in fuzz/corpus/TARGET.
#   bash scripts/fuzz.sh 600            every target, ten minutes each
#   bash scripts/fuzz.sh 60 bit_header  one target
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
targets=${2:-"bit_header command_line card_file"}
bash scripts/install-deps.sh cmake make clang libclang-rt-14-dev libgtest-dev
CC=clang CXX=clang++ cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSORVEL_SANITIZE=ON -DSORVEL_FUZZ=ON >/dev/null
cmake --build build/sanitize -j2 >/dev/null
failed=0
for target in $targets; do
  corpus=build/fuzz-corpus/$target
  mkdir -p "$corpus"
  echo "== $target, ${seconds}s"
  # The summary lines only; the fuzzer's own status decides.
  if ! build/sanitize/${target}_fuzz -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="build/fuzz-corpus/$target-" "$corpus" "fuzz/corpus/$target" 2>&1 |
    { grep -E "^#[0-9]+.*DONE|^stat::|ERROR|SUMMARY|crash-|leak-" || true; }; then
    echo "== $target found a fault: build/fuzz-corpus/$target-*"
    failed=1
  fi
done
exit "$failed"
