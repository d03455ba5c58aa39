#!/usr/bin/env bash
# Builds the program, places the example uninstall script at its fixed path
# in a Wine prefix of its own (build/demo-prefix), runs the program under
# Wine in a fresh directory, and shows the log.txt it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash tools/install-deps.sh
cmake --preset mingw-w64 >/dev/null
cmake --build --preset mingw-w64 --target uninstall-runner >/dev/null

export WINEPREFIX=$root/build/demo-prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
# Wine's server and services outlive this script: keep them off its output.
wineserver -p5 </dev/null >/dev/null 2>&1 || true  # one already up is as good
wineboot --init </dev/null >/dev/null 2>&1

script_dir="$WINEPREFIX/drive_c/Program Files/Tarvik/Halvern"
mkdir -p "$script_dir"
cp examples/uninstall.bat "$script_dir/uninstall.bat"

run_dir=$(mktemp -d)
echo "running build/bin/uninstall-runner.exe in $run_dir"
status=0
(cd "$run_dir" && wine "$root/build/bin/uninstall-runner.exe" </dev/null) || status=$?
echo "exit status: $status"
echo "--- $run_dir/log.txt ($(wc -c <"$run_dir/log.txt") bytes; CR shown as ^M)"
cat -v "$run_dir/log.txt"
