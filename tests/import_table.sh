#!/usr/bin/env bash
# The 32-bit Windows programs, read with objdump: sorvel.exe and korvan.dll
# are PE32 (x86), and sorvel.exe imports exactly the nine card-access calls,
# by their plain names, from korvan.dll, and otherwise only system DLLs.
#   import_table.sh OBJDUMP sorvel.exe korvan.dll
set -euo pipefail
formats=$("$1" -f "$2" "$3" | sed -n 's/.*file format //p' | sort -u)
# "DLL Name: X" opens a DLL's imports; each import is a line of hint and name.
imports=$("$1" -p "$2" | awk '/^\tDLL Name: / { dll = $3; next } /^$/ { dll = "" }
  dll != "" && /^\t[0-9a-f]+\t +[0-9]+ +[^ ]+$/ { print dll, $3 }')
korvan=$(awk '$1 == "korvan.dll" { print $2 }' <<<"$imports" | sort | tr '\n' ' ')
others=$(awk '{ print $1 }' <<<"$imports" | sort -u | grep -vix -e korvan.dll -e kernel32.dll -e msvcrt.dll || true)
expected="KORVAN2_CloseCard KORVAN2_GetCardInfo KORVAN2_GetSpaceInfo KORVAN2_GetStatusString KORVAN2_OpenCard \
KORVAN2_OpenCardByIndex KORVAN2_Read KORVAN2_SetClockRate KORVAN2_Write "
echo "formats: $formats"
echo "from korvan.dll: $korvan"
echo "from other DLLs that are not the system's: ${others:-none}"
[ "$formats" = pei-i386 ] && [ "$korvan" = "$expected" ] && [ -z "$others" ]
