"""Kills real-time norvane-run runs with SIGKILL while they write a CAN log
and reads every log with python-can to its end: each must end with a whole
line, and python-can must read as many frames as the log has lines.

usage: can_log_kill.py NORVANE_RUN WORKDIR [KILLS]
Each run has the installation on its bus (some 300 frames a second) and is
killed 0.5 to 2.5 s after its log first holds a line. Prints what it found;
exits 0 when every log held."""
import os
import random
import signal
import subprocess
import sys
import time

import can


def fail(message):
    print("FAILED: " + message)
    sys.exit(1)


def one_kill(norvane_run, workdir, i, delay_s):
    log = os.path.join(workdir, "can%d.log" % i)
    process = subprocess.Popen([norvane_run, "--quiet", "--realtime", "--installation", "--duration", "60000",
                                "--workdir", os.path.join(workdir, "unit"), "--can-log", log],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 10
        while not (os.path.exists(log) and os.path.getsize(log) > 0):
            if time.monotonic() > deadline or process.poll() is not None:
                fail("run %d: no line in its CAN log after 10 s" % i)
            time.sleep(0.01)
        time.sleep(delay_s)
    finally:
        process.send_signal(signal.SIGKILL)
        process.wait()
    with open(log, "rb") as f:
        data = f.read()
    if not data.endswith(b"\n"):
        fail("run %d (killed %.2f s after its first line): the log ends in half a line: %r"
             % (i, delay_s, data[-60:]))
    lines = data.count(b"\n")
    read = sum(1 for _ in can.CanutilsLogReader(log))
    if read != lines:
        fail("run %d: python-can read %d frames of %d lines" % (i, read, lines))
    os.remove(log)
    return lines


def main():
    norvane_run, workdir = sys.argv[1], sys.argv[2]
    kills = int(sys.argv[3]) if len(sys.argv) > 3 else 100
    rng = random.Random(27)
    frames = [one_kill(norvane_run, workdir, i, rng.uniform(0.5, 2.5)) for i in range(kills)]
    print("%d runs killed with SIGKILL: every CAN log ends with a whole line and python-can read all of it "
          "(%d to %d frames, %d in all)" % (kills, min(frames), max(frames), sum(frames)))
    print("all held")


if __name__ == "__main__":
    main()
