#!/usr/bin/env bash
# check-imports.sh OBJDUMP CXX WINNT EXE: every function EXE imports from
# KERNEL32.dll exists on the oldest Windows the program states, WINNT (a
# _WIN32_WINNT value such as 0x0600). The check is the platform headers'
# own: they declare a function only for the Windows versions that have it,
# so a reference to each import is compiled with _WIN32_WINNT=WINNT, and
# an import that the stated Windows lacks is an undeclared name. The few
# functions that mingw-w64 declares for every version although they came
# later are listed here with the version that brought them.
set -euo pipefail
declared_for_every_version=(GetSystemTimePreciseAsFileTime:0x0602)
objdump=$1 cxx=$2 winnt=$3 exe=$4

# The import table lists, under each "DLL Name:", one "address hint name"
# row per function.
imports=$("$objdump" -p "$exe" | awk '
    /DLL Name:/ { dll = tolower($3); next }
    dll == "kernel32.dll" && NF == 3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ { print $3 }' | sort -u)
[ -n "$imports" ] || { echo "no KERNEL32.dll imports found in $exe" >&2; exit 1; }

probe=$(mktemp --suffix=.cpp)
trap 'rm -f "$probe"' EXIT
{
    echo '#include <windows.h>'
    echo 'const void* const imports[] = {'
    sed 's/.*/    reinterpret_cast<const void*>(\&&),/' <<<"$imports"
    echo '};'
} >"$probe"

missing=()
for entry in "${declared_for_every_version[@]}"; do
    if grep -qx "${entry%%:*}" <<<"$imports" && (("${entry##*:}" > winnt)); then missing+=("${entry%%:*}"); fi
done
status=0
errors=$(LC_ALL=C "$cxx" -fsyntax-only -D_WIN32_WINNT="$winnt" -DWINVER="$winnt" "$probe" 2>&1) || status=$?
missing+=($(sed -n "s/.*error: '\([A-Za-z0-9_]*\)' was not declared.*/\1/p" <<<"$errors" | sort -u))

if [ ${#missing[@]} -gt 0 ]; then
    echo "imports that Windows $winnt lacks: ${missing[*]}" >&2
    exit 1
elif [ $status -ne 0 ]; then
    printf '%s\n' "$errors" >&2
    exit 1
fi
echo "$(wc -l <<<"$imports") KERNEL32.dll imports, all present in Windows $winnt"
