#!/usr/bin/env bash
# The sample's whole run on the library path with `flash_image` set, before
# and after a change, in one run: the revision BEFORE (default HEAD~1) is
# built in a worktree of its own beside the working tree, both in Release;
# five runs of each, alternating, and the medians.
#   bash bench/image.sh [BEFORE]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
before=${1:-HEAD~1}
bash scripts/install-deps.sh cmake make g++ time
work=$(mktemp -d)
export SORVEL_LOCK="$work/host.lock"  # a lock of its own: never refused by a suite beside it
trap 'git -C "$root" worktree remove --force "$work/before" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
git worktree add -q --detach "$work/before" "$before"
for tree in before after; do
  source=$root
  [ $tree = before ] && source=$work/before
  cmake -S "$source" -B "$work/build-$tree" -DCMAKE_BUILD_TYPE=Release -DSORVEL_TESTS=OFF >/dev/null
  cmake --build "$work/build-$tree" -j2 >/dev/null
done
cd "$work"
cp build-after/sample.bit .
printf '[card]\nflash_image = image.bin\n' > card.ini
for k in 1 2 3 4 5; do
  for tree in before after; do
    rm -f image.bin
    KORVAN_SIM=card.ini /usr/bin/time -f "%e" -a -o "$tree.times" "build-$tree/sorvel" sample.bit > "$tree.out"
    grep -q "^Verifying Flash" "$tree.out" || { echo "$tree run failed"; exit 1; }
  done
done
median() { sort -n "$1" | sed -n 3p; }
echo "| build | wall s, median of 5 | runs |"
echo "|---|---|---|"
echo "| before ($(git -C "$root" rev-parse --short "$before")) | $(median before.times) | $(tr '\n' ' ' < before.times)|"
echo "| after (working tree) | $(median after.times) | $(tr '\n' ' ' < after.times)|"
