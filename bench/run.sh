#!/usr/bin/env bash
# The whole-run benchmark: programs the sample bitstream (707,916 data bytes)
# into the simulator's built-in card on the library path, and a 64 KiB
# bitstream on the mapped path (window = full), then runs the micro
# benchmarks. Prints a Markdown report; BENCHMARKS.md explains it.
#   bash bench/run.sh            everything (the mapped run takes minutes)
#   bash bench/run.sh --quick    the mapped run with 4 KiB instead of 64 KiB
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
mapped_bytes=65536
[ "${1:-}" = "--quick" ] && mapped_bytes=4096

bash scripts/install-deps.sh cmake make g++ libbenchmark-dev time strace valgrind
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DSORVEL_TESTS=OFF -DSORVEL_BENCH=ON >/dev/null
cmake --build build/bench -j2 >/dev/null
bin=$root/build/bench
work=$(mktemp -d)
export SORVEL_LOCK="$work/host.lock"  # a lock of its own: never refused by a suite beside it
trap 'rm -rf "$work"' EXIT
cd "$work"
cp "$bin/sample.bit" sample.bit
"$bin/make_sample_bit" tiny.bit 8
"$bin/make_sample_bit" mapped.bit "$mapped_bytes"

# timed NAME CARDFILE BIT [OPTION]: one run; "wall user sys maxrss_kb" into NAME.time,
# the simulator's counts into NAME.stats when the card file names them.
timed() {
  local name=$1 card=$2 bit=$3
  if [ -n "$card" ]; then export KORVAN_SIM=$card; else unset KORVAN_SIM; fi
  /usr/bin/time -f "%e %U %S %M" -o "$name.time" "$bin/sorvel" ${4:+"$4"} "$bit" > "$name.out"
  unset KORVAN_SIM
  grep -q "^Verifying Flash" "$name.out" || { echo "run $name failed"; cat "$name.out"; exit 1; }
}
stat_of() { awk -v k="$2" '$1 == k { print $2 }' "$1"; }
accesses() { echo $(( $(stat_of "$1" reads_lib) + $(stat_of "$1" writes_lib) + $(stat_of "$1" reads_map) + $(stat_of "$1" writes_map) )); }

printf '[card]\nbusy_reads = 0\nstats = lib.stats\n' > lib.ini
printf '[card]\nbusy_reads = 0\nstats = lib0.stats\n' > lib0.ini
printf '[card]\nbusy_reads = 0\nstats = fast.stats\n' > fast.ini
printf '[card]\nwindow = full\nbusy_reads = 0\nstats = map.stats\n' > map.ini
printf '[card]\nwindow = full\nbusy_reads = 0\nstats = map0.stats\n' > map0.ini

# Library path: the built-in card (busy_reads = 1), five runs, the median.
for k in 1 2 3 4 5; do timed "lib-run$k" "" sample.bit; done
median=$(for k in 1 2 3 4 5; do cat "lib-run$k.time"; done | sort -n | sed -n 3p)
read -r lib_wall lib_user lib_sys lib_rss <<< "$median"
timed lib lib.ini sample.bit
# +fast on the built-in card (busy_reads = 1), five runs, the median; and its counts.
for k in 1 2 3 4 5; do timed "fast-run$k" "" sample.bit +fast; done
read -r fast_wall fast_user _ _ <<< "$(for k in 1 2 3 4 5; do cat "fast-run$k.time"; done | sort -n | sed -n 3p)"
timed fast fast.ini sample.bit +fast
timed lib0 lib0.ini tiny.bit
lib_per_byte=$(awk -v a="$(accesses lib.stats)" -v b="$(accesses lib0.stats)" 'BEGIN { printf "%.3f", (a - b) / (707916 - 8) }')

# Mapped path: one run of the smaller file, and the 8-byte baseline.
timed map map.ini mapped.bit
timed map0 map0.ini tiny.bit
read -r map_wall map_user map_sys map_rss < map.time
read -r map0_wall _ _ _ < map0.time
map_per_byte=$(awk -v a="$(accesses map.stats)" -v b="$(accesses map0.stats)" -v n="$mapped_bytes" \
  'BEGIN { printf "%.3f", (a - b) / (n - 8) }')
map_ns=$(awk -v w="$map_wall" -v w0="$map0_wall" -v a="$(accesses map.stats)" -v b="$(accesses map0.stats)" \
  'BEGIN { printf "%.0f", (w - w0) * 1e9 / (a - b) }')

# The reads of the .bit file, as the system sees them.
strace -e trace=openat,read,close -o strace.txt "$bin/sorvel" sample.bit > /dev/null
bit_reads=$(awk '/openat\(.*"sample.bit"/ { fd = $NF; next }
  fd != "" && $0 ~ "^read\\(" fd "," { printf "%s ", $NF }
  fd != "" && $0 ~ "^close\\(" fd "\\)" { fd = "" }' strace.txt)

# Allocations: the same count whatever the data length means none per byte.
allocs() {
  KORVAN_SIM=lib0.ini valgrind "$bin/sorvel" "$1" 2>&1 > /dev/null | sed -nE 's/.*total heap usage: ([0-9,]+) allocs.*/\1/p'
}
allocs_tiny=$(allocs tiny.bit)
allocs_mapped_file=$(allocs mapped.bit)

# The model of a real card: counts priced at assumed costs (BENCHMARKS.md),
# and the run's pauses (PAUSES s; 0.65 for a whole run, 10 ms a block erased).
model() {
  awk -v wl="$(stat_of "$1" writes_lib)" -v rl="$(stat_of "$1" reads_lib)" -v wm="$(stat_of "$1" writes_map)" \
    -v rm="$(stat_of "$1" reads_map)" -v bp="$(stat_of "$1" bytes_programmed)" -v be="$(stat_of "$1" blocks_erased)" \
    -v bf="$(stat_of "$1" buffers_programmed)" -v p="${2:-0.65}" \
    'BEGIN { printf "%.1f", wl * 1.0e-6 + rl * 2.0e-6 + wm * 0.25e-6 + rm * 1.0e-6 + bp * 210e-6 + bf * 218e-6 + be * 1.0 + p }'
}

# A card that holds the sample: compared with it (-write, one 10 ms pause),
# and backed up first (/backup, the whole Flash read, a second pause).
printf '[card]\nbusy_reads = 0\nflash_image = held.bin\n' > held.ini
KORVAN_SIM=held.ini "$bin/sorvel" sample.bit > /dev/null
printf 'stats = compare.stats\n' | cat held.ini - > compare.ini
KORVAN_SIM=compare.ini "$bin/sorvel" -write sample.bit > /dev/null
printf 'stats = backup.stats\n' | cat held.ini - > backup.ini
KORVAN_SIM=backup.ini "$bin/sorvel" /backup kept.bit -write sample.bit > /dev/null

"$bin/micro_bench" --benchmark_min_time=0.2 --benchmark_format=console > micro.txt 2>/dev/null
ns_of() { awk -v b="$1" '$1 == b { print $2 }' micro.txt; }
signal_ns=$(ns_of BM_SignalRoundTrip)
caught_ns=$(awk -v t="$(ns_of BM_PortCall/1)" 'BEGIN { printf "%.0f", t / 2 }')

floor=0.65
cat <<REPORT
## Whole runs ($(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo))

| run | data bytes | wall s | user s | sys s | peak RSS MiB | wall / 0.65 s floor | register accesses per data byte | modelled card time s |
|---|---|---|---|---|---|---|---|---|
| library path, built-in card (median of 5) | 707916 | $lib_wall | $lib_user | $lib_sys | $(awk -v k="$lib_rss" 'BEGIN { printf "%.1f", k / 1024 }') | $(awk -v w="$lib_wall" -v f=$floor 'BEGIN { printf "%.2f", w / f }') | $lib_per_byte (busy_reads = 0) | $(model lib.stats) |
| mapped path, window = full | $mapped_bytes | $map_wall | $map_user | $map_sys | $(awk -v k="$map_rss" 'BEGIN { printf "%.1f", k / 1024 }') | $(awk -v w="$map_wall" -v f=$floor 'BEGIN { printf "%.2f", w / f }') | $map_per_byte (busy_reads = 0) | $(model map.stats) |

- Modelled card time of the sample on the library path: a whole run $(model lib.stats) s, a \`+fast\` run
  $(model fast.stats $(awk -v b="$(stat_of fast.stats blocks_erased)" 'BEGIN { printf "%.2f", 0.01 + b * 0.01 }')) s ($(stat_of fast.stats blocks_erased) blocks erased, $(stat_of fast.stats buffers_programmed) buffers of 32 bytes; goal at most 40 s), a compare
  (\`-write\`) $(model compare.stats 0.01) s, a backup and a compare (\`/backup F -write\`) $(model backup.stats 0.02) s
- The simulator's own wall time of the sample, median of 5: plain $lib_wall s, \`+fast\` $fast_wall s (user $fast_user s)
- Reads of the .bit file (bytes each): $bit_reads
- Heap allocations of a whole run: $allocs_tiny with 8 data bytes, $allocs_mapped_file with $mapped_bytes
- Mapped path, one caught access: $map_ns ns in the whole run, $caught_ns ns in the micro benchmark;
  a bare signal round trip: $signal_ns ns; ratio $(awk -v c="$caught_ns" -v s="$signal_ns" 'BEGIN { printf "%.2f", c / s }')

## Micro benchmarks

\`\`\`
$(cat micro.txt)
\`\`\`
REPORT
