"""Shared fixtures: a folder tree with files of several kinds, and the peers' archivers."""

from __future__ import annotations

import os
import random
import shutil
from pathlib import Path

import pytest

SEVEN_ZIP = shutil.which("7zz")


def make_tree(root: Path) -> dict[str, bytes]:
    """A tree under root/tree; its files' contents by archive path (below "tree/")."""
    rng = random.Random(7)
    files = {
        "tree/a.txt": b"alpha\n" * 1000,
        "tree/empty.bin": b"",
        "tree/sub/b.bin": bytes(rng.getrandbits(8) for _ in range(70_000)),
        "tree/sub/deeper/c.txt": "naïve ünïcode\n".encode() * 50,
        "tree/sub/run.sh": b"#!/bin/sh\necho hi\n",
    }
    for name, data in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    os.chmod(root / "tree/sub/run.sh", 0o755)
    os.symlink("a.txt", root / "tree/link-to-a")
    return files


@pytest.fixture
def tree(tmp_path: Path) -> tuple[Path, dict[str, bytes]]:
    return tmp_path, make_tree(tmp_path)


def files_below(folder: Path) -> dict[str, bytes]:
    """Every regular file below folder by its path relative to it, with "/"."""
    found = {}
    for path in folder.rglob("*"):
        if path.is_file() and not path.is_symlink():
            found[path.relative_to(folder).as_posix()] = path.read_bytes()
    return found
