"""Reading a statement from any source, with hook errors chained and warnings made strict."""

from __future__ import annotations

from collections.abc import Callable, Sequence
from typing import Any

import mirtle_py

from . import _native
from ._source import Source, read_source

__all__ = ["Hook", "read"]

Hook = Callable[[mirtle_py.SectionType, dict[str, str], dict[str, str]], object]


class _HookFailures:
    """Remembers the exception a hook raised, so that the parse error can chain it."""

    __slots__ = ("raised",)

    def __init__(self) -> None:
        self.raised: BaseException | None = None

    def wrap(self, hook: Any) -> Callable[[Any, Any, Any], object]:
        def call(section_type: Any, attrs: Any, header: Any) -> object:
            try:
                return hook(section_type, attrs, header)
            except BaseException as error:  # mirtle_py turns every one into a hook error
                self.raised = error
                raise
        return call


def _is_sequence(obj: object) -> bool:
    # What mirtle_py accepts as hooks: anything with item access but a dict or a str.
    return hasattr(type(obj), "__getitem__") and not isinstance(obj, (str, dict))


def read(source: Source, hooks: Sequence[Hook] | None = None, strict: bool = False) -> mirtle_py.Statement:
    """Parse a statement from a path, a binary file object or a bytes-like object.

    ``source`` may be a path (str or os.PathLike), a binary file object (read
    from its current position) or bytes, bytearray, memoryview or mmap.  A
    str is always a path: a statement's text is passed as bytes.
    ``hooks`` are called as mirtle_py.parse calls them; when one raises, the
    mirtle_py.SyntaxError raised here carries that exception, traceback
    included, as its ``__cause__``.  With ``strict=True`` the first warning (a
    document that could not be built) raises mirtle_py.SyntaxError with a
    DocumentParseError detail naming its line and message, instead of being
    left in ``Statement.warnings``.
    """
    data = read_source(source)  # a buffer is parsed in place, not copied
    failures = None
    if hooks is not None and _is_sequence(hooks):
        failures = _HookFailures()
        try:
            hooks = [failures.wrap(hook) for hook in hooks]
        except Exception as error:
            error.add_note("while processing 'hooks'")
            raise
    try:
        statement = _native.parse(data, hooks)
    except mirtle_py.SyntaxError as error:
        cause = failures.raised if failures is not None else None
        if cause is not None and isinstance(getattr(error, "detail", None), mirtle_py.HookError):
            raise error from cause
        raise
    if strict and statement.warnings:
        lineno, message = statement.warnings[0]
        first = _native.document_error(lineno, message)
        first.add_note(f"at line {lineno}, the first of {len(statement.warnings)} warning(s)")
        raise first
    return statement
