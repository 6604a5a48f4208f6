# Sourced: a fresh 32-bit Wine prefix (WINEARCH=win32), quiet and without
# prompts, its server up before the first test and stopped when the shell
# exits.
export WINEARCH=win32
export WINEPREFIX="${WINEPREFIX:-$(mktemp -d /tmp/sorvel-wine.XXXXXX)}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -p
wine cmd /c exit >/dev/null 2>&1 || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
