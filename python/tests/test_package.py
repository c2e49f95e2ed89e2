"""The package as users meet it: README's example, its type hints, and pip's install."""

from __future__ import annotations

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import zorvik

SOURCE = Path(os.environ.get("ZORVIK_SOURCE_DIR", Path(__file__).resolve().parents[2]))


def readme_examples() -> list[str]:
    text = (SOURCE / "README.md").read_text()
    return re.findall(r"```python\n(.*?)```", text, re.S)


def test_readme_example_runs_and_type_checks(tmp_path: Path) -> None:
    examples = readme_examples()
    assert examples, "README.md has no Python example"
    package = Path(zorvik.__file__).resolve().parent.parent
    env = {**os.environ, "PYTHONPATH": str(package), "MYPYPATH": str(package)}
    for index, code in enumerate(examples):
        script = tmp_path / f"example{index}.py"
        script.write_text(code)
        run = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, cwd=tmp_path, env=env)
        assert run.returncode == 0, run.stderr
    if shutil.which("mypy") is None:
        pytest.skip("mypy is not installed (apt install mypy)")
    run = subprocess.run(["mypy", "--strict", "--no-incremental", "--cache-dir", str(tmp_path / "cache"), *map(str, tmp_path.glob("example*.py"))],
                         capture_output=True, text=True, env=env, cwd=tmp_path)
    assert run.returncode == 0, run.stdout + run.stderr


def test_help_reads_like_the_standard_library() -> None:
    for name in zorvik.__all__:
        assert getattr(zorvik, name).__doc__, name
    assert "mode" in (zorvik.open.__doc__ or "") and "password" in (zorvik.open.__doc__ or "")


@pytest.mark.skipif(not os.environ.get("ZORVIK_BUILD_DIR"), reason="needs the build tree (ZORVIK_BUILD_DIR) to install from")
def test_pip_install_into_a_venv(tmp_path: Path) -> None:
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)], check=True)
    source = tmp_path / "python"
    # A copy, so that pip's build folders stay out of the repository.
    shutil.copytree(SOURCE / "python", source, ignore=shutil.ignore_patterns("build", "*.egg-info", "__pycache__", "tests"))
    env = {**os.environ, "ZORVIK_REPOSITORY": str(SOURCE), "PIP_NO_INDEX": "1", "ZORVIK_BUILD_JOBS": "2"}
    env.pop("PYTHONPATH", None)
    run = subprocess.run([str(venv / "bin" / "pip"), "install", "--no-build-isolation", str(source)], capture_output=True,
                         text=True, env=env)
    assert run.returncode == 0, run.stdout[-3000:] + run.stderr[-3000:]
    check = "import zorvik, io; a = zorvik.open(io.BytesIO(), 'w'); a.add_bytes('x', b'1'); a.close(); print(zorvik.__file__)"
    run = subprocess.run([str(venv / "bin" / "python"), "-c", check], capture_output=True, text=True, env=env, cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    assert str(venv) in run.stdout
