#!/usr/bin/env bash
# The package command: installs what is missing, builds the release
# executable and packs build/uninstall-runner-<version>-win32.zip (the
# program, the README and the program's SHA-256), with the zip's SHA-256
# beside it, and the test kit build/uninstall-runner-<version>-win32-tests.zip
# (the programs, the test suite and run-tests.cmd, for a Windows machine).
#
# The program is signed before it is packed when the environment names a
# certificate (see cmake/sign-program.cmake):
#   UNINSTALL_RUNNER_SIGN_PFX            a PKCS#12 file with the code-signing key and certificate
#   UNINSTALL_RUNNER_SIGN_PASSWORD_FILE  a file holding its password
#   UNINSTALL_RUNNER_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server (optional)
# When signing fails, it says why in one line and leaves no zip.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
cmake --preset mingw-w64 >/dev/null
cmake --build --preset mingw-w64

rm -f build/uninstall-runner-*-win32*.zip build/uninstall-runner-*-win32*.zip.sha256
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! cpack --preset mingw-w64 >"$log" 2>&1; then
    grep '^cannot sign ' "$log" >&2 || cat "$log" >&2
    rm -f build/uninstall-runner-*-win32*.zip build/uninstall-runner-*-win32*.zip.sha256
    exit 1
fi
grep -v '^CPack: -\? *\(Create package\|Install\|Run preinstall\)' "$log"
