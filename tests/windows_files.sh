#!/usr/bin/env bash
# The 32-bit Windows programs, read with objdump and windres: all PE32 (x86);
# sorvel.exe imports only system DLLs, as it binds korvan.dll at run time;
# each card library exports the nine calls under its spelling; sorvel.exe
# carries the project's version.
#   windows_files.sh OBJDUMP WINDRES BUILD_DIR KORVAN_SIM_EXPORTS VERSION
set -euo pipefail
objdump=$1 windres=$2 exports=$4 version=$5 failed=0
cd "$3"
check() {  # what, expected, actual
  [ "$2" = "$3" ] && echo "ok: $1" && return
  printf 'FAILED: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
  failed=1
}
calls="CloseCard@4 GetCardInfo@8 GetSpaceInfo@12 GetStatusString@4 OpenCard@8 OpenCardByIndex@8 Read@24
  SetClockRate@20 Write@24"
spelled() {  # SPELLING [CALL LEFT OUT]: the nine names as that spelling writes them
  for call in $calls; do
    [ "$1" = stdcall-decorated ] && echo "KORVAN2_$call" || echo "KORVAN2_${call%@*}"
  done | grep -v "_${2:-none}\b" | sort | tr '\n' ' '
}
exported() { "$objdump" -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *[0-9]*\] //p' | sort | tr '\n' ' '; }

check "PE32 (x86) throughout" pei-i386 "$("$objdump" -f sorvel.exe */korvan.dll korvan.dll | sed -n 's/.*file format //p' | sort -u)"
check "sorvel.exe imports" "kernel32.dll msvcrt.dll " \
  "$("$objdump" -p sorvel.exe | awk '/^\tDLL Name: / { print tolower($3) }' | sort -u | tr '\n' ' ')"
check "korvan.dll ($exports)" "$(spelled "$exports")" "$(exported korvan.dll)"
for folder in exports-*; do
  check "$folder/korvan.dll" "$(spelled "${folder#exports-}")" "$(exported "$folder/korvan.dll")"
done
check "probe-no-write/korvan.dll" "$(spelled cdecl Write)" "$(exported probe-no-write/korvan.dll)"
check "sorvel.exe's version" "VALUE \"FileVersion\", \"$version\"" \
  "$("$windres" -i sorvel.exe -O rc | grep -o 'VALUE "FileVersion", "[^"]*"')"
exit "$failed"
