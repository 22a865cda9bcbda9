"""Where an exporter's bytes go: returned, a binary file object, or a path written whole or not at all."""

from __future__ import annotations

import io
import os
import secrets
import stat
from collections.abc import Callable
from typing import BinaryIO, Union

__all__ = ["Output", "write_output"]

#: What the exporters write to: a path or a binary file object.
Output = Union[str, "os.PathLike[str]", BinaryIO]

#: Hands each block to ``write``, or returns every byte when it is None.
Produce = Callable[[Callable[[bytes], None] | None], bytes | None]

_NOFOLLOW = getattr(os, "O_NOFOLLOW", 0)
_BINARY = getattr(os, "O_BINARY", 0)


def write_output(out: Output | None, produce: Produce) -> bytes | None:
    """Run ``produce`` into ``out``: the bytes are returned when ``out`` is None."""
    if out is None:
        return produce(None)
    if isinstance(out, (str, os.PathLike)):
        _write_path(out, produce)
        return None
    if hasattr(out, "write"):
        if isinstance(out, io.TextIOBase):
            raise TypeError("the output file is open in text mode: open it in binary mode ('wb')")
        produce(_write_all(out))
        return None
    raise TypeError(f"out must be a path (str or os.PathLike), a binary file object or None, not {type(out).__name__}")


def _write_all(file: BinaryIO) -> Callable[[bytes], None]:
    """file.write, repeated while a raw file takes only part of a block."""
    def write(block: bytes) -> None:
        view = memoryview(block)
        while view:
            written = file.write(view)
            if not isinstance(written, int) or not 0 < written < len(view):
                return  # all of it, or a file that does not say how much it took
            view = view[written:]
    return write


def _write_path(out: str | os.PathLike[str], produce: Produce) -> None:
    """Writes a new file beside the target and renames it over the target once complete.

    The target of a symbolic link is replaced, and the link stays; a target
    that is not a regular file (a FIFO, a device) is written in place.  A
    replaced file keeps its owner where it can and its permission bits; a
    new one gets the umask's.
    """
    path = os.fspath(out)
    if not isinstance(path, str):
        raise TypeError(f"a path must be str or os.PathLike[str], not {type(path).__name__}")
    target = os.path.realpath(path)
    try:
        existing = os.stat(target)
    except FileNotFoundError:
        existing = None
    if existing is not None and not stat.S_ISREG(existing.st_mode):
        with open(target, "wb") as file:
            produce(_write_all(file))
        return
    folder, name = os.path.split(target)
    fd, temporary = _create_beside(folder, name)
    try:
        with os.fdopen(fd, "wb") as file:
            produce(_write_all(file))
            file.flush()
            os.fsync(file.fileno())
            if existing is not None and os.name != "nt":
                _keep_owner_and_mode(file.fileno(), existing)
        os.replace(temporary, target)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise


def _keep_owner_and_mode(fd: int, existing: os.stat_result) -> None:
    """The replaced file's owner where it can be kept, and its permission bits;
    set-ID bits are dropped when the owner cannot be kept."""
    mode = stat.S_IMODE(existing.st_mode)
    try:
        os.fchown(fd, existing.st_uid, existing.st_gid)
    except PermissionError:
        mode &= ~(stat.S_ISUID | stat.S_ISGID)
    os.fchmod(fd, mode)


def _create_beside(folder: str, name: str) -> tuple[int, str]:
    """A new file ".NAME.XXXXXXXX" in ``folder``, created exclusively and never through a link."""
    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | _NOFOLLOW | _BINARY
    for _ in range(100):
        temporary = os.path.join(folder, f".{name}.{secrets.token_hex(4)}")
        try:
            return os.open(temporary, flags, 0o666), temporary
        except FileExistsError:
            continue
    raise FileExistsError(f"no free temporary name beside {os.path.join(folder, name)!r}")
