#!/usr/bin/env bash
# The collection run by ansible-playbook against this build (BUILD_DIR: sorvel, libkorvan.so, sample.bit) and a
# simulated host of four cards; then built, installed into a folder of its own and run from there once.
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
collection=$(cd "$here/../../../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/sample.bit" "$work/x.bit"
cat >"$work/first.ini" <<CARDS
[card]
flash_image = c0.bin
CARDS
(cd "$work" && KORVAN_SIM=first.ini SORVEL_LOCK="$work/host.lock" "$build/sorvel" +fast x.bit >/dev/null)
ANSIBLE_COLLECTIONS_PATH=$(cd "$collection/../../.." && pwd)
export ANSIBLE_COLLECTIONS_PATH ANSIBLE_LOCALHOST_WARNING=false
export ANSIBLE_INVENTORY_UNPARSED_WARNING=false ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3
play() { ansible-playbook -i localhost, -c local -e "work=$work sorvel=$build/sorvel" "$@"; }
play "$here/cards.yml"
# A holder of the host lock that is not sorvel: the update is refused, then waits it out.
timeout 120 flock -x "$work/host.lock" sh -c "until [ -e '$work/released' ]; do sleep 0.1; done" &
play "$here/busy.yml"
wait
ansible-galaxy collection build "$collection" --output-path "$work" >/dev/null
ansible-galaxy collection install "$work/sorvel-cards-1.0.0.tar.gz" -p "$work/installed" >/dev/null 2>&1
cp "$here/installed.yml" "$work"  # outside the checkout's collection, which a playbook inside it would use
ANSIBLE_COLLECTIONS_PATH=$work/installed play "$work/installed.yml"
