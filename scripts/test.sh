#!/usr/bin/env bash
# Builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh cmake make g++ libgtest-dev libgmock-dev
cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORVEL_WERROR=ON >/dev/null
cmake --build build/linux -j2
(cd build/linux && ctest -j2 --output-on-failure)
