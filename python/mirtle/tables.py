"""A statement's documents and balance intervals as Arrow tables.

``documents_table`` and ``intervals_table`` give one table each;
``tables`` gives both from one parse (hooks are called once per section),
and so does calling this module: ``mirtle.tables(source)``.

The tables are built in native code straight from the parser's records and
handed to pyarrow through the Arrow C stream interface: no Python object is
made per field, and pyarrow is needed only to receive the result.

Column types:

* texts are ``string``, null where the statement has no value;
* ``doc_date``, ``outcome_date``, ``income_date`` and the interval dates are
  ``date32`` (days since 1970-01-01, proleptic Gregorian);
* amounts are ``decimal128(38, s)`` with ``s`` the largest scale written
  among the table's amounts; every value is exact (``100.5`` in a table of
  scale 2 is ``100.50``).  A value that cannot be held at that scale raises
  ValueError naming its document or interval;
* ``lineno`` is ``int64``, the line that closed the document.

In pandas (``table.to_pandas()``) amounts arrive as ``decimal.Decimal``
objects and dates as ``datetime.date`` objects; ``to_pandas(date_as_object=
False)`` gives ``datetime64[ms]`` columns instead.  Texts are ``str`` or
``None``.

Errors in the statement raise the same ``mirtle_py`` exceptions as
``mirtle_py.parse``; hooks are called as ``mirtle_py.parse`` calls them.
"""

from __future__ import annotations

import importlib
import sys
from collections.abc import Sequence
from types import ModuleType
from typing import TYPE_CHECKING

from mirtle import _native
from mirtle._read import Hook
from mirtle._source import Source, read_source

if TYPE_CHECKING:
    import pyarrow as _pyarrow  # type: ignore[import-untyped, unused-ignore]  # pyarrow ships no types

__all__ = ["documents_table", "intervals_table", "tables"]


def documents_table(source: Source, hooks: Sequence[Hook] | None = None) -> _pyarrow.Table:
    """The statement's documents, one row per built document, in file order.

    Columns: the 53 attributes of ``mirtle_py.Document`` in its order, then
    ``lineno``.  ``source`` is a path, a binary file or a bytes-like object.
    """
    pa = require("pyarrow", "documents_table")
    return pa.table(_native.documents(read_source(source), hooks))


def intervals_table(source: Source, hooks: Sequence[Hook] | None = None) -> _pyarrow.Table:
    """The statement's balance intervals: ``account``, then the six fields of
    ``mirtle_py.Interval``.  Rows follow ``Statement.accounts``: accounts in
    order of their first section, each one's intervals sorted by start date,
    repeats dropped.
    """
    pa = require("pyarrow", "intervals_table")
    return pa.table(_native.intervals(read_source(source), hooks))


def tables(source: Source, hooks: Sequence[Hook] | None = None) -> tuple[_pyarrow.Table, _pyarrow.Table]:
    """``(documents_table(source), intervals_table(source))`` from one parse:
    the statement is read once and each hook is called once per section.
    When both tables would fail, the documents' error is raised.
    """
    pa = require("pyarrow", "tables")
    documents, intervals = _native.tables(read_source(source), hooks)
    return pa.table(documents), pa.table(intervals)


def require(module: str, user: str) -> ModuleType:
    """Imports an optional dependency, saying who needs it when it is missing."""
    try:
        return importlib.import_module(module)
    except ImportError as error:
        package = module.partition(".")[0]
        raise ImportError(f"mirtle.{user} needs {package}, which is not installed "
                          f"(pip install {package})", name=module) from error


class TablesModule(ModuleType):
    """The class of this module: ``mirtle.tables(source, hooks)`` calls ``tables``."""

    def __call__(self, source: Source, hooks: Sequence[Hook] | None = None) -> tuple[_pyarrow.Table, _pyarrow.Table]:
        return tables(source, hooks)


sys.modules[__name__].__class__ = TablesModule
