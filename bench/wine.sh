#!/usr/bin/env bash
# The 32-bit Windows build under 32-bit Wine: one caught mapped access
# against a bare access-violation round trip in the same process, and the
# sample's whole run on the library path, built from BEFORE and from the
# working tree, 9 runs of each alternating (bench/pair.sh). Prints a Markdown
# report; BENCHMARKS.md explains it. Where 32-bit programs run only under
# qemu-user, the figures are marked as emulated, and the caught access,
# which needs real access violations, is not measured.
#   bash bench/wine.sh [BEFORE]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/install-deps.sh cmake make g++-mingw-w64-i686-posix wine wine32:i386 time g++-multilib
bash scripts/setup-i386.sh
mode=$(bash scripts/setup-i386.sh --mode)
source scripts/wine-env.sh
cmake -S . -B build/bench-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DCMAKE_BUILD_TYPE=Release \
  -DSORVEL_TESTS=OFF >/dev/null
cmake --build build/bench-windows -j2 >/dev/null
bin=$root/build/bench-windows
work=$(mktemp -d)
export SORVEL_LOCK="$work/host.lock"  # a lock of its own: never refused by a suite beside it
trap 'rm -rf "$work"; wineserver -k >/dev/null 2>&1 || true' EXIT
cd "$work"
cp "$bin/sorvel.exe" "$bin/korvan.dll" "$bin/wine_access.exe" "$bin/sample.bit" .
printf '[card]\nwindow = full\nbusy_reads = 0\n' > map.ini

if [ "$mode" = emulated ]; then
  where="EMULATED: 32-bit Wine under $(qemu-i386-static --version | head -n 1), not comparable with native figures"
  access="not measured: under qemu-user Wine gets no access violation, so no access can be caught"
else
  where="native 32-bit code"
  access=$(KORVAN_SIM=map.ini wine wine_access.exe 20000 | tr -d '\r')
fi
cat <<REPORT
## 32-bit Windows build under 32-bit Wine ($(wine --version); $where)

The sample (707916 data bytes), library path, built-in card; the floor of its pauses is 0.65 s:

$(bash "$root/bench/pair.sh" windows "${1:-HEAD~1}" 9)

One 16-bit store, 20000 of each, in one process:

\`\`\`
$access
\`\`\`
REPORT
