"""A statement as plain data, in the form of the command-line tool's JSON."""

from __future__ import annotations

from operator import attrgetter
from typing import Any

import mirtle_py

from . import _native
from ._values import to_date, to_decimal

__all__ = ["DOCUMENT_FIELDS", "INTERVAL_FIELDS", "to_dict"]

#: The attributes of mirtle_py.Document, in the class's own order.
DOCUMENT_FIELDS: tuple[str, ...] = tuple(
    name for name, value in vars(mirtle_py.Document).items() if not name.startswith("_")
    and not callable(value))
#: The attributes of mirtle_py.Interval, in the class's own order.
INTERVAL_FIELDS: tuple[str, ...] = tuple(name for name, _key, _is_date, _required in _native.interval_fields())

_DOCUMENT_DATES = frozenset(name for name, _key, kind, _required in _native.document_fields() if "date" in kind)
_INTERVAL_DATES = frozenset(name for name, _key, is_date, _required in _native.interval_fields() if is_date)
_document_values = attrgetter(*DOCUMENT_FIELDS)
_interval_values = attrgetter(*INTERVAL_FIELDS)


def _typed(names: tuple[str, ...], dates: frozenset[str], amounts: frozenset[str]) -> list[Any]:
    """One converter per field: to_date, to_decimal or None (text kept)."""
    return [to_date if n in dates else to_decimal if n in amounts else None for n in names]


_DOCUMENT_TYPES = _typed(DOCUMENT_FIELDS, _DOCUMENT_DATES, frozenset({"amount"}))
_INTERVAL_TYPES = _typed(INTERVAL_FIELDS, _INTERVAL_DATES, frozenset(INTERVAL_FIELDS) - _INTERVAL_DATES)


def _record(names: tuple[str, ...], values: tuple[Any, ...], types: list[Any] | None) -> dict[str, Any]:
    if types is None:
        return dict(zip(names, values))
    return {n: v if t is None else t(v) for n, v, t in zip(names, values, types)}


def to_dict(statement: mirtle_py.Statement, typed: bool = False) -> dict[str, Any]:
    """Return the statement as plain data, in the form of the command-line tool's ``json``.

    The members, in order: "encoding"; "header", a dict; "accounts", each
    account number mapped to a list of its balance intervals (dicts with
    date_start, date_end, start_amount, end_amount, total_income,
    total_expense); "documents", a list of dicts with the 53 attributes of
    mirtle_py.Document in the class's order; "warnings", a list of dicts with
    "lineno" and "message".  Values are the texts mirtle_py gives (None for an
    absent field); with ``typed=True`` dates become datetime.date and amounts
    decimal.Decimal (a date outside datetime.date's range raises ValueError).
    """
    if not isinstance(statement, mirtle_py.Statement):
        raise TypeError(f"statement must be a mirtle_py.Statement, not {type(statement).__name__}")
    doc_types = _DOCUMENT_TYPES if typed else None
    interval_types = _INTERVAL_TYPES if typed else None
    return {
        "encoding": statement.encoding,
        "header": dict(statement.header),
        "accounts": {
            number: [_record(INTERVAL_FIELDS, _interval_values(i), interval_types) for i in account.intervals]
            for number, account in statement.accounts.items()
        },
        "documents": [_record(DOCUMENT_FIELDS, _document_values(d), doc_types) for d in statement.documents],
        "warnings": [{"lineno": lineno, "message": message} for lineno, message in statement.warnings],
    }

