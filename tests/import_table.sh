#!/usr/bin/env bash
# The 32-bit Windows programs, read with objdump: sorvel.exe and korvan.dll
# are PE32 (x86), and sorvel.exe imports exactly the nine card-access calls,
# by their plain names, from korvan.dll, and otherwise only system DLLs.
#   import_table.sh OBJDUMP sorvel.exe korvan.dll
set -euo pipefail
objdump=$1 exe=$2 dll=$3
status=0
for file in "$exe" "$dll"; do
  format=$("$objdump" -f "$file" | sed -n 's/.*file format //p')
  if [ "$format" != pei-i386 ]; then
    echo "$file: file format $format, not pei-i386"
    status=1
  fi
done

# "DLL Name: X" opens a DLL's imports; each import is a line of hint and name.
imports=$("$objdump" -p "$exe" | awk '
  /^\tDLL Name: / { dll = $3; next }
  /^\t[0-9a-f]+\t +[0-9]+ +[^ ]+$/ && dll != "" { print dll, $3 }
  /^$/ { if (dll != "") dll = "" }')
korvan=$(awk '$1 == "korvan.dll" { print $2 }' <<<"$imports" | sort)
expected=$(printf '%s\n' KORVAN2_CloseCard KORVAN2_GetCardInfo KORVAN2_GetSpaceInfo KORVAN2_GetStatusString \
  KORVAN2_OpenCard KORVAN2_OpenCardByIndex KORVAN2_Read KORVAN2_SetClockRate KORVAN2_Write)
if [ "$korvan" != "$expected" ]; then
  echo "imports from korvan.dll:"
  echo "$korvan"
  echo "expected the nine plain names:"
  echo "$expected"
  status=1
fi
others=$(awk '{ print $1 }' <<<"$imports" | sort -u | grep -vix -e korvan.dll -e kernel32.dll -e msvcrt.dll || true)
if [ -n "$others" ]; then
  echo "imports from DLLs that are not the system's: $others"
  status=1
fi
[ $status -eq 0 ] && echo "PE32, nine plain imports from korvan.dll, system DLLs otherwise"
exit $status
