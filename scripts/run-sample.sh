#!/usr/bin/env bash
# Builds sorvel and the simulated card library, then programs the sample
# bitstream into the simulator's built-in card and shows the whole output.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh cmake make g++
cmake -S . -B build/run -DCMAKE_BUILD_TYPE=Release -DSORVEL_TESTS=OFF >/dev/null
cmake --build build/run -j2 >/dev/null
cd build/run
unset KORVAN_SIM
status=0
./sorvel sample.bit || status=$?
echo "exit status: $status"
exit "$status"
