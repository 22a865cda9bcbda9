"""The lossless section stream: every line of a statement, in file order, with its number."""

from __future__ import annotations

from . import _native
from ._native import Section, Sections
from ._source import Source, read_source

__all__ = ["Section", "Sections", "sections"]


def sections(source: Source) -> Sections:
    """Read a statement as it is written, keys the records drop included.

    Returns a Sections object: ``encoding``; ``header``, a list of
    ``(lineno, key, value)`` in file order with repeated keys kept; and
    ``sections``, a list of Section objects, each with ``kind`` ("account"
    or "document"), ``doc_type`` (None for an account section),
    ``start_line``, ``end_line`` and ``attributes``, a list of
    ``(lineno, key, value)`` in file order with repeated keys kept.

    ``source`` is what mirtle.read accepts.  A statement that breaks the
    format raises the mirtle_py exception that mirtle_py.parse raises for the
    same line; the records' own checks (a missing account number, a document
    that could not be built) are not made here.
    """
    return _native.read_sections(read_source(source))
