#!/usr/bin/env bash
# The 32-bit Windows build under 32-bit Wine: one caught mapped access
# against a bare access-violation round trip in the same process, and the
# sample's whole run on the library path (median of 5) against the 0.65 s
# floor of its pauses. Prints a Markdown report; BENCHMARKS.md explains it.
#   bash bench/wine.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/install-deps.sh cmake make g++-mingw-w64-i686-posix wine wine32:i386 time
source scripts/wine-env.sh
cmake -S . -B build/bench-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DCMAKE_BUILD_TYPE=Release \
  -DSORVEL_TESTS=OFF >/dev/null
cmake --build build/bench-windows -j2 >/dev/null
bin=$root/build/bench-windows
work=$(mktemp -d)
trap 'rm -rf "$work"; wineserver -k >/dev/null 2>&1 || true' EXIT
cd "$work"
cp "$bin/sorvel.exe" "$bin/korvan.dll" "$bin/wine_access.exe" "$bin/sample.bit" .
printf '[card]\nwindow = full\nbusy_reads = 0\n' > map.ini

access=$(KORVAN_SIM=map.ini wine wine_access.exe 20000 | tr -d '\r')
for k in 1 2 3 4 5; do
  /usr/bin/time -f "%e" -o "run$k.time" wine sorvel.exe sample.bit > "run$k.out"
  grep -q "^Verifying Flash" "run$k.out" || { echo "run $k failed"; exit 1; }
done
wall=$(cat run*.time | sort -n | sed -n 3p)
cat <<REPORT
## 32-bit Windows build under 32-bit Wine ($(wine --version))

| run | wall s | wall / 0.65 s floor |
|---|---|---|
| sample (707916 data bytes), library path, built-in card, median of 5 | $wall | $(awk -v w="$wall" 'BEGIN { printf "%.2f", w / 0.65 }') |

One 16-bit store, 20000 of each, in one process:

\`\`\`
$access
\`\`\`
REPORT
