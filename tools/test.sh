#!/usr/bin/env bash
# The test command: installs what is missing, builds the program and its
# tests for 32-bit Windows with mingw-w64, and runs the tests under Wine.
# With CI set in the environment, compiler warnings are errors.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh

preset=mingw-w64
[ -n "${CI-}" ] && preset=ci
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
cmake --workflow --preset "$preset"
