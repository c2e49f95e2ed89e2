"""The zorvik package against the standard library's archivers and 7zz, on the same files."""

from __future__ import annotations

import fcntl
import io
import os
import signal
import stat
import subprocess
import tarfile
import threading
import zipfile
from pathlib import Path
from typing import Callable

import pytest

import zorvik
from conftest import SEVEN_ZIP, files_below, make_tree

needs_7zz = pytest.mark.skipif(SEVEN_ZIP is None, reason="7zz is not installed (apt install 7zip)")


# ---- archives made by the peers, archives the peers read -----------------------------------

def peer_zip(root: Path, target: Path) -> None:
    with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as archive:
        for path in sorted((root / "tree").rglob("*")):
            archive.write(path, path.relative_to(root).as_posix())


def peer_tar(root: Path, target: Path) -> None:
    with tarfile.open(target, "w:gz" if target.name.endswith(".gz") else "w") as archive:
        archive.add(root / "tree", "tree")


def peer_7z(root: Path, target: Path) -> None:
    subprocess.run([SEVEN_ZIP, "a", "-snl", str(target), "tree"], cwd=root, check=True, stdout=subprocess.DEVNULL)


def read_zip(archive_path: Path) -> dict[str, bytes]:
    with zipfile.ZipFile(archive_path) as archive:
        return {info.filename: archive.read(info) for info in archive.infolist() if not info.is_dir() and info.filename != "tree/link-to-a"}


def read_tar(archive_path: Path) -> dict[str, bytes]:
    with tarfile.open(archive_path) as archive:
        found = {}
        for member in archive.getmembers():
            if member.isfile():
                extracted = archive.extractfile(member)
                assert extracted is not None
                found[member.name] = extracted.read()
        return found


def read_7z(archive_path: Path) -> dict[str, bytes]:
    out = archive_path.parent / "peer-out"
    subprocess.run([SEVEN_ZIP, "x", "-snl", f"-o{out}", str(archive_path)], check=True, stdout=subprocess.DEVNULL)
    return files_below(out)


FORMATS = [
    pytest.param("zip", peer_zip, read_zip, True, id="zip"),
    pytest.param("tar", peer_tar, read_tar, True, id="tar"),
    pytest.param("tar.gz", peer_tar, read_tar, False, id="tar.gz"),
    pytest.param("7z", peer_7z, read_7z, True, marks=needs_7zz, id="7z"),
]


@pytest.mark.parametrize("extension, make, read, keeps_links", FORMATS)
def test_round_trip_with_peers(tmp_path: Path, extension: str, make: Callable[[Path, Path], None],
                               read: Callable[[Path], dict[str, bytes]], keeps_links: bool) -> None:
    files = make_tree(tmp_path)
    made = tmp_path / f"peer.{extension}"
    make(tmp_path, made)

    # What the peer wrote, read three ways: read(), open_entry() and extractall().
    with zorvik.open(made) as archive:
        entries = {entry.path: entry for entry in archive}
        assert set(files) <= set(entries)
        assert entries["tree/sub"].is_dir and "tree/sub" in archive and len(archive) == len(entries)
        for name, data in files.items():
            assert entries[name].size == len(data)
            assert archive.read(name) == data
            with archive.open_entry(name) as stream:
                assert b"".join(iter(lambda: stream.read(4096), b"")) == data
        assert entries["tree/a.txt"].modified is not None and entries["tree/a.txt"].modified.tzinfo is not None
        if extension != "zip":
            assert stat.S_IMODE(entries["tree/sub/run.sh"].mode) == 0o755
            assert entries["tree/link-to-a"].link_target == "a.txt"
        assert archive.info.format and archive.info.packed_size == made.stat().st_size
        archive.extractall(tmp_path / "out")
    assert {k: v for k, v in files_below(tmp_path / "out").items() if k in files} == files

    # What we write, read by the peer.
    ours = tmp_path / "ours" / f"ours.{extension}"
    ours.parent.mkdir()
    with zorvik.open(ours, "w") as archive:
        archive.add(tmp_path / "tree")
        archive.add_bytes("extra/note.txt", b"note")
    assert read(ours) == {**files, "extra/note.txt": b"note"}
    with zorvik.open(ours) as archive:
        if keeps_links:
            assert archive["tree/link-to-a"].link_target == "a.txt"
        assert stat.S_IMODE(archive["tree/sub/run.sh"].mode) == 0o755


# ---- updating ------------------------------------------------------------------------------

def small_zip(path: Path) -> None:
    with zipfile.ZipFile(path, "w") as archive:
        archive.writestr("docs/a.txt", b"a")
        archive.writestr("docs/b.txt", b"b")
        archive.writestr("top.txt", b"top")
        archive.writestr("other/", b"")


UPDATES = [
    # (changes, on_conflict, expected contents afterwards)
    (lambda a: a.add_bytes("new.txt", b"n"), None, {"docs/a.txt": b"a", "docs/b.txt": b"b", "top.txt": b"top", "new.txt": b"n"}),
    (lambda a: a.remove("docs"), None, {"top.txt": b"top"}),
    (lambda a: a.rename("docs/a.txt", "z.txt"), None, {"docs/z.txt": b"a", "docs/b.txt": b"b", "top.txt": b"top"}),
    (lambda a: a.move(["top.txt", "docs/b.txt"], "other"), None,
     {"docs/a.txt": b"a", "other/top.txt": b"top", "other/b.txt": b"b"}),
    (lambda a: a.add_bytes("top.txt", b"new"), "replace", {"docs/a.txt": b"a", "docs/b.txt": b"b", "top.txt": b"new"}),
    (lambda a: a.add_bytes("top.txt", b"new"), "skip", {"docs/a.txt": b"a", "docs/b.txt": b"b", "top.txt": b"top"}),
]


@pytest.mark.parametrize("change, on_conflict, expected", UPDATES)
@pytest.mark.parametrize("target", ["path", "file object"])
def test_update_modes(tmp_path: Path, change: Callable[[zorvik.Archive], None], on_conflict: str | None,
                      expected: dict[str, bytes], target: str) -> None:
    path = tmp_path / "u.zip"
    small_zip(path)
    if target == "path":
        with zorvik.open(path, "a", on_conflict=on_conflict) as archive:
            change(archive)
        got = read_zip(path)
    else:
        buffer = io.BytesIO(path.read_bytes())
        with zorvik.open(buffer, "a", on_conflict=on_conflict) as archive:
            change(archive)
        got = read_zip_bytes(buffer.getvalue())
    assert got == expected


def read_zip_bytes(data: bytes) -> dict[str, bytes]:
    with zipfile.ZipFile(io.BytesIO(data)) as archive:
        return {info.filename: archive.read(info) for info in archive.infolist() if not info.is_dir()}


def test_rename_on_conflict_and_new_archives(tmp_path: Path) -> None:
    path = tmp_path / "u.zip"
    small_zip(path)
    with zorvik.open(path, "a") as archive:
        archive.add_bytes("top.txt", b"second", on_conflict="rename")
    got = read_zip(path)
    assert got["top.txt"] == b"top" and b"second" in got.values() and len(got) == 4
    # A new archive settles its own duplicates; "w" into a file object.
    buffer = io.BytesIO()
    with zorvik.open(buffer, "w", format="zip") as archive:
        archive.add_bytes("x.txt", b"1")
        archive.add_bytes("x.txt", b"2", on_conflict="replace")
        archive.add_bytes("y.txt", b"3")
        archive.add_bytes("y.txt", b"4", on_conflict="rename")
    assert read_zip_bytes(buffer.getvalue()) == {"x.txt": b"2", "y.txt": b"3", "y (2).txt": b"4"}
    with zorvik.open(io.BytesIO(buffer.getvalue())) as archive:
        assert archive.read("x.txt") == b"2" and archive.info.format.lower() == "zip"


# ---- every error -------------------------------------------------------------------------

def encrypted_7z(tmp_path: Path, headers: bool) -> Path:
    (tmp_path / "secret.txt").write_bytes(b"secret data" * 100)
    path = tmp_path / ("names.7z" if headers else "data.7z")
    args = [SEVEN_ZIP, "a", "-pright", str(path), "secret.txt"] + (["-mhe=on"] if headers else [])
    subprocess.run(args, cwd=tmp_path, check=True, stdout=subprocess.DEVNULL)
    return path


def damaged_zip(tmp_path: Path) -> Path:
    path = tmp_path / "damaged.zip"
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as archive:
        archive.writestr("bad.txt", b"x" * 5000)
    data = bytearray(path.read_bytes())
    data[30 + len("bad.txt") + 100] ^= 0xFF
    path.write_bytes(bytes(data))
    return path


def not_an_archive(tmp_path: Path) -> None:
    (tmp_path / "notes.txt").write_text("just text\n" * 100)
    zorvik.open(tmp_path / "notes.txt")


def busy(tmp_path: Path) -> None:
    path = tmp_path / "busy.zip"
    small_zip(path)
    with path.open("rb") as held:
        fcntl.flock(held, fcntl.LOCK_EX | fcntl.LOCK_NB)
        with zorvik.open(path, "a") as archive:
            archive.add_bytes("more.txt", b"m")


def read_only(tmp_path: Path) -> None:
    path = tmp_path / "ro.zip"
    small_zip(path)
    path.chmod(0o444)
    with zorvik.open(path, "a") as archive:
        archive.remove("top.txt")


def duplicate(tmp_path: Path) -> None:
    path = tmp_path / "dup.zip"
    small_zip(path)
    with zorvik.open(path, "a") as archive:
        archive.add_bytes("top.txt", b"again")


def missing_entry(tmp_path: Path) -> None:
    path = tmp_path / "m.zip"
    small_zip(path)
    zorvik.open(path).read("docs/none.txt")


ERRORS = [
    pytest.param(not_an_archive, zorvik.NotAnArchive, ["notes.txt"], id="NotAnArchive"),
    pytest.param(lambda p: zorvik.open(encrypted_7z(p, True)), zorvik.PasswordRequired, ["names.7z"], marks=needs_7zz,
                 id="PasswordRequired-headers"),
    pytest.param(lambda p: zorvik.open(encrypted_7z(p, False)).read("secret.txt"), zorvik.PasswordRequired,
                 ["data.7z", "secret.txt"], marks=needs_7zz, id="PasswordRequired-entry"),
    pytest.param(lambda p: zorvik.open(encrypted_7z(p, True), password="wrong"), zorvik.WrongPassword, ["names.7z"],
                 marks=needs_7zz, id="WrongPassword-headers"),
    pytest.param(lambda p: zorvik.open(encrypted_7z(p, False), password="wrong").read("secret.txt"), zorvik.WrongPassword,
                 ["data.7z", "secret.txt"], marks=needs_7zz, id="WrongPassword-entry"),
    pytest.param(busy, zorvik.ArchiveBusy, ["busy.zip"], id="ArchiveBusy"),
    pytest.param(lambda p: zorvik.open(damaged_zip(p)).test(), zorvik.DamagedArchive, ["damaged.zip", "bad.txt"], id="DamagedArchive"),
    pytest.param(read_only, zorvik.CannotWrite, ["ro.zip"], id="CannotWrite"),
    pytest.param(duplicate, zorvik.AlreadyExists, ["dup.zip", "top.txt"], id="AlreadyExists"),
    pytest.param(missing_entry, KeyError, ["m.zip", "docs/none.txt"], id="EntryNotFound"),
]


@pytest.mark.parametrize("provoke, expected, named", ERRORS)
def test_errors(tmp_path: Path, provoke: Callable[[Path], object], expected: type[BaseException], named: list[str]) -> None:
    with pytest.raises(expected) as raised:
        provoke(tmp_path)
    assert isinstance(raised.value, zorvik.Error)
    for name in named:
        assert name in str(raised.value)


@needs_7zz
def test_passwords_fixed_and_asked(tmp_path: Path) -> None:
    path = encrypted_7z(tmp_path, True)
    asked: list[int] = []

    def ask(attempt: int) -> str | None:
        asked.append(attempt)
        return "wrong" if attempt == 1 else "right"

    with zorvik.open(path, password=ask) as archive:
        assert archive.read("secret.txt") == b"secret data" * 100
    assert asked == [1, 2]
    with pytest.raises(zorvik.PasswordRequired):  # a callable that gives up
        zorvik.open(path, password=lambda: None)


# ---- callbacks that raise, interrupts, threads ----------------------------------------------

def big_zip(tmp_path: Path, files: int = 24, size: int = 2 << 20) -> Path:
    path = tmp_path / "big.zip"
    block = os.urandom(size)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as archive:
        for index in range(files):
            archive.writestr(f"f{index:02d}.bin", block[index:] + block[:index])
    return path


class Boom(Exception):
    pass


def raise_boom(done: int, total: int) -> None:
    if done > 0:
        raise Boom("from the callback")


def raise_interrupt(done: int, total: int) -> None:
    if done > 0:
        raise KeyboardInterrupt


def send_sigint() -> Callable[[int, int], None]:
    sent = threading.Event()

    def progress(done: int, total: int) -> None:
        if done > 0 and not sent.is_set():
            sent.set()
            threading.Thread(target=os.kill, args=(os.getpid(), signal.SIGINT)).start()
        threading.Event().wait(0.005)  # slow enough for the signal to arrive mid-way

    return progress


@pytest.mark.parametrize("progress, expected", [
    pytest.param(raise_boom, Boom, id="callback-raises"),
    pytest.param(raise_interrupt, KeyboardInterrupt, id="callback-interrupts"),
    pytest.param(send_sigint, KeyboardInterrupt, id="sigint"),
])
def test_extraction_cancelled(tmp_path: Path, progress: Callable[..., object], expected: type[BaseException]) -> None:
    path = big_zip(tmp_path)
    hook = progress() if progress is send_sigint else progress
    out = tmp_path / "out"
    with zorvik.open(path) as archive:
        with pytest.raises(expected):
            archive.extractall(out, progress=hook)
        # The archive still works, and every file written is whole.
        expected_files = {entry.path: archive.read(entry) for entry in archive}
    written = files_below(out) if out.exists() else {}
    assert len(written) < len(expected_files)
    assert all(expected_files[name] == data for name, data in written.items())


def test_failed_write_leaves_original(tmp_path: Path) -> None:
    path = tmp_path / "keep.zip"
    small_zip(path)
    before = path.read_bytes()
    archive = zorvik.open(path, "a")
    archive.add_bytes("big.bin", os.urandom(4 << 20))
    with pytest.raises(Boom):
        archive.close(progress=raise_boom)
    assert path.read_bytes() == before
    assert [p.name for p in tmp_path.iterdir()] == ["keep.zip"]  # no temporary file left


def test_password_callable_raises(tmp_path: Path) -> None:
    if SEVEN_ZIP is None:
        pytest.skip("7zz is not installed")
    path = encrypted_7z(tmp_path, False)

    def ask(attempt: int) -> str:
        raise Boom("no prompt here")

    with zorvik.open(path) as archive, pytest.raises(Boom):
        archive.read("secret.txt", password=ask)


def test_threads_on_separate_archives(tmp_path: Path) -> None:
    archives = []
    for index in range(4):
        folder = tmp_path / f"t{index}"
        folder.mkdir()
        path = big_zip(folder, files=6, size=1 << 20)
        archives.append(path)
    expected = read_zip(archives[0].parent / "big.zip")
    results: dict[int, object] = {}

    def work(index: int) -> None:
        try:
            with zorvik.open(archives[index]) as archive:
                got = {entry.path: archive.read(entry.path) for entry in archive}
                archive.extractall(archives[index].parent / "out")
                archive.test()
            results[index] = got == read_zip(archives[index]) and files_below(archives[index].parent / "out") == got
        except BaseException as error:  # reported below
            results[index] = error

    threads = [threading.Thread(target=work, args=(index,)) for index in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(120)
    assert results == {0: True, 1: True, 2: True, 3: True}
    assert expected


def test_entry_stream_holds_no_whole_entry(tmp_path: Path) -> None:
    path = tmp_path / "large.zip"
    data = os.urandom(1 << 20) * 24  # 24 MiB
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as archive:
        archive.writestr("large.bin", data)
        archive.writestr("small.txt", b"s")
    with zorvik.open(path) as archive:
        with archive.open_entry("large.bin") as stream:
            assert stream.read(10) == data[:10]
            assert stream.read(1 << 20) == data[10:10 + (1 << 20)]
        # Closed early: the decoding stopped, the archive serves the next call.
        assert archive.read("small.txt") == b"s"
        with archive.open_entry("large.bin") as stream:
            assert stream.read() == data
        with pytest.raises(zorvik.IsAFolder):
            zorvik.open(big_zip(tmp_path)).open_entry("")
