"""The Python unit: time, buttons, screen, bus, installation, expectations and errors."""

import os
import pathlib
import threading

import can
import pytest

import norvane

TESTS = pathlib.Path(os.environ.get("NORVANE_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2])) / "tests"
VERSION_PAGE = TESTS / "firmware" / "screens" / "golden" / "version.png"
LIGHTS_ROW_MARK = (136, 172, 144)  # the ON mark of row 1 of LIGHTING & SOUND at (10, 40)


def test_one_unit_per_process_and_each_starts_afresh(tmp_path):
    def first_second(workdir):
        with norvane.Unit(workdir=workdir) as unit:
            with pytest.raises(RuntimeError, match="already open"):
                norvane.Unit()
            unit.click(3)  # leaves a trace a fresh unit must not inherit
            unit.run(2950)
            return bytes(unit.screen_bytes()), [(m.timestamp, m.arbitration_id, bytes(m.data))
                                                for m in unit.frames()]

    assert first_second(tmp_path / "a") == first_second(tmp_path / "b")
    with norvane.Unit() as unit:
        assert unit.time_ms == 0
        folder = unit.workdir
        assert os.path.isdir(os.path.join(folder, "rootfs"))
    assert not os.path.exists(folder), "a temporary working folder goes with its unit"
    with pytest.raises(RuntimeError, match="closed"):
        unit.run(1)


def test_time_moves_only_when_asked(unit):
    assert unit.time_ms == 0
    unit.run(25)
    unit.run(0)
    assert unit.time_ms == 25
    held = unit.run_until(lambda: unit.time_ms >= 100, timeout_ms=1000, step_ms=30)
    assert held == unit.time_ms == 115
    with pytest.raises(norvane.Timeout, match=r"test_unit.py:\d+: the condition did not hold within 50 ms"):
        unit.run_until(lambda: False, timeout_ms=50)
    assert unit.time_ms == 165
    with pytest.raises(AssertionError):  # Timeout is an assertion of the test
        unit.run_until(lambda: False, timeout_ms=0)


def test_screen_in_every_form(unit, tmp_path):
    unit.run(2100)
    unit.click(3)
    unit.run(300)
    view = unit.screen_bytes()
    assert isinstance(view, memoryview) and view.readonly and view.nbytes == 320 * 240 * 2
    again = unit.screen_bytes()
    assert view.tobytes() == again.tobytes()
    picture = unit.screen()
    assert picture.size == (320, 240) and picture.mode == "RGB"
    assert unit.pixel(10, 40) == LIGHTS_ROW_MARK == picture.getpixel((10, 40))
    from PIL import Image
    for name in ("shot.png", "shot.bmp"):
        unit.save_screen(tmp_path / name)
        assert Image.open(tmp_path / name).convert("RGB").tobytes() == picture.tobytes()
    # The view is the presented frame itself: a run changes what it shows.
    before = view.tobytes()
    unit.click(5)
    unit.run(200)
    assert view.tobytes() != before


def test_frames_as_python_can_messages(unit):
    unit.run(1000)
    sent = unit.frames()
    assert sent and all(isinstance(m, can.Message) for m in sent)
    assert all(m.channel == 0 and not m.is_rx for m in sent), "the unit's own frames"
    assert all(0 < m.timestamp <= 1.0 for m in sent)
    assert unit.frames() == [], "frames() goes on where the last one stopped"
    unit.send(can.Message(arbitration_id=0x18FFA0B1, data=bytes(8)))
    unit.run(100)
    news = unit.frames()
    received = [m for m in news if m.is_rx]
    assert [(m.arbitration_id, m.timestamp) for m in received] == [(0x18FFA0B1, 1.0)]
    assert unit.frames(since_ms=1000)[0].timestamp >= 1.0
    assert len(unit.frames(since_ms=0)) == len(sent) + len(news)
    assert unit.frames(port=1) == []


def python_can_receive_loop(bus, wanted_id, count):
    """A receive loop as written for any python-can bus."""
    got = []
    for msg in bus:
        if msg.arbitration_id == wanted_id:
            got.append(msg)
            if len(got) == count:
                break
    return got


def python_can_send(bus):
    msg = can.Message(arbitration_id=0x18EFB000, data=[0x80, 0x00, 0x55, 0x01, 0, 0, 0, 0], is_extended_id=True)
    bus.send(msg)


@pytest.mark.norvane(installation=True)
def test_unmodified_python_can_loop_over_the_bus(unit):
    with unit.bus() as bus:
        assert isinstance(bus, can.BusABC)
        commands = python_can_receive_loop(bus, 0x18EFB000, 3)
        # PWRB1's command leaves every 100 ms of unit time.
        assert [round(m.timestamp - commands[0].timestamp, 3) for m in commands] == [0.0, 0.1, 0.2]
        assert all(m.is_rx and m.is_extended_id and m.channel == 0 for m in commands)
        start = unit.time_ms
        assert bus.recv(timeout=0.05) is not None
        bus.set_filters([{"can_id": 0x7FF, "can_mask": 0x7FF, "extended": False}])
        assert bus.recv(timeout=0.5) is None  # nothing on 0x7FF: half a second of unit time
        assert unit.time_ms - start >= 500
        bus.set_filters(None)
        assert not unit.output("PWRB1", 1)
        python_can_send(bus)  # PWRB1's command with output 1 on: the module obeys it
        sent_at = unit.time_ms
        assert unit.run_until(lambda: unit.output("PWRB1", 1), timeout_ms=100, step_ms=1) < sent_at + 100
        assert any(m.is_rx and m.arbitration_id == 0x18EFB000 for m in unit.frames(since_ms=start + 500))


@pytest.mark.norvane(installation=True)
def test_a_notifier_thread_drives_unit_time_itself(unit):
    heard = threading.Event()
    with unit.bus() as bus:
        notifier = can.Notifier(bus, [lambda msg: heard.set()], timeout=0.1)
        try:
            assert heard.wait(timeout=60), "no frame reached the notifier's listener"
        finally:
            notifier.stop()
    assert unit.time_ms > 0


@pytest.mark.norvane(installation=True)
def test_installation_actions_reach_the_lamps(unit):
    unit.run(2100)
    unit.click(3)
    unit.run(250)
    loads = unit.outputs()
    assert len(loads) == 64 and loads["INSIDE LIGHTS (PWRB1/3)"] and not loads["PORT FORE CABIN"]
    unit.switch("SENB1", 1, True)
    unit.run(200)
    assert unit.output("PWRB1", 1) and unit.outputs()["PORT FORE CABIN"]
    unit.expect("output PWRB1 1 on")
    unit.switch("SENB1", 1, False)
    unit.run(200)
    assert not unit.output("PWRB1", 1)
    unit.push("SENB1", 2, 200)
    unit.run(300)
    assert unit.output("PWRB1", 2)
    unit.tank(1, 50)
    unit.volts(4, 4.9)
    unit.fault("PWRB4", 2, 0, 3)
    unit.module("PWRB3", False)
    unit.module("PWRB1", "ignore")
    unit.run(500)


def test_expectations_fail_as_scenario_lines_do(unit, tmp_path):
    unit.run(2100)
    unit.click(3)
    unit.expect_can(0x18EFB000, "80..50010000", within_ms=100)
    unit.expect_can("18EFB300", [0x80, 0x00, 0x14, 0, 0, 0])
    with pytest.raises(AssertionError) as failed:
        unit.expect_can(0x18EFB000, "81", within_ms=30)
    start = unit.time_ms - 30
    assert str(failed.value).startswith("test_unit.py:")
    assert f": {start} expect can 0 18EFB000#81 within 30: not sent from {start} to {start + 30} ms" in str(failed.value)
    unit.expect("no-can 0 421 for 10")
    with pytest.raises(AssertionError, match=r"expect pixel 10 40 000000: "):
        unit.expect("pixel 10 40 000000")
    with pytest.raises(AssertionError, match=r"expect screen .*version.png: \d+ pixels differ"):
        unit.expect_screen(VERSION_PAGE)
    assert (tmp_path / "version_err.png").exists(), "the failed screen's picture is in the test's folder"


def test_page_golden_as_the_scenario_checks_it(unit):
    unit.run(1000)
    unit.expect_screen(VERSION_PAGE)


BAD_ARGUMENTS = [
    ("press", (6,), "button must be 1 to 5"),
    ("press", (0,), "button must be 1 to 5"),
    ("click", ("1",), "button must be a whole number"),
    ("event", (2,), "event must be 0 to 1"),
    ("run", (-1,), "ms must be 0"),
    ("pixel", (320, 0), "x must be 0 to 319"),
    ("save_screen", ("shot.jpg",), "saved as .png or .bmp"),
    ("frames", (2,), "port must be 0 to 1"),
    ("send", ("not a message",), "expected a can.Message"),
    ("send", (can.Message(arbitration_id=0x800, is_extended_id=False),), "at most 7FF"),
    ("expect_can", (0x421, "zz"), "data is not hex"),
    ("expect", ("pixel 400 0 000000",), ""),
    ("switch", ("SENB9", 1, True), "SENB1 to SENB3"),
    ("switch", ("SENB1", 11, True), "channel must be 1 to 10"),
    ("volts", (1, float("nan")), "volts must be a number"),
    ("tank", (5, 50), "tank must be 1 to 4"),
    ("fault", ("PWRB1", 8, 0, 0), "output must be 1 to 7"),
    ("module", ("XYZ1", True), "SENB1 to SENB4 or PWRB1 to PWRB8"),
    ("output", ("PWRB9", 1), "PWRB1 to PWRB8"),
    ("read_file", ("../etc/passwd",), "absolute path"),
]


@pytest.mark.norvane(installation=True)
@pytest.mark.parametrize("method,args,reason", BAD_ARGUMENTS, ids=[f"{m}{a!r}" for m, a, _ in BAD_ARGUMENTS])
def test_bad_arguments_raise_value_error(unit, method, args, reason):
    with pytest.raises(ValueError, match=reason.replace(".", r"\.")):
        getattr(unit, method)(*args)
    unit.run(30)  # the unit goes on


def test_installation_calls_without_one(unit):
    with pytest.raises(ValueError, match="no installation is attached"):
        unit.switch("SENB1", 1, True)
    with pytest.raises(ValueError, match="installation"):
        norvane.Unit(installation=42)


def test_files_and_commands(unit):
    unit.run(100)
    assert unit.command("nonsense") == "KO"
    assert unit.read_file("/app/event/app_reply").strip() == b"KO"
    with pytest.raises(FileNotFoundError):
        unit.read_file("/app/nothing_here")
