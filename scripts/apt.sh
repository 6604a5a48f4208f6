# The project's apt steps, sourced by install-deps.sh and setup-i386.sh.
# A package mirror can be out of step for a while (an index of the wrong
# size in the middle of a sync, one architecture's packages newer than the
# other's): an update is tried again and a failed index does not stop the
# install; an install that cannot be resolved is tried once more with the
# release's own suite preferred; one that still fails says so in a short
# paragraph and returns non-zero. Nothing here ends the caller under set -e.
#
#   apt_install PACKAGE ...            installs those of them that are missing
#   apt_install -t SUITE PACKAGE ...   installs or upgrades them from SUITE
#
# SORVEL_APT_DELAY: seconds between update tries (default 5).
# SORVEL_APT_FAILURES: a file that collects the paragraph of every failed
# install, for the caller to show again and fail on at the end.
# SORVEL_OS_RELEASE: the os-release file to take the release's codename from.

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Up to three tries; lists that still fail stay as apt had them.
apt_update() {
  local try log
  log=$(mktemp)
  for try in 1 2 3; do
    if as_root apt-get update -qq >/dev/null 2>"$log"; then
      rm -f "$log"
      return 0
    fi
    [ "$try" -eq 3 ] || sleep "${SORVEL_APT_DELAY:-5}"
  done
  echo "apt-get update failed 3 times ($(apt_last_error "$log")); going on with the package lists apt has."
  rm -f "$log"
}

apt_last_error() {  # LOG
  grep '^E: ' "$1" | tail -n 1 || true
}

apt_get_install() {  # LOG ARGUMENT ...
  local log=$1
  shift
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "$@" >/dev/null 2>"$log"
}

apt_install() {
  local suite=() package missing=() codename log
  if [ "${1:-}" = -t ]; then
    suite=(-t "$2")
    shift 2
  fi
  for package in "$@"; do
    [ ${#suite[@]} -eq 0 ] && dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  log=$(mktemp)
  if [[ " ${missing[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386 || true
  fi
  apt_update
  if apt_get_install "$log" "${suite[@]}" "${missing[@]}"; then
    rm -f "$log"
    return 0
  fi
  codename=$(. "${SORVEL_OS_RELEASE:-/etc/os-release}" && echo "${VERSION_CODENAME:-}") || codename=""
  if [ ${#suite[@]} -eq 0 ] && [ -n "$codename" ]; then
    echo "Not resolved ($(apt_last_error "$log")): tried again with $codename's own packages preferred."
    if apt_get_install "$log" -t "$codename" "${missing[@]}"; then
      rm -f "$log"
      return 0
    fi
  fi
  local paragraph
  paragraph="*** These packages could not be installed: ${missing[*]}
    apt-get said: $(apt_last_error "$log")
    The package mirror may be in the middle of a sync: trying again later may help."
  rm -f "$log"
  echo "$paragraph" >&2
  [ -n "${SORVEL_APT_FAILURES:-}" ] && echo "$paragraph" >>"$SORVEL_APT_FAILURES"
  return 1
}
