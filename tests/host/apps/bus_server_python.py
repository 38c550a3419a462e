"""python-can's own socketcand client against real-time norvane-run bus
servers. Everything runs on loopback and ends by itself.

usage: bus_server_python.py NORVANE_RUN WORKDIR one|two|installation|abuse
one: python-can sees the unit's command frames every 100 ms and sends a
     wall-switch frame that changes what the unit commands.
two: a second unit joins the first one's bus through its socketcand back end;
     python-can sees both units' commands, and one wall-switch frame changes
     what both command.
installation: the unit with the simulated installation; python-can sees the
     modules' frames beside the unit's, and its wall-switch frame lights a
     lamp through the unit (the run's outputs table and CAN log show it).
abuse: the unit with the installation while one client floods the bus with
     frames as fast as its socket goes, another holds 16 connections that
     open no bus and a third flips between raw and BCM mode: python-can still
     gets every one of the unit's command frames, and no module frame is
     crowded off the bus.
Prints what it checked; exits 0 when everything held."""
import queue
import re
import select
import socket
import subprocess
import sys
import threading
import time

import can

PWRB1 = 0x18EFB000  # command frame of power module 1
PWRB7 = 0x18EFB600  # command frame of power module 7
SCENARIO = """\
# INSIDE LIGHTS (row 1 of the page after the version page) on, so the wall
# switches of the inside lights act.
2100 press 3
2200 release 3
"""


def fail(message):
    print("FAILED: " + message)
    sys.exit(1)


class Unit:
    """A norvane-run process whose standard error is read line by line by a
    thread, so no line waits in a buffer unseen."""

    def __init__(self, norvane_run, workdir, name, extra):
        with open(workdir + "/inside_lights_on.txt", "w") as f:
            f.write(SCENARIO)
        self.process = subprocess.Popen(
            [norvane_run, "--realtime", "--workdir", workdir + "/" + name, "--scenario",
             workdir + "/inside_lights_on.txt"] + extra,
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        self.lines = queue.Queue()
        self.seen = []
        threading.Thread(target=lambda: [self.lines.put(l) for l in self.process.stderr],
                         daemon=True).start()

    def wait_for_line(self, pattern, limit_s=10):
        deadline = time.monotonic() + limit_s
        while time.monotonic() < deadline:
            try:
                line = self.lines.get(timeout=0.5)
            except queue.Empty:
                continue
            self.seen.append(line)
            found = re.search(pattern, line)
            if found:
                return found
        fail("no line like '%s' from norvane-run: %s" % (pattern, "".join(self.seen)))

    def end(self):
        try:
            self.process.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.process.kill()
            fail("norvane-run did not end by itself")
        if self.process.returncode != 0:
            fail("norvane-run ended with status %d" % self.process.returncode)


def connect(port):
    # python-can's connect retries for 10 s when nobody listens: look first.
    with socket.create_connection(("127.0.0.1", port), timeout=2):
        pass
    return can.Bus(interface="socketcand", host="127.0.0.1", port=port, channel="can0")


def frames(bus, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        msg = bus.recv(timeout=0.2)
        if msg is not None:
            yield msg


def press_wall_switch(bus):
    # SENB1's channel 4 pressed: the push button of PWRB7 output 2.
    bus.send(can.Message(arbitration_id=0x18FF0380, is_extended_id=True,
                         data=[0x0D, 1, 1, 0, 0, 0, 0, 0]))


def output_2(msg):
    return (msg.data[2] >> 2) & 3


def one_unit(norvane_run, workdir):
    unit = Unit(norvane_run, workdir, "unit", ["--duration", "5000", "--bus-server", "127.0.0.1:0"])
    port = int(unit.wait_for_line(r"bus server: listening on 127\.0\.0\.1:(\d+)").group(1))
    bus = connect(port)
    try:
        times = []
        lights_on = False
        for msg in frames(bus, 5):
            if msg.arbitration_id == PWRB1:
                times.append(msg.timestamp)
                lights_on = lights_on or msg.data[2] != 0  # INSIDE LIGHTS shows in PWRB1's outputs
                if len(times) >= 6 and lights_on:
                    break
        if len(times) < 6 or not lights_on:
            fail("%d command frames of PWRB1 in 5 s, INSIDE LIGHTS on: %s" % (len(times), lights_on))
        gaps = [b - a for a, b in zip(times, times[1:])]
        if not all(0.05 < g < 0.2 for g in gaps):
            fail("PWRB1's command frames are not 100 ms apart: %s" % gaps)
        print("PWRB1 commands every %.0f ms (%d frames)" % (1000 * sum(gaps) / len(gaps), len(times)))

        before = next((m for m in frames(bus, 1) if m.arbitration_id == PWRB7), None)
        if before is None or output_2(before) != 0:
            fail("PWRB7 output 2 is not off before the switch: %s" % before)
        press_wall_switch(bus)
        after = next((m for m in frames(bus, 2) if m.arbitration_id == PWRB7 and output_2(m) == 1), None)
        if after is None:
            fail("PWRB7 output 2 did not come on after the wall-switch frame")
        print("the wall switch turned PWRB7 output 2 on: %s" % after.data.hex().upper())
    finally:
        bus.shutdown()
    unit.end()


def two_units(norvane_run, workdir):
    first = Unit(norvane_run, workdir, "first", ["--duration", "7000", "--bus-server", "127.0.0.1:0"])
    port = int(first.wait_for_line(r"bus server: listening on 127\.0\.0\.1:(\d+)").group(1))
    second = Unit(norvane_run, workdir, "second",
                  ["--duration", "5000", "--can0", "socketcand:127.0.0.1:%d:can0" % port])
    second.wait_for_line(r"SOCKETCAND: CAN port 0: connected, raw mode")
    first.wait_for_line(r"bus server: client .* receives the bus in raw mode")
    bus = connect(port)
    try:
        # Both units' commands: two PWRB1 frames every 100 ms, and INSIDE
        # LIGHTS on in both.
        pwrb1 = []
        start = time.monotonic()
        for msg in frames(bus, 6):
            if msg.arbitration_id == PWRB1:
                pwrb1.append(msg)
                if len(pwrb1) >= 8 and all(m.data[2] != 0 for m in pwrb1[-4:]):
                    break
        if len(pwrb1) < 8 or not all(m.data[2] != 0 for m in pwrb1[-4:]):
            fail("the two units' PWRB1 commands with INSIDE LIGHTS on did not come: %d frames" % len(pwrb1))
        span = pwrb1[-1].timestamp - pwrb1[-8].timestamp
        if not 0.25 < span < 0.45:  # eight frames, two per 100 ms
            fail("eight PWRB1 frames span %.3f s, not two units' 100 ms" % span)
        print("two units on one bus: 8 PWRB1 commands in %.0f ms" % (1000 * span))

        press_wall_switch(bus)
        # Each unit toggles its own output: after the switch every PWRB7
        # frame, from either unit, has output 2 on.
        on = []
        for msg in frames(bus, 2):
            if msg.arbitration_id == PWRB7:
                on = on + [msg] if output_2(msg) == 1 else []
                if len(on) >= 4:
                    break
        if len(on) < 4:
            fail("after the wall switch, PWRB7 output 2 is not on in both units")
        print("one wall-switch frame turned PWRB7 output 2 on in both units (%.1f s after start)"
              % (time.monotonic() - start))
    finally:
        bus.shutdown()
    second.end()
    first.end()


def with_installation(norvane_run, workdir):
    log, outputs = workdir + "/can.log", workdir + "/outputs.txt"
    unit = Unit(norvane_run, workdir, "unit", ["--duration", "4000", "--installation", "--bus-server",
                                               "127.0.0.1:0", "--can-log", log, "--outputs", outputs])
    port = int(unit.wait_for_line(r"bus server: listening on 127\.0\.0\.1:(\d+)").group(1))
    bus = connect(port)
    try:
        # The eight power modules' status frames beside the unit's commands
        # to them: the whole bus, not only the unit's side.
        status, commands = set(), set()
        for msg in frames(bus, 2):
            if 0x18FFA0B0 <= msg.arbitration_id <= 0x18FFA0B7:
                status.add(msg.arbitration_id)
            if msg.arbitration_id & 0xFFFFF0FF == PWRB1:
                commands.add(msg.arbitration_id)
            if len(status) == 8 and len(commands) == 8:
                break
        if len(status) != 8 or len(commands) != 8:
            fail("in 2 s: status of %d power modules, commands to %d" % (len(status), len(commands)))
        print("python-can sees the status of all 8 power modules and the unit's commands to them")

        # INSIDE LIGHTS on (the scenario at 2.1 s) lets the wall switch act.
        if next((m for m in frames(bus, 3) if m.arbitration_id == PWRB1 and m.data[2] != 0), None) is None:
            fail("INSIDE LIGHTS did not come on")
        before = next((m for m in frames(bus, 1) if m.arbitration_id == PWRB7), None)
        if before is None or output_2(before) != 0:
            fail("PWRB7 output 2 is not off before the switch: %s" % before)
        press_wall_switch(bus)
        if next((m for m in frames(bus, 1) if m.arbitration_id == PWRB7 and output_2(m) == 1), None) is None:
            fail("PWRB7 output 2 was not commanded on after the wall-switch frame")
    finally:
        bus.shutdown()
    unit.end()
    with open(outputs) as f:
        table = f.read()
    if "PWRB7  2      on   SALOON\n" not in table:
        fail("the outputs table does not show PWRB7 output 2 lit:\n" + table)
    with open(log) as f:
        lines = f.read().splitlines()
    switch = [l for l in lines if l.endswith(" can0 18FF0380#0D01010000000000")]
    if len(switch) != 1:
        fail("the CAN log holds python-can's wall-switch frame %d times" % len(switch))
    print("the wall-switch frame lit PWRB7 output 2 (SALOON) and is in the CAN log once")


class Attacker(threading.Thread):
    """A raw socket client that runs `step` until stopped; it reads what the
    server sends so that only its own misdeeds count against it."""

    def __init__(self, port, step, opens=True):
        super().__init__(daemon=True)
        self.port, self.step, self.opens = port, step, opens
        self.stop = threading.Event()
        self.sent = 0

    def run(self):
        try:
            with socket.create_connection(("127.0.0.1", self.port), timeout=2) as s:
                s.recv(64)
                if self.opens:
                    s.sendall(b"< open can0 >< rawmode >")
                s.setblocking(False)
                while not self.stop.is_set():
                    readable, writable, _ = select.select([s], [s], [], 0.05)
                    if readable and not s.recv(65536):
                        return
                    if writable:
                        try:
                            self.sent += s.send(self.step)
                        except BlockingIOError:
                            pass
        except OSError:
            return


def hold_idle_connections(port, count, stop):
    """Keeps `count` connections open that never open a bus, connecting
    again whenever the server closes one."""
    held = []
    while not stop.is_set():
        while len(held) < count:
            try:
                held.append(socket.create_connection(("127.0.0.1", port), timeout=2))
            except OSError:
                break
        readable, _, _ = select.select(held, [], [], 0.05)
        for s in readable:
            try:
                data = s.recv(4096)
            except OSError:
                data = b""
            if not data:
                held.remove(s)
                s.close()
    for s in held:
        s.close()


def under_abuse(norvane_run, workdir):
    unit = Unit(norvane_run, workdir, "unit", ["--duration", "9000", "--installation", "--bus-server",
                                               "127.0.0.1:0"])
    port = int(unit.wait_for_line(r"bus server: listening on 127\.0\.0\.1:(\d+)").group(1))
    stop = threading.Event()
    idle = threading.Thread(target=hold_idle_connections, args=(port, 16, stop), daemon=True)
    idle.start()
    time.sleep(0.5)  # every place taken by a connection that opens no bus
    bus = connect(port)
    # The flood at priority 7: the bus has a bandwidth, and a sender at a full
    # bus's rate with an identifier that wins arbitration over the modules'
    # would take the bus from them as on a real one; below them, the bus
    # carries everyone else first and refuses the flood's excess.
    flood = Attacker(port, b"< send 1CFF1234 8 1 2 3 4 5 6 7 8 >" * 400)
    flip = Attacker(port, b"< bcmmode >< rawmode >" * 100)
    flood.start()
    flip.start()
    try:
        # Four seconds of the unit's commands to the eight power modules:
        # each every 100 ms, none missing.
        times = {PWRB1 + (n << 8): [] for n in range(8)}
        flooded = 0
        for msg in frames(bus, 4):
            if msg.arbitration_id in times:
                times[msg.arbitration_id].append(msg.timestamp)
            elif msg.arbitration_id == 0x1CFF1234:
                flooded += 1
    finally:
        stop.set()
        flood.stop.set()
        flip.stop.set()
        bus.shutdown()
    for ident, seen in times.items():
        gaps = [b - a for a, b in zip(seen, seen[1:])]
        if len(seen) < 35 or max(gaps) > 0.25:
            fail("the commands to %08X under attack: %d in 4 s, longest gap %.3f s"
                 % (ident, len(seen), max(gaps) if gaps else 0))
    if flood.sent < 35 * 4 * 1908 * 2:
        fail("the flood sent only %d bytes: no flood" % flood.sent)
    if flooded > 4.2 * 1908 + 100:
        fail("%d flood frames in 4 s: more than a full bus carries" % flooded)
    print("python-can got every command frame to the 8 power modules (%d in 4 s) beside %d flood frames "
          "(%d bytes offered)" % (sum(len(t) for t in times.values()), flooded, flood.sent))
    unit.end()
    lines = unit.seen + list(unit.lines.queue)
    crowded = [l for l in lines if "dropped" in l]
    if crowded:
        fail("frames or clients were dropped: %s" % "".join(crowded))
    if len(lines) > 60:
        fail("%d lines on standard error under attack: %s" % (len(lines), "".join(lines[:80])))
    print("norvane-run said %d lines, no frame or client dropped" % len(lines))


if __name__ == "__main__":
    {"one": one_unit, "two": two_units, "installation": with_installation,
     "abuse": under_abuse}[sys.argv[3]](sys.argv[1], sys.argv[2])
    print("all held")
