#!/usr/bin/env python3
"""What capturing costs: the runner against the script run alone and against
a shell redirect, under Wine.

For each workload, the uninstall script at the fixed path calls the tests'
fixture program, and three commands run interleaved, round by round (one
warm-up round, then --runs counted ones):

  runner    wine uninstall-runner.exe
  floor     wine cmd /c floor.bat     floor.bat: call the script >NUL 2>&1
  redirect  wine cmd /c redirect.bat  redirect.bat: call the script >file 2>&1
  pipe      wine runner_fixture.exe pipe SCRIPT: the script's output through a
            pipe to a reader that keeps nothing, with no thread and no stop;
            what Wine's pipes alone cost, for telling them from the runner

Each command's time is its wall-clock time from start to end, seen from
Linux; the runner's peak memory is the peak resident set of its process
(Wine's own share included). For the background-holder workload the script
stamps the time as its last step, and the runner's end is measured from it.

Started on Windows, it runs the same commands natively (no wine), with the
script at the real fixed path; it refuses to run where that path holds a
script the tests or this benchmark did not write, and there it reports no
peak memory.

Prints a progress line per workload on standard error and a Markdown report
on standard output.
"""

import argparse
import datetime
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

SCRIPT_DIR = ("Program Files", "Tarvik", "Halvern")
SCRIPT_WINDOWS_PATH = "C:\\Program Files\\Tarvik\\Halvern\\uninstall.bat"
# The first line of every script the tests write (tests/runner_test.cpp);
# this benchmark's scripts carry it too. A script without it is an installed
# application's, and is left alone.
TEST_SCRIPT_MARK = "@rem Written by the uninstall-runner tests; safe to delete."
NATIVE = os.name == "nt"
MIB = 1024 * 1024

# name, lines of the uninstall script ({fixture} is the fixture's path)
WORKLOADS = [
    ("small: one short line", ['@{fixture} out 52656d6f7665642e0d0a']),
    ("1 MiB in 1 MiB writes", [f'@{{fixture}} repeat {MIB} {MIB}']),
    ("256 MiB in 1 MiB writes", [f'@{{fixture}} repeat {256 * MIB} {MIB}']),
    ("100,000 lines, a write each", ['@{fixture} lines 100000']),
    ("background holder, 10 s", ['@{fixture} out 52656d6f76696e672e0d0a',
                                 '@{fixture} spawn hold 10',
                                 '@{fixture} stamp script-end.txt']),
]
HOLDER = "background holder, 10 s"
VARIANTS = ("runner", "floor", "redirect", "pipe")


def windows_path(path: Path) -> str:
    """Under Wine, its Z: drive maps the Linux root."""
    return str(path.resolve()) if NATIVE else "Z:" + str(path.resolve()).replace("/", "\\")


def write_batch(path: Path, lines):
    path.write_bytes("".join(line + "\r\n" for line in lines).encode())


def run(command, cwd, env):
    """Runs a command with no console; returns (seconds, peak RSS in KiB, end time)."""
    start = time.perf_counter()
    child = subprocess.Popen(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak = None
    if NATIVE:
        child.wait()
    else:
        _, status, usage = os.wait4(child.pid, 0)
        child.returncode, peak = os.waitstatus_to_exitcode(status), usage.ru_maxrss
    ended = time.time()
    seconds = time.perf_counter() - start
    if child.returncode != 0:
        sys.exit(f"{command} ended with status {child.returncode}")
    return seconds, peak, ended


def spread(values, unit="s", scale=1.0, digits=3):
    if None in values:
        return "n/a"
    values = [v * scale for v in values]
    return f"{statistics.median(values):.{digits}f} {unit} ({min(values):.{digits}f}–{max(values):.{digits}f})"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build", type=Path, help="the build tree (default: build)")
    parser.add_argument("--runs", default=5, type=int, help="counted rounds per workload (default: 5)")
    parser.add_argument("--only", help="run only the workloads whose name contains this")
    parser.add_argument("--bin", type=Path, help="the folder holding the programs (default: BUILD/bin)")
    parser.add_argument("--runner", default="uninstall-runner.exe",
                        help="the runner's file name in the build's bin folder (default: uninstall-runner.exe; "
                             "uninstall-runner-nothread.exe measures the capture without a reading thread)")
    args = parser.parse_args()

    bin_dir = args.bin or args.build / "bin"
    runner = bin_dir / args.runner
    fixture = bin_dir / "runner_fixture.exe"
    for program in (runner, fixture):
        if not program.exists():
            sys.exit(f"{program} is missing: build first (tools/bench.sh does)")

    work = (args.build / "bench-work").resolve()
    if NATIVE:
        env, launcher = dict(os.environ), []
        script = Path(SCRIPT_WINDOWS_PATH)
    else:
        prefix = (args.build / "bench-prefix").resolve()
        env = dict(os.environ, WINEPREFIX=str(prefix), WINEARCH="win32", WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=")
        launcher = ["wine"]
        prefix.mkdir(parents=True, exist_ok=True)
        # The server stays up between runs, so no run pays for starting it; it
        # and the services get no handle on our output. One already up is as
        # good, and real trouble shows in the boot.
        subprocess.run(["wineserver", "-p60"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineboot", "--init"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        script = prefix.joinpath("drive_c", *SCRIPT_DIR, "uninstall.bat")

    # Under Wine the prefix is the benchmark's own; on Windows the path is real.
    if NATIVE and script.exists() and not script.read_bytes().startswith(TEST_SCRIPT_MARK.encode()):
        sys.exit(f"{SCRIPT_WINDOWS_PATH} is there and was not written by the tests or this benchmark: it is an "
                 "installed application's uninstall script. Move it aside, or run on a machine without it.")
    created = next((folder for folder in reversed(script.parents) if not folder.exists()), None)
    script.parent.mkdir(parents=True, exist_ok=True)
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    write_batch(work / "floor.bat", [f'@call "{SCRIPT_WINDOWS_PATH}" >NUL 2>&1'])
    write_batch(work / "redirect.bat", [f'@call "{SCRIPT_WINDOWS_PATH}" >redirect-output.txt 2>&1'])
    commands = {
        "runner": launcher + [str(runner.resolve())],
        "floor": launcher + ["cmd", "/c", "floor.bat"],
        "redirect": launcher + ["cmd", "/c", "redirect.bat"],
        "pipe": launcher + [str(fixture.resolve()), "pipe", SCRIPT_WINDOWS_PATH],
    }

    rows = []
    try:
        for name, lines in WORKLOADS:
            if args.only and args.only not in name:
                continue
            print(f"{name}: 1 warm-up + {args.runs} rounds of {', '.join(VARIANTS)}", file=sys.stderr, flush=True)
            write_batch(script, [TEST_SCRIPT_MARK] +
                        [line.replace("{fixture}", f'"{windows_path(fixture)}"') for line in lines])
            times = {variant: [] for variant in VARIANTS}
            peaks, lags = [], []
            for round_number in range(args.runs + 1):
                for variant in VARIANTS:
                    (work / "script-end.txt").unlink(missing_ok=True)
                    seconds, peak, ended = run(commands[variant], work, env)
                    if round_number == 0:
                        continue
                    times[variant].append(seconds)
                    if variant == "runner":
                        peaks.append(peak)
                        if name == HOLDER:
                            script_end = int((work / "script-end.txt").read_text()) / 1e6
                            lags.append(ended - script_end)
            rows.append((name, times, peaks, lags))
            print("  " + ", ".join(f"{variant} {statistics.median(times[variant]):.3f} s" for variant in VARIANTS),
                  file=sys.stderr, flush=True)
    finally:
        script.unlink(missing_ok=True)
        if created:
            shutil.rmtree(created, ignore_errors=True)
        if not NATIVE:
            subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)

    if NATIVE:
        wine_version, cpu = "natively", platform.processor() or platform.machine()
    else:
        wine_version = subprocess.run(["wine", "--version"], capture_output=True, text=True, env=env).stdout.strip()
        cpu = next((line.split(":", 1)[1].strip() for line in Path("/proc/cpuinfo").read_text().splitlines()
                    if line.startswith("model name")), platform.machine())
    print(f"Measured {datetime.date.today().isoformat()} on {os.cpu_count()} cores ({cpu}), "
          f"{wine_version}, {platform.system()} {platform.release()}; "
          f"`python3 bench/bench.py --runs {args.runs}`, runner {args.runner}. Median (min–max) of {args.runs} interleaved rounds.\n")
    print("| workload | runner | floor (>NUL) | redirect (>file) | bare pipe | runner / floor "
          "| runner / redirect | runner / bare pipe | runner peak RSS |")
    print("|---|---|---|---|---|---|---|---|---|")
    for name, times, peaks, _ in rows:
        medians = {variant: statistics.median(times[variant]) for variant in VARIANTS}
        print(f"| {name} | " + " | ".join(spread(times[variant]) for variant in VARIANTS) + " | "
              + " | ".join(f"{medians['runner'] / medians[variant]:.2f}" for variant in VARIANTS[1:])
              + f" | {spread(peaks, 'MiB', 1 / 1024, 1)} |")
    for name, _, _, lags in rows:
        if lags:
            print(f"\n{name}: the runner ended {spread(lags)} after the script's last step.")


if __name__ == "__main__":
    main()
