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


def test_the_pytest_example_passes(tmp_path):
    example = tmp_path / "test_lights.py"
    example.write_text(readme_examples()[0])
    done = subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", "-p",
                           "norvane.pytest_plugin", "--rootdir", str(tmp_path), str(example)],
                          cwd=SOURCE, capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr
    assert "1 passed" in done.stdout


def test_the_python_can_example_runs(tmp_path):
    done = subprocess.run([sys.executable, "-c", readme_examples()[1]], cwd=tmp_path, capture_output=True,
                          text=True)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert any("ID: 18efb000" in line for line in lines)
    assert "Timestamp:        3.0" in lines[-1]
