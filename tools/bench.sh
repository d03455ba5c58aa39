#!/usr/bin/env bash
# The benchmark command: installs what is missing, builds the program and
# the tests' fixture program, and runs bench/bench.py under Wine (about five
# minutes). Arguments go to bench.py (--runs N, --only NAME, --runner FILE).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
cmake --preset mingw-w64 >/dev/null
cmake --build --preset mingw-w64 --target uninstall-runner uninstall-runner-nothread runner_fixture >/dev/null
python3 bench/bench.py --build build "$@"
