#!/usr/bin/env bash
# check-image.sh OBJDUMP EXE: EXE is a 32-bit console program that imports
# only the system's own DLLs, so that it runs when copied alone.
set -euo pipefail
objdump=$1 exe=$2
headers=$("$objdump" -p "$exe")
fail=0

grep -q 'file format pei-i386' <<<"$headers" || { echo "not a PE32 i386 image"; fail=1; }
grep -Eq '^Subsystem[[:space:]]+00000003' <<<"$headers" || { echo "not a console program"; fail=1; }

dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort -u)
[ -n "$dlls" ] || { echo "no imports found"; fail=1; }
for dll in $dlls; do
    case "$dll" in
    kernel32.dll | msvcrt.dll) ;;
    *) echo "imports $dll, which would have to travel with it"; fail=1 ;;
    esac
done

[ $fail -eq 0 ] && echo "PE32 console image importing: $(echo $dlls)"
exit $fail
