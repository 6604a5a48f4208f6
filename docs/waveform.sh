#!/usr/bin/env bash
# Makes docs/waveform.png: GTKWave under Xvfb showing the simulator's
# waveform of a short run on the built-in card's library path, the bridge
# set-up sequence above and one programmed byte below. The signals are
# chosen by docs/waveform.gtkw; the time ranges are found in the run.
#   bash docs/waveform.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/install-deps.sh cmake make g++ gtkwave xvfb imagemagick python3
cmake -S . -B build/run -DCMAKE_BUILD_TYPE=Release -DSORVEL_TESTS=OFF >/dev/null
cmake --build build/run -j2 >/dev/null
work=$(mktemp -d)
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1400x420x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
cd "$work"
"$root/build/run/make_sample_bit" small.bit 8
printf '[card]\nbusy_reads = 2\nwaveform = run.vcd\n' > card.ini
KORVAN_SIM=card.ini "$root/build/run/sorvel" small.bit > /dev/null

# The set-up: from the first register write to the Read Identifier command.
# A programmed byte: from its Program set-up to the next byte's.
read -r setup_start setup_end byte_start byte_end < <(python3 - run.vcd <<'PY'
import sys
time, first, ident, programs = 0, None, None, []
for line in open(sys.argv[1]):
    if line.startswith('#'):
        time = int(line[1:])
    elif line.startswith('b') and line.rstrip().endswith(' !') and time > 0 and first is None:
        first = time
    elif line.startswith('sidentifier') and ident is None:
        ident = time
    elif line.startswith('sprogram_setup'):
        programs.append(time)
# The 17th program is the first data byte; its Program command starts just before.
print(first - 500, ident + 500, programs[16] - 1000, programs[17] - 1000)
PY
)
shot() {
  local start=$1 end=$2 out=$3
  # GTKWave's zoom is a power of two, lower is wider; -8 shows about 1.4 us
  # across 1150 pixels.
  local zoom
  zoom=$(python3 -c "import math; print('%.6f' % (-8 - math.log2(($end - $start) / 1440.0)))")
  printf '[dumpfile] "%s"\n[timestart] %s\n*%s %s\n' "$work/run.vcd" "$start" "$zoom" "$start" > view.gtkw
  cat "$root/docs/waveform.gtkw" >> view.gtkw
  DISPLAY=$display gtkwave view.gtkw >/dev/null 2>&1 &
  local viewer=$!
  sleep 4
  DISPLAY=$display import -window root "$out"
  kill $viewer
  wait $viewer 2>/dev/null || true
}
shot "$setup_start" "$setup_end" setup.png
shot "$byte_start" "$byte_end" byte.png
convert setup.png byte.png -append "$root/docs/waveform.png"
echo "docs/waveform.png"
