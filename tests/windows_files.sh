#!/usr/bin/env bash
# The 32-bit Windows programs, read with objdump and windres: every program
# and library is PE32 (x86); sorvel.exe imports only system DLLs, as it
# binds korvan.dll at run time; each card library of the build exports the
# nine calls under its own spelling; sorvel.exe carries its version.
#   windows_files.sh OBJDUMP WINDRES BUILD_DIR KORVAN_SIM_EXPORTS VERSION
set -euo pipefail
objdump=$1 windres=$2 build=$3 exports=$4 version=$5
cd "$build"
failed=0
check() {  # what, expected, actual
  if [ "$2" = "$3" ]; then echo "ok: $1"; else printf 'FAILED: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"; failed=1; fi
}

formats=$("$objdump" -f sorvel.exe */korvan.dll korvan.dll | sed -n 's/.*file format //p' | sort -u)
check "every program and library is PE32 (x86)" pei-i386 "$formats"
dlls=$("$objdump" -p sorvel.exe | awk '/^\tDLL Name: / { print tolower($3) }' | sort -u | tr '\n' ' ')
check "sorvel.exe imports from the system alone" "kernel32.dll msvcrt.dll " "$dlls"

calls="CloseCard:4 GetCardInfo:8 GetSpaceInfo:12 GetStatusString:4 OpenCard:8 OpenCardByIndex:8 Read:24
SetClockRate:20 Write:24"
spelled() {  # SPELLING [LEFT_OUT]: the nine names as that spelling writes them
  for call in $calls; do
    name=KORVAN2_${call%%:*} bytes=${call##*:}
    [ "${call%%:*}" = "${2:-}" ] && continue
    case $1 in
    plain) echo "$name" ;;
    decorated) echo "$name@$bytes" ;;
    underscored) echo "_$name@$bytes" ;;
    esac
  done | sort | tr '\n' ' '
}
exported() {
  "$objdump" -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^\t\[/ { print $3 }' | sort | tr '\n' ' '
}
spelling_of() { [ "$1" = stdcall-decorated ] && echo decorated || echo plain; }
check "korvan.dll ($exports)" "$(spelled "$(spelling_of "$exports")")" "$(exported korvan.dll)"
for folder in exports-*; do
  check "$folder/korvan.dll" "$(spelled "$(spelling_of "${folder#exports-}")")" "$(exported "$folder/korvan.dll")"
done
check "probe/korvan.dll" "$(spelled underscored)" "$(exported probe/korvan.dll)"
check "probe-no-write/korvan.dll" "$(spelled plain Write)" "$(exported probe-no-write/korvan.dll)"

check "sorvel.exe's version" "VALUE \"FileVersion\", \"$version\"" \
  "$("$windres" -i sorvel.exe -O rc | grep -o 'VALUE "FileVersion", "[^"]*"')"
exit "$failed"
