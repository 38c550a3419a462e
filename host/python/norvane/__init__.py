"""The unit in virtual time, for pytest and python-can.

    import norvane
    with norvane.Unit(installation=True) as unit:
        unit.run(2100)
        unit.click(3)
        unit.expect_can(0x18EFB000, "80..50010000", within_ms=100)

Unit time moves only when asked (run, run_until, click, expect_can, a bus's
recv), one millisecond after the other as norvane-run's virtual time does, so
a test gives the same result on every run and runs far faster than real time.
One Unit lives in a process at a time (the firmware exists once); units one
after another each start as the program does.
"""

import inspect
import math
import os
import shutil
import tempfile

from . import _norvane

__all__ = ["Unit", "Timeout", "WIDTH", "HEIGHT"]

WIDTH = _norvane.WIDTH
HEIGHT = _norvane.HEIGHT


class Timeout(AssertionError):
    """run_until's predicate did not hold within its time (unit time)."""


def _whole(value, what, low=None, high=None):
    if isinstance(value, bool) or not isinstance(value, int):
        raise ValueError(f"{what} must be a whole number, found {value!r}")
    if (low is not None and value < low) or (high is not None and value > high):
        raise ValueError(f"{what} must be {low} to {high}, found {value}")
    return value


def _caller():
    """FILE:LINE of the first caller outside this package, for messages."""
    here = os.path.dirname(os.path.abspath(__file__))
    frame = inspect.currentframe()
    try:
        while frame is not None:
            path = frame.f_code.co_filename
            if os.path.dirname(os.path.abspath(path)) != here:
                return f"{os.path.basename(path)}:{frame.f_lineno}"
            frame = frame.f_back
        return "python"
    finally:
        del frame


def _module_name(value, prefix, count):
    if isinstance(value, int) and not isinstance(value, bool):
        value = f"{prefix}{value}"
    if not isinstance(value, str) or value.upper() not in [f"{prefix}{n}" for n in range(1, count + 1)]:
        raise ValueError(f"expected a module {prefix}1 to {prefix}{count}, found {value!r}")
    return value.upper()


def _frame_id(can_id, extended=None):
    """The identifier as candump writes it: 3 hex digits standard, 8 extended."""
    if isinstance(can_id, str):
        text = can_id.strip()
        try:
            number = int(text, 16)
        except ValueError:
            raise ValueError(f"expected a hexadecimal CAN identifier, found {can_id!r}") from None
        if extended is None:
            extended = len(text) > 3
        can_id = number
    _whole(can_id, "the CAN identifier", 0, 0x1FFFFFFF)
    if extended is None:
        extended = can_id > 0x7FF
    if not extended and can_id > 0x7FF:
        raise ValueError(f"a standard identifier is at most 7FF, found {can_id:X}")
    return f"{can_id:08X}" if extended else f"{can_id:03X}"


def _data_pattern(data):
    """Data as the scenario line writes it: hex bytes, '..' for any byte."""
    if isinstance(data, (bytes, bytearray, list, tuple)):
        if len(data) > 8:
            raise ValueError(f"a CAN frame carries at most 8 bytes, found {len(data)}")
        return "".join(f"{_whole(b, 'a data byte', 0, 255):02X}" for b in data)
    if not isinstance(data, str):
        raise ValueError(f"expected the data as bytes or a pattern like '80..5001', found {data!r}")
    return data.replace(" ", "")


class Unit:
    """One unit in virtual time.

    workdir: the unit's working folder (its file system in rootfs/); a fresh
    temporary folder, removed on close, when None. installation: True for
    the boat's default installation on port 0, or the path of a description
    file. can1: the mapping of CAN port 1 (as norvane-run's --can1), the
    virtual bus by default.
    """

    def __init__(self, workdir=None, installation=None, can1=None):
        if installation is not None and not isinstance(installation, (bool, str, os.PathLike)):
            raise ValueError(f"installation is True or a description file's path, found {installation!r}")
        if can1 is not None and not isinstance(can1, str):
            raise ValueError(f"can1 is a port mapping such as 'virtual', found {can1!r}")
        self._own_dir = workdir is None
        if workdir is None:
            workdir = tempfile.mkdtemp(prefix="norvane-unit-")
        self._workdir = os.fspath(workdir)
        description = ""
        if isinstance(installation, (str, os.PathLike)):
            description = os.fspath(installation)
        try:
            self._core = _norvane.UnitCore(self._workdir, bool(installation), description, can1 or "virtual")
        except BaseException:
            self._core = None
            self._remove_dir()
            raise
        self._cursor = {}
        self.output_dir = self._workdir

    # life

    def _remove_dir(self):
        if self._own_dir:
            shutil.rmtree(self._workdir, ignore_errors=True)
            self._own_dir = False

    def close(self):
        """Ends the unit (and removes its temporary folder); a new Unit may follow."""
        if self._core is not None:
            self._core.close()
            self._remove_dir()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass

    @property
    def closed(self):
        return self._core is None or self._core.closed

    @property
    def workdir(self):
        return self._workdir

    # time

    @property
    def time_ms(self):
        """The unit's milliseconds since it started."""
        return self._core.time_ms

    def run(self, ms):
        """Advances unit time by ms milliseconds (other Python threads run meanwhile)."""
        self._core.run(_whole(ms, "ms", 0, 2**32 - 1))

    def run_until(self, predicate, timeout_ms, step_ms=10):
        """Runs in steps of step_ms until predicate() is true; returns the unit
        time it held at, or raises Timeout after timeout_ms of unit time."""
        if not callable(predicate):
            raise ValueError(f"predicate must be callable, found {predicate!r}")
        _whole(timeout_ms, "timeout_ms", 0, 2**32 - 1)
        _whole(step_ms, "step_ms", 1, 2**32 - 1)
        start = self.time_ms
        while True:
            if predicate():
                return self.time_ms
            waited = self.time_ms - start
            if waited >= timeout_ms:
                raise Timeout(f"{_caller()}: the condition did not hold within {waited} ms "
                              f"(unit time {start} to {self.time_ms} ms)")
            self.run(min(step_ms, timeout_ms - waited))

    # buttons and events

    def press(self, button):
        """Button 1..5 (F1..F5) down; held at least until a tick saw it."""
        self._core.set_key(_whole(button, "button", 1, 5), True)

    def release(self, button):
        self._core.set_key(_whole(button, "button", 1, 5), False)

    def click(self, button, hold_ms=50):
        """Presses the button, runs hold_ms, releases it."""
        _whole(button, "button", 1, 5)
        _whole(hold_ms, "hold_ms", 0, 2**32 - 1)
        self.press(button)
        self.run(hold_ms)
        self.release(button)

    def event(self, n):
        """Raises test event 0 or 1 (the window's Event 1 and Event 2)."""
        self._core.raise_event(_whole(n, "event", 0, 1))

    # screen

    def screen_bytes(self):
        """The presented frame as RGB565, row by row, without a copy: a
        read-only memoryview of the frame the unit shows, valid until the
        unit runs again."""
        return self._core.screen_bytes()

    def screen(self):
        """The screen as a 320 x 240 RGB PIL Image (a copy)."""
        from PIL import Image
        return Image.frombytes("RGB", (WIDTH, HEIGHT), self._core.screen_rgb())

    def pixel(self, x, y):
        """(r, g, b) of one pixel of the screen."""
        return self._core.pixel(_whole(x, "x", 0, WIDTH - 1), _whole(y, "y", 0, HEIGHT - 1))

    def save_screen(self, path):
        """Writes the screen as PNG or BMP, by the path's suffix."""
        self._core.save_screen(os.fspath(path))

    # bus

    def _messages(self, records, port):
        import can
        out = []
        for time_us, frame_port, can_id, ext, rtr, data, from_unit, _source, dlc in records:
            if port is not None and frame_port != port:
                continue
            out.append(can.Message(timestamp=time_us / 1e6, arbitration_id=can_id, is_extended_id=ext,
                                   is_remote_frame=rtr, dlc=dlc, data=data, channel=frame_port,
                                   is_rx=not from_unit))
        return out

    def frames(self, port=0, since_ms=None):
        """The frames on the bus of port `port` as can.Message (timestamp in
        unit seconds, channel the port, is_rx True for a frame the unit
        received). since_ms=None: those not returned by an earlier frames()
        of this port; else every frame from since_ms on."""
        _whole(port, "port", 0, 1)
        if since_ms is None:
            start = self._cursor.get(port, 0)
            records = self._core.frames_from(start)
            self._cursor[port] = start + len(records)
            return self._messages(records, port)
        _whole(since_ms, "since_ms", 0)
        records = [r for r in self._core.frames_from(0) if r[0] >= since_ms * 1000]
        return self._messages(records, port)

    def send(self, message, port=0):
        """Puts a can.Message on the bus of port `port` for the unit."""
        self._send(message, port, "python")

    def _send(self, message, port, source):
        _whole(port, "port", 0, 1)
        for name in ("arbitration_id", "is_extended_id", "data"):
            if not hasattr(message, name):
                raise ValueError(f"expected a can.Message, found {message!r}")
        data = bytes(message.data or b"")
        if len(data) > 8 or getattr(message, "is_fd", False):
            raise ValueError("the unit's bus carries classic CAN frames of at most 8 bytes")
        _frame_id(message.arbitration_id, bool(message.is_extended_id))
        dlc = message.dlc if message.dlc is not None else len(data)
        _whole(dlc, "dlc", 0, 8)
        if not self._core.send(port, message.arbitration_id, bool(message.is_extended_id),
                               bool(message.is_remote_frame), data, max(dlc, len(data)), source):
            import can
            raise can.CanOperationError(f"the virtual bus of port {port} is full: the frame was refused")

    def bus(self, port=0):
        """A python-can bus on port `port` in unit time (see norvane.bus.UnitBus)."""
        from .bus import UnitBus
        return UnitBus(self, port)

    def save_can_log(self, path):
        """Writes every frame on the bus so far as a candump log."""
        self._core.save_can_log(os.fspath(path))

    # installation

    def switch(self, module, channel, on):
        """Flips wall switch `channel` (1-10) of SENB1-3 on or off."""
        self._plant(f"switch {_module_name(module, 'SENB', 3)} {_whole(channel, 'channel', 1, 10)} "
                    f"{'on' if on else 'off'}")

    def push(self, module, channel, ms):
        """Holds push button `channel` (1-10) of SENB1-3 for ms milliseconds."""
        self._plant(f"push {_module_name(module, 'SENB', 3)} {_whole(channel, 'channel', 1, 10)} "
                    f"{_whole(ms, 'ms', 1, 3600000)}")

    def tank(self, n, percent):
        """Tank 1-4 (fuel 1, fuel 2, water 1, water 2) at percent 0-125."""
        self._plant(f"tank {_whole(n, 'tank', 1, 4)} {self._amount(percent, 'percent', 125)}")

    def volts(self, channel, volts):
        """SENB4 channel 1-10 reads volts 0-65.535."""
        self._plant(f"volts {_whole(channel, 'channel', 1, 10)} {self._amount(volts, 'volts', 65.535)}")

    def fault(self, module, output, state, code):
        """PWRB1-8 output 1-7 reports state 0-3 and code 0-15."""
        self._plant(f"fault {_module_name(module, 'PWRB', 8)} {_whole(output, 'output', 1, 7)} "
                    f"{_whole(state, 'state', 0, 3)} {_whole(code, 'code', 0, 15)}")

    def module(self, name, on):
        """A module on or off the bus; for PWRBn also 'obey' or 'ignore' its commands."""
        if not isinstance(name, str):
            raise ValueError(f"expected a module SENB1 to SENB4 or PWRB1 to PWRB8, found {name!r}")
        what = on if on in ("obey", "ignore") else ("on" if on else "off")
        self._plant(f"module {name.upper()} {what}")

    def output(self, module, output):
        """Whether output 1-8 of PWRB1-8 is lit."""
        index = int(_module_name(module, "PWRB", 8)[4:]) - 1
        return self._core.output(index, _whole(output, "output", 1, 8) - 1)

    def outputs(self):
        """The 64 loads by label, lit or not ('PWRBn/o' for one without a label,
        'LABEL (PWRBn/o)' for a label several outputs share)."""
        return dict(self._core.outputs())

    @staticmethod
    def _amount(value, what, top):
        if isinstance(value, bool) or not isinstance(value, (int, float)) or not math.isfinite(value):
            raise ValueError(f"{what} must be a number of 0 to {top}, found {value!r}")
        if value < 0 or value > top:
            raise ValueError(f"{what} must be 0 to {top}, found {value}")
        return f"{value:.3f}".rstrip("0").rstrip(".")

    def _plant(self, words):
        self._core.apply_plant(words)

    # files

    def read_file(self, path):
        """A file of the unit's file system ('/app/event/app_reply') as bytes."""
        if not isinstance(path, str) or not path.startswith("/") or ".." in path.split("/"):
            raise ValueError(f"expected an absolute path of the unit's file system, found {path!r}")
        with open(os.path.join(self._workdir, "rootfs", path.lstrip("/")), "rb") as f:
            return f.read()

    def command(self, text, timeout_ms=1000):
        """Writes the command file /app/event/app_command, raises event 0 and
        returns the unit's reply ('OK', 'KO') once it answered."""
        if not isinstance(text, str):
            raise ValueError(f"a command is text, found {text!r}")
        folder = os.path.join(self._workdir, "rootfs", "app", "event")
        reply = os.path.join(folder, "app_reply")
        if os.path.exists(reply):
            os.remove(reply)
        with open(os.path.join(folder, "app_command"), "w", encoding="utf-8") as f:
            f.write(text)
        self.event(0)
        self.run_until(lambda: os.path.exists(reply), timeout_ms, step_ms=25)
        with open(reply, encoding="utf-8") as f:
            return f.read().strip()

    # expectations: the scenario's own checks and messages

    def expect(self, line):
        """A scenario expectation without its time, checked from now:
        'can 0 18EFB000#80.. within 50', 'no-can 0 421 for 10',
        'pixel 10 40 88AC90', 'file /app/event/app_reply OK',
        'output PWRB1 1 on', 'signal PWRB1 out1_command on within 200'.
        A failure raises AssertionError with the line a scenario prints."""
        words = line.split() if isinstance(line, str) else []
        reference = os.path.abspath(words[1]) if len(words) > 1 and words[0] == "screen" else ""
        self._check(line, reference)

    def expect_can(self, can_id, data_pattern, within_ms=100, port=0):
        """The unit sends the frame on `port` within within_ms from now
        ('..' in the pattern for any byte)."""
        _whole(within_ms, "within_ms", 0, 2**32 - 1)
        _whole(port, "port", 0, 1)
        self._check(f"can {port} {_frame_id(can_id)}#{_data_pattern(data_pattern)} within {within_ms}", "")

    def expect_screen(self, reference_png, max_diff=0):
        """The screen now is the reference picture with at most max_diff
        pixels apart; a failure writes NAME_err.png into output_dir."""
        _whole(max_diff, "max_diff", 0, WIDTH * HEIGHT)
        reference = os.fspath(reference_png)
        if any(c.isspace() for c in reference):
            raise ValueError(f"the reference picture's path has a blank in it: {reference!r}")
        self._check(f"screen {reference} max-diff {max_diff}", os.path.abspath(reference))

    def _check(self, words, reference):
        if not isinstance(words, str):
            raise ValueError(f"expected the words of an expectation, found {words!r}")
        os.makedirs(self.output_dir, exist_ok=True)
        failure = self._core.expect(words, _caller(), reference, self.output_dir)
        if failure:
            raise AssertionError(failure)
