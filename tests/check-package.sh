#!/usr/bin/env bash
# check-package.sh BUILD_DIR NAME: packs with CPack in BUILD_DIR and checks
# that NAME.zip holds the program, the README and the program's SHA-256, and
# that both checksums (the one inside, the one beside the zip) are right; and
# that the test kit NAME-tests.zip holds the programs the suite runs, the
# suite and run-tests.cmd.
set -euo pipefail
build=$1 name=$2
cd "$build"
# Unsigned, whatever the environment says: the packed program must be the built one.
env -u UNINSTALL_RUNNER_SIGN_PFX cpack --config CPackConfig.cmake >/dev/null

sha256sum --check --quiet "$name.zip.sha256"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
(cd "$unpacked" && cmake -E tar xf "$OLDPWD/$name.zip")
(cd "$unpacked" && cmake -E tar xf "$OLDPWD/$name-tests.zip")
listing=$(cd "$unpacked" && find . -type f | sort)
expected=$( (printf "./$name/%s\n" README.md uninstall-runner.exe uninstall-runner.exe.sha256
    printf "./$name-tests/%s\n" run-tests.cmd runner_fixture.exe runner_tests.exe uninstall-runner-nopipe.exe \
        uninstall-runner-nothread.exe uninstall-runner.exe) | sort)
if [ "$listing" != "$expected" ]; then
    printf 'the packages hold:\n%s\nexpected:\n%s\n' "$listing" "$expected" >&2
    exit 1
fi
cmp "$unpacked/$name-tests/uninstall-runner.exe" bin/uninstall-runner.exe
(cd "$unpacked/$name" && sha256sum --check --quiet uninstall-runner.exe.sha256)
cmp "$unpacked/$name/uninstall-runner.exe" bin/uninstall-runner.exe
echo "$name.zip: $(cat "$name.zip.sha256")"
echo "$name-tests.zip: $(stat -c %s "$name-tests.zip") bytes"
