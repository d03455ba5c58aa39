#!/usr/bin/env bash
# check-package.sh BUILD_DIR NAME: packs the release with CPack in BUILD_DIR
# and checks that NAME.zip holds the program, the README and the program's
# SHA-256, and that both checksums (the one inside, the one beside the zip)
# are right.
set -euo pipefail
build=$1 name=$2
cd "$build"
cpack --config CPackConfig.cmake >/dev/null

sha256sum --check --quiet "$name.zip.sha256"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
(cd "$unpacked" && cmake -E tar xf "$OLDPWD/$name.zip")
listing=$(cd "$unpacked" && find . -type f | sort)
expected=$(printf './%s/%s\n' "$name" README.md "$name" uninstall-runner.exe "$name" uninstall-runner.exe.sha256)
if [ "$listing" != "$expected" ]; then
    printf 'the package holds:\n%s\nexpected:\n%s\n' "$listing" "$expected" >&2
    exit 1
fi
(cd "$unpacked/$name" && sha256sum --check --quiet uninstall-runner.exe.sha256)
cmp "$unpacked/$name/uninstall-runner.exe" bin/uninstall-runner.exe
echo "$name.zip: $(cat "$name.zip.sha256")"
