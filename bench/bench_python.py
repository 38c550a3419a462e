#!/usr/bin/env python3
"""Speed of the Python package norvane, in unit time per wall time.

    PYTHONPATH=build/release/python python3 bench/bench_python.py \\
        --norvane-run build/release/host/apps/norvane-run

1. 60 s of unit time from Python in 25 ms steps: 2400 calls of run(25), each
   followed by one frames() read (goal: >= 1000 x real time).
2. run(60000) in one call against norvane-run --duration 60000 on the same
   machine in the same benchmark, by norvane-run's own figure for its run
   (goal: within 10 %). The best of --repeat runs each, so a busy machine
   spoils less.
3. screen_bytes() hands out the presented frame without a copy: its cost
   does not grow with the picture, unlike screen().
"""

import argparse
import re
import subprocess
import sys
import tempfile
import time

import norvane

UNIT_MS = 60000


def best(repeat, measure):
    return min(measure() for _ in range(repeat))


def stepped(installation):
    with norvane.Unit(installation=installation) as unit:
        start = time.perf_counter()
        frames = 0
        for _ in range(UNIT_MS // 25):
            unit.run(25)
            frames += len(unit.frames())
        took = time.perf_counter() - start
        assert unit.time_ms == UNIT_MS and frames > 0
        return took


def one_call(installation):
    with norvane.Unit(installation=installation) as unit:
        start = time.perf_counter()
        unit.run(UNIT_MS)
        return time.perf_counter() - start


def norvane_run(program, installation):
    with tempfile.TemporaryDirectory() as workdir:
        args = [program, "--workdir", workdir, "--duration", str(UNIT_MS)]
        if installation:
            args.append("--installation")
        out = subprocess.run(args, capture_output=True, text=True, check=True)
        seconds = re.search(r"ran \d+ ms of unit time in ([0-9.]+) s", out.stderr + out.stdout)
        if not seconds:
            sys.exit("bench_python: norvane-run said no run time:\n" + out.stderr)
        return float(seconds.group(1))


def per_call(fn, calls=2000):
    start = time.perf_counter()
    for _ in range(calls):
        fn()
    return (time.perf_counter() - start) / calls


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--norvane-run", required=True, help="the norvane-run program to compare with")
    parser.add_argument("--repeat", type=int, default=5, help="runs of each measurement, the best counts")
    args = parser.parse_args()

    ok = True
    for installation in (False, True):
        name = "with the installation" if installation else "unit alone"
        step = best(args.repeat, lambda: stepped(installation))
        ratio = UNIT_MS / 1000 / step
        ok &= ratio >= 1000
        print(f"{name}: 2400 x (run(25) + frames()): {step:.3f} s, {ratio:.0f} x real time (goal >= 1000)")
        python = best(args.repeat, lambda: one_call(installation))
        runner = best(args.repeat, lambda: norvane_run(args.norvane_run, installation))
        apart = (python - runner) / runner * 100
        ok &= apart <= 10
        print(f"{name}: run(60000) {python:.3f} s ({UNIT_MS / 1000 / python:.0f} x), norvane-run {runner:.3f} s "
              f"({UNIT_MS / 1000 / runner:.0f} x): {apart:+.1f} % (goal <= +10 %)")

    with norvane.Unit() as unit:
        unit.run(1000)
        view = per_call(unit.screen_bytes)
        copy = per_call(unit.screen, 200)
        print(f"screen_bytes() {view * 1e6:.2f} us a call (no copy), screen() {copy * 1e6:.0f} us (a PIL copy)")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
