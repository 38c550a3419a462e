"""A page golden and a circuit scenario of tests/, driven from Python: the same
pixels and the same frames as norvane-run gives for them."""

import os
import pathlib
import subprocess

import pytest
from PIL import Image

import norvane

TESTS = pathlib.Path(os.environ.get("NORVANE_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2])) / "tests"
RUNNER = os.environ.get("NORVANE_RUN")

pytestmark = pytest.mark.skipif(not RUNNER, reason="NORVANE_RUN names no norvane-run (ctest sets it)")


def norvane_run(tmp_path, *args):
    subprocess.run([RUNNER, "--workdir", str(tmp_path / "run"), "--quiet", *map(str, args)], check=True,
                   capture_output=True, text=True)


def test_version_page_has_norvane_runs_pixels(unit, tmp_path):
    # firmware/screens/scenarios/version.txt: the version page at 1000 ms.
    norvane_run(tmp_path, "--duration", 1000, "--screenshot", f"1000:{tmp_path / 'run.png'}")
    unit.run(1000)
    assert unit.screen().tobytes() == Image.open(tmp_path / "run.png").convert("RGB").tobytes()
    unit.expect_screen(TESTS / "firmware" / "screens" / "golden" / "version.png")


def test_inside_lights_has_norvane_runs_frames(unit, tmp_path):
    # firmware/model/scenarios/inside_lights.txt: button 3 from 2100 to 2200 ms,
    # checked as that file checks it, and the run to its exit at 2300 ms.
    scenario = TESTS / "firmware" / "model" / "scenarios" / "inside_lights.txt"
    norvane_run(tmp_path, "--scenario", scenario, "--can-log", tmp_path / "run.log")
    unit.run(2000)
    unit.expect_can(0x18EFB000, "800000000000", within_ms=0)
    unit.run(100)
    unit.press(3)
    unit.expect_can(0x18EFB000, "800000000000", within_ms=0)
    unit.run(50)
    unit.expect_can(0x18EFB000, "80..50010000", within_ms=50)
    unit.run(2200 - unit.time_ms)
    unit.release(3)
    unit.run(1)
    unit.expect("no-can 0 18EFB000 for 98")
    unit.run(1)
    unit.expect_can(0x18EFB000, "800050010000", within_ms=0)
    assert unit.time_ms == 2300
    unit.save_can_log(tmp_path / "python.log")
    assert (tmp_path / "python.log").read_text() == (tmp_path / "run.log").read_text()
    lines = (tmp_path / "python.log").read_text().splitlines()
    assert len(lines) > 100 and lines[-1].startswith("(0000000002.300000) can0 ")
