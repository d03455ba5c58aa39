#!/usr/bin/env bash
# The package command: installs what is missing, builds the release
# executable and packs build/uninstall-runner-<version>-win32.zip (the
# program, the README and the program's SHA-256), with the zip's SHA-256
# beside it, and the test kit build/uninstall-runner-<version>-win32-tests.zip
# (the programs, the test suite and run-tests.cmd, for a Windows machine).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
cmake --workflow --preset package
