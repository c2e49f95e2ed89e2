"""The exceptions of zorvik: Error and one subclass for each way an archive call fails."""

from __future__ import annotations


class Error(Exception):
    """An archive call failed. ``str(error)`` names the archive, the entry and the call.

    Attributes: ``reason`` (the reason alone), ``archive`` and ``entry`` (empty when not
    known), ``code`` (the component's name for the failure, such as ``"Damaged"``).
    """

    code: str = "Other"

    def __init__(self, message: str, *, reason: str = "", archive: str = "", entry: str = "") -> None:
        super().__init__(message)
        self.reason = reason or message
        self.archive = archive
        self.entry = entry


class NotAnArchive(Error):
    """No format can open the file."""

    code = "NotAnArchive"


class WrongPassword(Error):
    """The password given does not open the archive or the entry."""

    code = "WrongPassword"


class PasswordRequired(Error):
    """The archive or the entry is encrypted and no password was given."""

    code = "PasswordRequired"


class ArchiveBusy(Error):
    """Another writer has the archive."""

    code = "ArchiveBusy"


class DamagedArchive(Error):
    """The archive is damaged or cut short, or an entry's data fails its check."""

    code = "Damaged"


class CannotWrite(Error):
    """The format cannot be written, or writing failed (read-only file, disk full ...)."""

    code = "CannotWrite"


class EntryNotFound(Error, KeyError):
    """No entry has that path (also a KeyError, as in zipfile)."""

    code = "NotFound"

    def __str__(self) -> str:
        return str(self.args[0]) if self.args else ""


class AlreadyExists(Error, FileExistsError):
    """A new entry, or a file being extracted, meets an existing one."""

    code = "AlreadyExists"


class IsAFolder(Error, IsADirectoryError):
    """A folder where a file is needed."""

    code = "IsAFolder"


class Cancelled(Error):
    """The operation was cancelled (a progress callable answered False)."""

    code = "Cancelled"


# In the order of zorvik::ErrorCode.
_BY_CODE: list[type[Error]] = [
    WrongPassword,
    PasswordRequired,
    NotAnArchive,
    AlreadyExists,
    EntryNotFound,
    CannotWrite,
    DamagedArchive,
    IsAFolder,
    ArchiveBusy,
    CannotWrite,  # disk full
    Cancelled,
    Error,  # invalid argument
    Error,
]


def _from_component(code: int, message: str, reason: str, archive: str, entry: str) -> Error:
    cls = _BY_CODE[code] if 0 <= code < len(_BY_CODE) else Error
    error: Error = cls(message, reason=reason, archive=archive, entry=entry)
    if cls is Error and code == 11:
        error.code = "InvalidArgument"
    return error
