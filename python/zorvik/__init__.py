"""Read, test, extract, create and update archives of every format the component knows.

One API for 7z, zip, RAR (encrypted ones included), tar and its compressed forms, ISO, cab and
the rest, shaped after :mod:`zipfile` and :mod:`tarfile`::

    import zorvik

    with zorvik.open("photos.7z") as archive:
        for entry in archive:
            print(entry.path, entry.size)
        data = archive.read("docs/readme.txt")
        archive.extractall("out")

    with zorvik.open("new.zip", "w") as archive:
        archive.add("photos")                  # a folder tree, modes and links kept
        archive.add_bytes("notes.txt", b"hello")

The work runs in native code without the GIL; callbacks (progress, password) are called with
it held, from the component's threads. Ctrl-C cancels a running call, which then raises
KeyboardInterrupt; a write that fails or is cancelled leaves the original archive as it was.
"""

from __future__ import annotations

import datetime as _datetime
import gc as _gc
import inspect as _inspect
import io as _io
import os as _os
from dataclasses import dataclass as _dataclass
from typing import IO, Any, Callable, Iterable, Iterator, Optional, Union

from . import _zorvik
from ._errors import (
    AlreadyExists,
    ArchiveBusy,
    CannotWrite,
    Cancelled,
    DamagedArchive,
    EntryNotFound,
    Error,
    IsAFolder,
    NotAnArchive,
    PasswordRequired,
    WrongPassword,
)

__all__ = [
    "open",
    "Archive",
    "Entry",
    "ArchiveInfo",
    "formats",
    "Error",
    "NotAnArchive",
    "WrongPassword",
    "PasswordRequired",
    "ArchiveBusy",
    "DamagedArchive",
    "CannotWrite",
    "EntryNotFound",
    "AlreadyExists",
    "IsAFolder",
    "Cancelled",
]

__version__ = "0.1.0"

StrPath = Union[str, "_os.PathLike[str]"]
Password = Union[str, bytes, Callable[..., Optional[str]], None]
Progress = Optional[Callable[[int, int], Any]]

_EPOCH = _datetime.datetime(1970, 1, 1, tzinfo=_datetime.timezone.utc)
_CONFLICTS = (None, "raise", "replace", "skip", "rename")


class Entry:
    """One entry of an archive: a file, a folder or a link.

    ``path`` is the whole path with "/" between names, ``name`` its last part. ``modified`` is
    an aware :class:`datetime.datetime` in UTC, or None when the archive records no time.
    ``mode`` holds the POSIX type and permission bits (0 when the archive has none) and
    ``link_target`` the target of a symbolic link (None for anything else).
    """

    __slots__ = ("path", "name", "is_dir", "size", "packed_size", "_ticks", "encrypted", "mode", "link_target")

    path: str
    name: str
    is_dir: bool
    size: int
    packed_size: int
    encrypted: bool
    mode: int
    link_target: Optional[str]

    def __init__(self, row: tuple[Any, ...]) -> None:
        (
            self.path,
            self.name,
            self.is_dir,
            self.size,
            self.packed_size,
            self._ticks,
            self.encrypted,
            self.mode,
            self.link_target,
        ) = row

    @property
    def modified(self) -> Optional[_datetime.datetime]:
        """When the entry was last modified (UTC), or None."""
        if self._ticks is None:
            return None
        return _EPOCH + _datetime.timedelta(microseconds=self._ticks // 10)

    def is_file(self) -> bool:
        """True for a file (not a folder, not a link)."""
        return not self.is_dir and self.link_target is None

    def is_symlink(self) -> bool:
        """True for a symbolic link."""
        return self.link_target is not None

    def __repr__(self) -> str:
        kind = "dir" if self.is_dir else "link" if self.link_target is not None else "file"
        return f"<zorvik.Entry {self.path!r} {kind} size={self.size}>"


@_dataclass(frozen=True)
class ArchiveInfo:
    """What an opened archive is: its format (the engine's name: "7z", "zip", "tar" of a
    .tar.gz ...), packed size (the bytes of its file, volumes included), unpacked size, entry
    count, whether it spans volumes, whether it can be updated and whether it is encrypted."""

    format: str
    packed_size: int
    unpacked_size: int
    file_count: int
    multi_volume: bool
    can_update: bool
    encrypted: bool


def _password_rule(password: Password) -> Any:
    """A callable is asked with the attempt number (1 first); one taking no argument is
    asked without it."""
    if password is None or isinstance(password, (str, bytes)):
        return password
    if not callable(password):
        raise TypeError("password must be a str, bytes, a callable or None")
    try:
        takes = len(_inspect.signature(password).parameters)
    except (TypeError, ValueError):
        takes = 1
    if takes == 0:
        ask = password
        return lambda attempt: ask()
    return password


def _fspath(path: Any) -> str:
    return _os.fsdecode(_os.fspath(path))


def _entry_path(path: Union[str, Entry]) -> str:
    return path.path if isinstance(path, Entry) else path


class _EntryStream(_io.RawIOBase):
    """The raw stream under :meth:`Archive.open_entry`."""

    def __init__(self, reader: Any, name: str) -> None:
        super().__init__()
        self._reader = reader
        self.name = name

    def readable(self) -> bool:
        return True

    def readinto(self, buffer: Any) -> int:
        view = memoryview(buffer).cast("B")
        data = self._reader.read(len(view))
        view[: len(data)] = data
        return len(data)

    def readall(self) -> bytes:
        return bytes(self._reader.read(-1))

    def close(self) -> None:
        if not self.closed:
            self._reader.close()
        super().close()


class Archive:
    """An opened archive; made by :func:`zorvik.open`. A context manager: leaving the block
    closes it, which in modes "a", "w" and "x" writes what was changed (and nothing when the
    block ends with an exception).

    Iterating gives its :class:`Entry` objects, folders before what they hold;
    ``archive[path]`` is one (KeyError when none has the path), ``path in archive`` and
    ``len(archive)`` work as for a mapping. One archive is for one thread at a time; separate
    archives may be used from as many threads at once.
    """

    def __init__(self, *, impl: Any, mode: str, path: Optional[str], fileobj: Optional[IO[bytes]], label: str,
                 password: Password, options: Any, progress: Progress, on_conflict: Optional[str],
                 packed_size: int, multi_volume: bool) -> None:
        self._impl = impl
        self.mode = mode
        self._path = path
        self._fileobj = fileobj
        self._start = fileobj.tell() if fileobj is not None and mode in ("w", "x") else 0
        self.name = label
        self._password = _password_rule(password)
        self._options = options
        self._progress = progress
        self.on_conflict = on_conflict
        self._packed_size = packed_size
        self._multi_volume = multi_volume
        self._changes: list[tuple[str, Any, Any]] = []
        self._policies: list[tuple[str, str]] = []
        self._added: set[str] = set()
        self._entries: Optional[list[Entry]] = None
        self._by_path: Optional[dict[str, Entry]] = None
        self._closed = False

    # ---- reading -------------------------------------------------------------------------

    def entries(self) -> list[Entry]:
        """Every entry, folders before what they hold, as the archive was opened (changes
        made in mode "a" show once it is closed and opened again)."""
        if self._entries is None:
            # Many new objects and no cycles among them: the collector's passes over them
            # would only cost time.
            collecting = _gc.isenabled()
            _gc.disable()
            try:
                self._entries = [Entry(row) for row in self._reader().entries()] if self._impl is not None else []
            finally:
                if collecting:
                    _gc.enable()
        return list(self._entries)

    def names(self) -> list[str]:
        """Every entry's path, as :meth:`zipfile.ZipFile.namelist` gives them."""
        return [entry.path for entry in self.entries()]

    def _lookup(self) -> dict[str, Entry]:
        if self._by_path is None:
            self._by_path = {entry.path: entry for entry in self.entries()}
        return self._by_path

    def __iter__(self) -> Iterator[Entry]:
        return iter(self.entries())

    def __len__(self) -> int:
        return len(self._lookup())

    def __contains__(self, path: object) -> bool:
        if isinstance(path, Entry):
            path = path.path
        return isinstance(path, str) and path in self._lookup()

    def __getitem__(self, path: str) -> Entry:
        entry = self._lookup().get(path)
        if entry is None:
            raise EntryNotFound(f"{self.name}: '{path}': no such entry", reason="no such entry", archive=self.name, entry=path)
        return entry

    @property
    def info(self) -> ArchiveInfo:
        """The archive's :class:`ArchiveInfo`."""
        if self._impl is None:
            fmt = self._options.format
            return ArchiveInfo(fmt, 0, 0, 0, False, True, self._options.password is not None)
        facts = self._reader().info()
        return ArchiveInfo(format=facts["format"], packed_size=self._packed_size, unpacked_size=facts["unpacked_size"],
                           file_count=facts["file_count"], multi_volume=self._multi_volume, can_update=facts["can_update"],
                           encrypted=facts["encrypted"])

    def read(self, path: Union[str, Entry], *, password: Password = None) -> bytes:
        """The data of the file at path, whole, as bytes.

        Raises EntryNotFound (a KeyError) when no entry has the path, IsAFolder for a folder,
        PasswordRequired or WrongPassword for an encrypted one, DamagedArchive when its data
        fails its check.
        """
        rule = _password_rule(password)
        return bytes(self._reader().read(_entry_path(path), rule))

    def open_entry(self, path: Union[str, Entry], *, password: Password = None) -> _io.BufferedReader:
        """A readable binary file object over the file at path, decoded as it is read, never
        held whole. Close it (or use ``with``) to stop the decoding early."""
        rule = _password_rule(password)
        name = _entry_path(path)
        reader = self._reader().open_entry(name, rule)
        return _io.BufferedReader(_EntryStream(reader, name), buffer_size=1 << 16)

    def extractall(self, path: StrPath = ".", members: Optional[Iterable[Union[str, Entry]]] = None, *,
                   overwrite: bool = False, preserve_permissions: bool = False, password: Password = None,
                   progress: Progress = None) -> None:
        """Extracts every entry (or the members named, with what folders hold) into the
        folder path, created when missing.

        Nothing is written outside it: ".." and absolute names are refused, no symbolic link
        is followed on the way and a link is made only when its target stays inside. Each
        file is written under a temporary name and takes its own once whole, so a failure or
        Ctrl-C leaves no half-written file. An existing file raises AlreadyExists unless
        overwrite. Modes keep setuid, setgid and sticky bits only with preserve_permissions.
        """
        rule = _password_rule(password)
        chosen = None if members is None else [_entry_path(member) for member in members]
        self._reader().extract(_fspath(path), chosen, overwrite, preserve_permissions, rule, progress or self._progress)

    def extract(self, member: Union[str, Entry], path: StrPath = ".", *, overwrite: bool = False,
                password: Password = None, progress: Progress = None) -> str:
        """Extracts one entry (a folder with what it holds) below path, at its path in the
        archive, as :meth:`extractall` does; returns the path written."""
        name = _entry_path(member)
        self.extractall(path, [name], overwrite=overwrite, password=password, progress=progress)
        return _os.path.join(_fspath(path), *name.split("/"))

    def test(self, *, password: Password = None, progress: Progress = None) -> None:
        """Decodes every entry and checks it, writing nothing. Raises DamagedArchive naming the
        first bad entry, or PasswordRequired / WrongPassword."""
        rule = _password_rule(password)
        self._reader().test(rule, progress or self._progress)

    # ---- writing -------------------------------------------------------------------------

    def add(self, path: StrPath, arcname: Optional[str] = None, *, on_conflict: Optional[str] = None) -> None:
        """Adds the file or folder tree at path as arcname (its own name when None; "" puts a
        folder's content at the top), with times, modes and symbolic links (stored as links).
        Files are read when the archive is written, at close."""
        disk = _fspath(path)
        if not _os.path.lexists(disk):
            raise FileNotFoundError(2, "No such file or directory", disk)
        name = arcname if arcname is not None else _os.path.basename(_os.path.normpath(disk))
        self._add(("add", disk, arcname), name, on_conflict, _os.path.isdir(disk))

    def add_bytes(self, arcname: str, data: Union[bytes, bytearray, memoryview], *, on_conflict: Optional[str] = None) -> None:
        """Adds a file named arcname that holds data, modified now."""
        self._add(("bytes", arcname, bytes(data)), arcname, on_conflict, False)

    def remove(self, path: Union[str, Entry]) -> None:
        """Removes the entry at path (a folder with what it holds), at close."""
        self._change(("remove", self._existing(path), None))

    def rename(self, path: Union[str, Entry], new_name: str) -> None:
        """Gives the entry at path the name new_name (a name, not a path), at close."""
        if "/" in new_name or new_name in ("", ".", ".."):
            raise ValueError(f"new_name must be a name, not a path: {new_name!r}")
        name = self._existing(path)
        parent = name.rpartition("/")[0]
        target = f"{parent}/{new_name}" if parent else new_name
        if target in self._lookup():
            raise AlreadyExists(f"{self.name}: '{target}': already exists", reason="already exists", archive=self.name,
                                entry=target)
        self._change(("rename", name, new_name))

    def move(self, paths: Union[str, Entry, Iterable[Union[str, Entry]]], folder: str) -> None:
        """Moves the entries at paths into the archive's folder ("" for the top), at close."""
        if folder and not self[folder].is_dir:
            raise ValueError(f"{self.name}: '{folder}' is a file, not a folder")
        chosen = [paths] if isinstance(paths, (str, Entry)) else list(paths)
        for path in chosen:
            self._change(("move", self._existing(path), folder))

    def _existing(self, path: Union[str, Entry]) -> str:
        self._writable(update_only=True)
        return self[_entry_path(path)].path

    def _writable(self, update_only: bool = False) -> None:
        if self._closed:
            raise ValueError("the archive is closed")
        if self.mode == "r":
            raise _io.UnsupportedOperation("the archive was opened for reading (mode 'r')")
        if update_only and self._impl is None:
            raise _io.UnsupportedOperation("a new archive takes additions only")

    def _change(self, change: tuple[str, Any, Any]) -> None:
        self._writable()
        self._changes.append(change)

    def _add(self, change: tuple[str, Any, Any], name: str, on_conflict: Optional[str], tree: bool) -> None:
        self._writable()
        policy = on_conflict if on_conflict is not None else self.on_conflict
        if policy not in _CONFLICTS:
            raise ValueError(f"on_conflict must be 'raise', 'replace', 'skip' or 'rename', not {policy!r}")
        policy = None if policy == "raise" else policy
        taken = name in self._added or (not tree and name in self._lookup())
        if taken and policy is None:
            raise AlreadyExists(f"{self.name}: '{name}': already exists", reason="already exists", archive=self.name, entry=name)
        if self._impl is None and taken:
            # A new archive: settled here, as no existing entry is there to meet.
            if policy == "skip":
                return
            if policy == "replace":
                self._changes = [c for c in self._changes if self._added_name(c) != name]
            elif policy == "rename":
                name = self._free_name(name)
                change = (change[0], change[1], name) if change[0] == "add" else (change[0], name, change[2])
        elif policy is not None:
            self._policies.insert(0, (name, policy))
        self._added.add(name)
        self._changes.append(change)

    @staticmethod
    def _added_name(change: tuple[str, Any, Any]) -> Optional[str]:
        if change[0] == "bytes":
            return str(change[1])
        if change[0] == "add":
            return str(change[2]) if change[2] is not None else _os.path.basename(_os.path.normpath(change[1]))
        return None

    def _free_name(self, name: str) -> str:
        stem, dot, extension = name.rpartition(".") if "." in name.rpartition("/")[2] else (name, "", "")
        number = 2
        while True:
            candidate = f"{stem} ({number}){dot}{extension}"
            if candidate not in self._added:
                return candidate
            number += 1

    # ---- closing -------------------------------------------------------------------------

    def close(self, *, progress: Progress = None) -> None:
        """Writes what was changed (modes "a", "w", "x") and ends the archive's use of its
        file. A path is replaced safely: the new archive goes into a temporary file beside it,
        renamed over it only when whole."""
        if self._closed:
            return
        self._closed = True
        try:
            self._write(progress or self._progress)
        finally:
            self._release()

    def discard(self) -> None:
        """Closes without writing any change."""
        self._closed = True
        self._release()

    def _write(self, progress: Progress) -> None:
        if self.mode in ("w", "x"):
            target = self._path
            data = _zorvik.create(target, self._changes, self._options, progress)
            if self._fileobj is not None and data is not None:
                self._fileobj.seek(self._start)
                self._fileobj.write(data)
                self._fileobj.truncate()
            return
        if self.mode != "a" or not self._changes:
            return
        written = self._impl.write_changes(self._path, self._changes, self._policies, None, progress)
        if self._fileobj is not None and isinstance(written, bytes):
            self._fileobj.seek(0)
            self._fileobj.write(written)
            self._fileobj.truncate()

    def _release(self) -> None:
        impl, self._impl = self._impl, None
        if impl is not None:
            try:
                impl.close()
            except Error:
                pass

    def _reader(self) -> Any:
        if self._impl is None:
            if self._closed:
                raise ValueError("the archive is closed")
            raise _io.UnsupportedOperation("a new archive has nothing to read until it is closed")
        return self._impl

    def __enter__(self) -> Archive:
        return self

    def __exit__(self, kind: Any, value: Any, traceback: Any) -> None:
        if kind is None:
            self.close()
        else:
            self.discard()

    def __repr__(self) -> str:
        state = "closed" if self._closed else f"mode={self.mode!r}"
        return f"<zorvik.Archive {self.name!r} {state}>"


def _volume_sizes(path: str) -> tuple[int, bool]:
    """The bytes of the archive at path with the volumes of its set beside it."""
    size = _os.path.getsize(path)
    folder, name = _os.path.split(path)
    base, dot, number = name.rpartition(".")
    if dot and number.isdigit() and len(number) == 3:
        total, index, more = 0, int(number), False
        while True:
            volume = _os.path.join(folder, f"{base}.{index:03d}")
            if not _os.path.isfile(volume):
                break
            total += _os.path.getsize(volume)
            more = more or volume != path
            index += 1
        return (total, more) if more else (size, False)
    return size, False


def open(file: Union[StrPath, IO[bytes]], mode: str = "r", *, password: Password = None, format: Optional[str] = None,
         method: Optional[str] = None, level: Optional[int] = None, encryption: Optional[str] = None,
         encrypt_headers: bool = False, solid: Optional[bool] = None, progress: Progress = None,
         on_conflict: Optional[str] = None) -> Archive:
    """Open an archive and return an :class:`Archive`.

    file is a path (str or os.PathLike; the further volumes of a set are found beside it) or
    a seekable binary file object (io.BytesIO, an opened file), read from its position.

    mode is "r" to read, "a" to update (changes are written on close, over the original
    safely, or into the file object; a path that names no file yet is created), "w" to create
    (an existing file is replaced on close) or "x" to create a file that does not exist yet.

    password is a str, or a callable asked when one is needed with the attempt number (1
    first; asked again means the last answer was wrong; None gives up). For a new archive it
    encrypts the entries (and with encrypt_headers the names, in 7z).

    format names the format: for reading, when the name's extension does not tell it; for a
    new archive as its extension names it ("7z", "zip", "tar", "tar.gz" ...; by default the
    path's extension, else "zip"). method ("lzma2", "deflate", "copy" ...), level (0 to 9),
    encryption ("aes256", "zipcrypto") and solid choose how it is written.

    progress(done, total) is called during every long call (answer False to cancel);
    on_conflict ("raise", "replace", "skip", "rename") is what adding an entry whose path is
    taken does, unless the call names its own.

    Raises NotAnArchive, PasswordRequired, WrongPassword, DamagedArchive, FileNotFoundError.
    """
    if mode not in ("r", "a", "w", "x"):
        raise ValueError(f"mode must be 'r', 'a', 'w' or 'x', not {mode!r}")
    if on_conflict not in _CONFLICTS:
        raise ValueError(f"on_conflict must be 'raise', 'replace', 'skip' or 'rename', not {on_conflict!r}")
    fileobj: Optional[IO[bytes]] = None
    path: Optional[str] = None
    if isinstance(file, (str, bytes)) or hasattr(file, "__fspath__"):
        path = _fspath(file)
        label = path
    else:
        fileobj = file
        label = str(getattr(fileobj, "name", "")) or f"<{type(fileobj).__name__}>"
        if not isinstance(label, str) or not label:
            label = "<file object>"
    if mode == "a" and path is not None and not _os.path.exists(path):
        mode = "w"
    if mode == "x" and path is not None and _os.path.lexists(path):
        raise FileExistsError(17, "File exists", path)
    if mode in ("w", "x"):
        options = _zorvik._CreateOptions()
        options.format = format or _format_from_name(path or "") or "zip"
        options.method = method
        options.level = level
        options.password = _password_rule(password)
        options.encryption = encryption
        options.encrypt_headers = encrypt_headers
        options.solid = solid
        return Archive(impl=None, mode=mode, path=path, fileobj=fileobj, label=label, password=password, options=options,
                       progress=progress, on_conflict=on_conflict, packed_size=0, multi_volume=False)
    rule = _password_rule(password)
    if path is not None:
        impl = _zorvik._Archive.open_path(path, rule)
        packed, multi = _volume_sizes(path)
    else:
        assert fileobj is not None
        start = fileobj.tell()
        impl = _zorvik._Archive.open_file(fileobj, label, format or "", rule)
        packed, multi = fileobj.seek(0, 2) - start, False
        fileobj.seek(start)
    return Archive(impl=impl, mode=mode, path=path, fileobj=fileobj, label=label, password=password, options=None,
                   progress=progress, on_conflict=on_conflict, packed_size=packed, multi_volume=multi)


def _format_from_name(path: str) -> Optional[str]:
    name = _os.path.basename(path).lower()
    for double in ("tar.gz", "tar.bz2", "tar.xz", "tar.zst"):
        if name.endswith("." + double):
            return double
    shorts = {"tgz": "tar.gz", "tbz2": "tar.bz2", "txz": "tar.xz"}
    _, dot, extension = name.rpartition(".")
    if not dot:
        return None
    return shorts.get(extension, extension)


def formats() -> list[tuple[str, str, bool]]:
    """The engine's formats as (name, extension, can_update)."""
    return list(_zorvik.formats())
