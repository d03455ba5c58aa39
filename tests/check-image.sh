#!/usr/bin/env bash
# check-image.sh OBJDUMP EXE WINDOWS: EXE is a 32-bit console program that
# imports only the system's own DLLs, so that it runs when copied alone, and
# whose OS and subsystem versions are WINDOWS (major.minor), the oldest
# Windows it states.
set -euo pipefail
objdump=$1 exe=$2 windows=$3
headers=$("$objdump" -p "$exe")
fail=0

grep -q 'file format pei-i386' <<<"$headers" || { echo "not a PE32 i386 image"; fail=1; }
grep -Eq '^Subsystem[[:space:]]+00000003' <<<"$headers" || { echo "not a console program"; fail=1; }

for field in OSystem Subsystem; do
    version=$(awk -v f="$field" '$1 == "Major" f "Version" { major = $2 } $1 == "Minor" f "Version" { minor = $2 }
        END { print major "." minor }' <<<"$headers")
    [ "$version" = "$windows" ] || { echo "$field version $version, not $windows"; fail=1; }
done

dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort -u)
[ -n "$dlls" ] || { echo "no imports found"; fail=1; }
for dll in $dlls; do
    case "$dll" in
    kernel32.dll | msvcrt.dll) ;;
    *) echo "imports $dll, which would have to travel with it"; fail=1 ;;
    esac
done

[ $fail -eq 0 ] && echo "PE32 console image for Windows $windows importing: $(echo $dlls)"
exit $fail
