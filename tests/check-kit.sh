#!/usr/bin/env bash
# check-kit.sh KIT_ZIP: the test kit used the way a person on Windows uses
# it. Unpacks KIT_ZIP into a fresh folder (its name has a space) of a fresh
# 32-bit Wine prefix, runs "cmd /c run-tests.cmd" there, and checks its exit
# status, its verdict line, and the JUnit XML it wrote: every case of the
# suite present, none failed.
set -euo pipefail
kit=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
prefix_script=$(cd "$(dirname "$0")" && pwd)/wine-prefix.sh
work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() { "$prefix_script" stop; rm -rf "$work"; }
trap cleanup EXIT
"$prefix_script" boot >/dev/null

folder="$WINEPREFIX/drive_c/Test kit"
mkdir -p "$folder"
(cd "$folder" && cmake -E tar xf "$kit")
run_tests=$(find "$folder" -name run-tests.cmd)
[ -n "$run_tests" ] || { echo "no run-tests.cmd in $kit" >&2; exit 1; }
windows_dir=$(winepath -w "$(dirname "$run_tests")")

status=0
output=$(cd "$work" && wine cmd /c "$windows_dir\\run-tests.cmd" </dev/null 2>&1) || status=$?
output=${output//$'\r'/}
verdict=$(tail -n 1 <<<"$output")
echo "exit status $status; verdict: $verdict"
fail=0
[ "$status" -eq 0 ] || { echo "run-tests.cmd exited with $status" >&2; fail=1; }
[[ $verdict == "uninstall-runner tests: PASSED"* ]] || { echo "no PASSED verdict" >&2; fail=1; }

listed=$(cd "$work" && wine "$windows_dir\\runner_tests.exe" --gtest_list_tests </dev/null 2>/dev/null | tr -d '\r')
python3 - "$(dirname "$run_tests")/runner_tests.xml" "$listed" <<'PYTHON' || fail=1
import sys
import xml.etree.ElementTree as ET

report, listing = sys.argv[1], sys.argv[2]
expected, suite = set(), None
for line in listing.splitlines():
    name = line.split("#")[0].rstrip()
    if not name:
        continue
    if not line.startswith(" "):
        suite = name
    else:
        expected.add(suite + name.strip())
try:
    cases = ET.parse(report).getroot().iter("testcase")
except (OSError, ET.ParseError) as error:
    sys.exit(f"no readable report: {error}")
ran, failed = set(), []
for case in cases:
    name = case.get("classname") + "." + case.get("name")
    ran.add(name)
    if case.find("failure") is not None or case.find("error") is not None or case.get("result") != "completed":
        failed.append(name)
missing = sorted(expected - ran)
print(f"report: {len(ran)} cases, {len(failed)} failed, {len(missing)} of the suite's {len(expected)} missing")
for name in failed:
    print("  failed:", name)
for name in missing:
    print("  missing:", name)
sys.exit(1 if failed or missing or not expected else 0)
PYTHON
[ $fail -eq 0 ] || printf '%s\n' "$output" | tail -n 40 >&2
exit $fail
