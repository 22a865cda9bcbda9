"""Where a statement's bytes come from: a path, a binary file object or a buffer."""

from __future__ import annotations

import errno
import io
import mmap
import os
from typing import Any, BinaryIO, Union

__all__ = ["Source", "read_source"]

#: What the toolkit's readers accept.
Source = Union[str, "os.PathLike[str]", bytes, bytearray, memoryview, mmap.mmap, BinaryIO]


def read_source(source: Any) -> bytes | bytearray | memoryview | mmap.mmap:
    """Return the bytes of a statement source, without copying a buffer.

    A ``str`` or ``os.PathLike`` is a path to a file that is read whole; a
    binary file object is read from its current position to its end; bytes,
    bytearray, memoryview and mmap objects are returned as they are.  A path
    that does not exist or names a directory, a file opened in text mode, and
    anything else raise an error saying which of these it was.  A statement's
    text is passed as bytes: a ``str`` that names no file and holds a line
    break, or is longer than a path can be, raises an OSError that says so
    without repeating it.
    """
    if isinstance(source, (bytes, bytearray, mmap.mmap)):
        return source
    if isinstance(source, memoryview):
        if not source.c_contiguous:
            raise BufferError("a memoryview source must be C-contiguous")
        return source.cast("B") if source.format != "B" or source.ndim != 1 else source
    if isinstance(source, (str, os.PathLike)):
        return _read_path(source)
    if hasattr(source, "read"):
        return _read_file(source)
    raise TypeError(
        "source must be a path (str or os.PathLike), a binary file object or a bytes-like object "
        f"(bytes, bytearray, memoryview, mmap), not {type(source).__name__}")


def _read_path(path: str | os.PathLike[str]) -> bytes:
    name = os.fspath(path)
    if not isinstance(name, str):
        raise TypeError(f"a path must be str or os.PathLike[str], not {type(name).__name__}")
    try:
        with open(name, "rb") as file:
            return file.read()
    except OSError as error:
        # A statement's text given as a str fails here as a file name: say so
        # instead of echoing the whole text.  Names that exist are read above,
        # line breaks and all.
        if error.errno == errno.ENAMETOOLONG or "\n" in name or "\r" in name:
            raise _not_a_path(error, path, name) from None
        if isinstance(error, FileNotFoundError):
            raise FileNotFoundError(errno.ENOENT, "statement file does not exist", name) from None
        if isinstance(error, IsADirectoryError):
            raise IsADirectoryError(errno.EISDIR, "statement path is a directory, not a file", name) from None
        raise


def _not_a_path(error: OSError, path: str | os.PathLike[str], name: str) -> OSError:
    """The error for a name that looks like a statement's text, which it leaves out."""
    what = "a str source is read as a path" if isinstance(path, str) else "an os.PathLike source is a path"
    if error.errno == errno.ENAMETOOLONG:
        why = f"this one ({len(name)} characters) is longer than a path can be"
    else:
        why = f"this one ({len(name)} characters, with a line break) cannot be opened: {error.strerror}"
    return type(error)(error.errno, f"{what}, and {why}; pass a statement's text as bytes (text.encode())")


def _read_file(file: Any) -> bytes:
    if isinstance(file, io.TextIOBase) or (hasattr(file, "mode") and "b" not in str(file.mode)
                                           and hasattr(file, "encoding")):
        raise TypeError("the file is open in text mode: open it in binary mode ('rb')")
    data = file.read()
    if isinstance(data, str):
        raise TypeError("the file is open in text mode: open it in binary mode ('rb')")
    if not isinstance(data, bytes):
        try:
            return bytes(memoryview(data))
        except TypeError:
            raise TypeError(f"file.read() returned {type(data).__name__}, not bytes") from None
    return data
