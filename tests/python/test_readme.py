"""The README's two Python examples run as printed, from the top of the tree."""

import os
import pathlib
import re
import subprocess
import sys

SOURCE = pathlib.Path(os.environ.get("NORVANE_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))


def readme_examples():
    text = (SOURCE / "README.md").read_text()
    section = text[text.index("## Tests in Python"):]
    section = section[:section.index("\n## ", 1)]
    return re.findall(r"```python\n(.*?)```", section, re.S)


def child_environment():
    """This process's environment with the package it imported on the path, as
    an absolute folder: the examples run from other folders."""
    import norvane
    package_root = str(pathlib.Path(norvane.__file__).resolve().parents[1])
    paths = [package_root] + [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p]
    return dict(os.environ, PYTHONPATH=os.pathsep.join(paths))


def test_the_pytest_example_passes(tmp_path):
    example = tmp_path / "test_lights.py"
    example.write_text(readme_examples()[0])
    done = subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", "-p",
                           "norvane.pytest_plugin", "--rootdir", str(tmp_path), str(example)],
                          cwd=SOURCE, env=child_environment(), capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr
    assert "1 passed" in done.stdout


def test_the_python_can_example_runs(tmp_path):
    done = subprocess.run([sys.executable, "-c", readme_examples()[1]], cwd=tmp_path, env=child_environment(),
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert any("ID: 18efb000" in line for line in lines)
    assert "Timestamp:        3.0" in lines[-1]
