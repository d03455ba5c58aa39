#!/usr/bin/env bash
# check-reproducible.sh SOURCE_DIR: builds the program twice, each from its
# own copy of the sources in a folder of a different name, and checks that
# the two executables are the same byte for byte. Prints their size and
# SHA-256.
set -euo pipefail
source_dir=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for copy in first-checkout second/checkout-elsewhere; do
    mkdir -p "$work/$copy"
    if git -C "$source_dir" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        # What git tracks, as it stands in the working tree.
        (cd "$source_dir" && git ls-files -z --cached --others --exclude-standard |
            xargs -0 cp --parents -t "$work/$copy")
    else
        (cd "$source_dir" && tar --exclude='./build*' -cf - .) | tar -C "$work/$copy" -xf -
    fi
    cmake -S "$work/$copy" -B "$work/$copy/build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DCMAKE_TOOLCHAIN_FILE="$work/$copy/cmake/mingw-w64-i686.cmake" >/dev/null
    cmake --build "$work/$copy/build" --target uninstall-runner >/dev/null
done

first=$work/first-checkout/build/bin/uninstall-runner.exe
second=$work/second/checkout-elsewhere/build/bin/uninstall-runner.exe
for exe in "$first" "$second"; do
    echo "$(stat -c %s "$exe") bytes  $(sha256sum "$exe" | cut -d' ' -f1)  ${exe#"$work"/}"
done
if ! cmp "$first" "$second"; then
    echo "the two builds differ" >&2
    exit 1
fi
echo "identical"
