#!/usr/bin/env bash
# The apt steps of scripts/ against stand-ins for apt-get, dpkg, sudo and id
# (a user who is not root), first on the PATH: each case's calls as recorded.
set -euo pipefail
scripts=$(realpath "$(dirname "$0")/../scripts")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
cd "$work"
stand_in() { printf '#!/usr/bin/env bash\n%s\n' "$2" >"bin/$1" && chmod +x "bin/$1"; }
stand_in id 'echo 1000'
stand_in sudo 'SUDO=1 exec "$@"'
stand_in dpkg '[ "$1" = --add-architecture ] && echo "${SUDO:+root: }dpkg $*" >>"$CALLS"; [ "$1" != -s ]'
# FAKE_UPDATE_FAILS: how many updates fail; FAKE_INSTALL: ok, with-t (only with -t) or never.
stand_in apt-get 'echo "${SUDO:+root: }apt-get $*" >>"$CALLS"
if [ "$1" = update ]; then
  n=$(($(cat updates 2>/dev/null || echo 0) + 1)); echo $n >updates
  [ $n -gt "$FAKE_UPDATE_FAILS" ] || { echo "E: Some index files failed to download." >&2; exit 100; }
elif [ "$FAKE_INSTALL" = never ] || { [ "$FAKE_INSTALL" = with-t ] && [[ " $* " != *" -t "* ]]; }; then
  echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100
fi'
echo VERSION_CODENAME=testrelease >os-release
install="root: apt-get install -y -qq --no-install-recommends"
update="root: apt-get update -qq"
failures=0
# NAME UPDATE_FAILS INSTALL EXPECTED_STATUS EXPECTED_CALLS EXPECTED_OUTPUT
check() {
  rm -f calls updates failures.txt
  local status=0
  CALLS=$PWD/calls FAKE_UPDATE_FAILS=$2 FAKE_INSTALL=$3 SORVEL_APT_DELAY=0 SORVEL_OS_RELEASE=$PWD/os-release \
    SORVEL_APT_FAILURES=$PWD/failures.txt PATH="$PWD/bin:$PATH" \
    bash "$scripts/install-deps.sh" wine wine32:i386 >out.txt 2>&1 || status=$?
  if [ "$status" != "$4" ] || [ "$(cat calls)" != "$5" ] || ! grep -qF -- "$6" out.txt; then
    echo "$1: exit $status (expected $4); calls:"
    cat calls
    echo "output:"
    cat out.txt
    failures=$((failures + 1))
  fi
}
arch="root: dpkg --add-architecture i386"
check update_fails_once 1 ok 0 "$arch
$update
$update
$install wine wine32:i386" "Installing: wine wine32:i386"
check update_always_fails 99 ok 0 "$arch
$update
$update
$update
$install wine wine32:i386" "apt-get update failed 3 times (E: Some index files failed to download.); going on"
check resolves_with_the_release 0 with-t 0 "$arch
$update
$install wine wine32:i386
$install -t testrelease wine wine32:i386" "tried again with testrelease's own packages preferred"
paragraph="*** These packages could not be installed: wine wine32:i386
    apt-get said: E: Unable to correct problems, you have held broken packages.
    The package mirror may be in the middle of a sync: trying again later may help."
check never_resolves 0 never 1 "$arch
$update
$install wine wine32:i386
$install -t testrelease wine wine32:i386" "$paragraph"
[ "$(cat failures.txt 2>/dev/null)" = "$paragraph" ] || { echo "never_resolves: SORVEL_APT_FAILURES holds:"; cat failures.txt; failures=$((failures + 1)); }
[ "$failures" = 0 ] || exit 1
echo "4 apt cases as expected"
