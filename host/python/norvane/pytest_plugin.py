"""pytest plugin: a fresh unit per test.

    pytest -p norvane.pytest_plugin            # or in conftest.py:
    pytest_plugins = ["norvane.pytest_plugin"]

    def test_boot(unit):
        unit.run(1000)
        assert unit.pixel(10, 40) == (136, 172, 144)

The `unit` fixture is a norvane.Unit in the test's tmp_path (its working
folder tmp_path/unit, failed pictures in tmp_path). Options: --norvane-installation
(the default installation, or =FILE for a description file), or per test
@pytest.mark.norvane(installation=True). When a test fails, the screen and
the CAN log are saved beside the test's files (tmp_path/screen.png,
tmp_path/can.log) and their paths printed in the report.
"""

import os

import pytest

import norvane


def pytest_addoption(parser):
    group = parser.getgroup("norvane")
    group.addoption("--norvane-installation", nargs="?", const=True, default=None, metavar="FILE",
                    help="attach the simulated installation to every unit (FILE: its description)")


def pytest_configure(config):
    config.addinivalue_line("markers", "norvane(installation=None, can1=None): how the test's unit is opened")


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    setattr(item, "norvane_report_" + report.when, report)


@pytest.fixture
def unit(request, tmp_path):
    options = {"installation": request.config.getoption("--norvane-installation")}
    marker = request.node.get_closest_marker("norvane")
    if marker:
        options.update(marker.kwargs)
    the_unit = norvane.Unit(workdir=tmp_path / "unit", **options)
    the_unit.output_dir = str(tmp_path)
    try:
        yield the_unit
    finally:
        report = getattr(request.node, "norvane_report_call", None)
        if report is not None and report.failed and not the_unit.closed:
            saved = []
            for name, save in (("screen.png", the_unit.save_screen), ("can.log", the_unit.save_can_log)):
                path = os.path.join(str(tmp_path), name)
                try:
                    save(path)
                    saved.append(path)
                except (OSError, RuntimeError, ValueError) as e:
                    saved.append(f"{name} not saved: {e}")
            report.sections.append(("norvane", "\n".join(saved)))
            print("\nnorvane: " + "\nnorvane: ".join(saved))
        the_unit.close()
