"""A statement as JSON, CSV or XLSX, and its balance checks: the command-line tool's own writers."""

from __future__ import annotations

import datetime
from decimal import Decimal
from typing import Any, NamedTuple, Union

import mirtle_py

from . import _native
from ._output import Output, write_output
from ._source import Source, read_source
from ._values import to_date, to_decimal

__all__ = ["Balance", "ExportSource", "balances", "to_csv", "to_json", "to_xlsx"]

#: What the exporters read: a statement already parsed, or any source ``read`` takes.
ExportSource = Union[mirtle_py.Statement, Source]


def to_json(statement: mirtle_py.Statement) -> str:
    """Return the statement as compact JSON text, exactly as ``mirtle json`` prints it (without its final line feed)."""
    _check_statement(statement)
    return _native.to_json(statement)


def to_csv(source: ExportSource, out: Output | None = None, *, accounts: bool = False,
           excel: bool = False) -> bytes | None:
    """Write the statement's documents as CSV, exactly as ``mirtle csv`` does.

    ``source`` is a mirtle_py.Statement, or anything ``mirtle.read`` takes
    (a path, a binary file or a bytes-like object), which is then written
    while it is read, without building the statement.  ``out`` is a path, a
    binary file object, or None to have the bytes returned.  One row per
    document, the 53 attributes of mirtle_py.Document as columns, or with
    ``accounts=True`` one row per balance interval ("account" first).
    ``excel=True`` adds a UTF-8 byte-order mark and puts ';' between fields,
    as a spreadsheet opened by double click expects.  A path is written
    whole or not at all: into a new file beside it, renamed over it at the end.
    """
    return write_output(out, lambda write: _native.export_csv(_data(source), write, accounts, excel))


def to_xlsx(source: ExportSource, out: Output | None = None, *, names: bool = False) -> bytes | None:
    """Write the statement as an XLSX workbook, exactly as ``mirtle xlsx`` does.

    Sheets "Documents" (a row per document: dates as dates, amounts as
    numbers wherever the cell holds them exactly, text otherwise; the file's
    own keys as column headers, or the attribute names with ``names=True``),
    "Accounts" (a row per balance interval with its checks, and a chart of
    closing balances), "Header" and "Warnings".  ``source`` and ``out`` as
    for to_csv; a statement's line numbers (each document's closing line)
    are known only when it is read from its bytes.  Raises
    NotImplementedError when this build has no XLSX writer.
    """
    return write_output(out, lambda write: _native.export_xlsx(_data(source), write, names))


class Balance(NamedTuple):
    """The balance checks of one interval of an account."""

    account: str
    date_start: datetime.date
    date_end: datetime.date | None
    #: The interval's "СекцияРасчСчет" line; None when read from a parsed Statement.
    lineno: int | None
    opening: Decimal
    income: Decimal | None
    expense: Decimal | None
    closing: Decimal | None
    #: opening + income - expense == closing; None when a total is absent.
    arithmetic_ok: bool | None
    #: opening == the account's previous closing; None for its first period or one that does not touch the previous.
    continuity_ok: bool | None
    #: The sums of the statement's documents credited to and debited from the account within the period.
    documents_income: Decimal | None
    documents_expense: Decimal | None
    #: income - documents_income and expense - documents_expense; None where a total is absent.
    income_difference: Decimal | None
    expense_difference: Decimal | None


def balances(statement: ExportSource) -> list[Balance]:
    """Return the balance checks of every interval, in ``Statement.accounts`` order.

    For each interval: whether opening + income - expense equals closing,
    exactly; whether its opening equals the account's previous closing when
    the periods touch (the next starts the day after the previous ends);
    and, for information, the sums of the statement's documents credited to
    the account (ПолучательСчет, ДатаПоступило within the period) and
    debited from it (ПлательщикСчет, ДатаСписано) beside the totals, with
    the differences: statements often hold only some of the documents.
    ``statement`` is a mirtle_py.Statement, or anything ``mirtle.read`` takes,
    which is then checked while it is read and gives each row its line.  A
    date outside datetime.date's range raises ValueError naming it, as
    ``to_dict(typed=True)`` does.
    """
    return [_balance(row) for row in _native.balances(_data(statement))]


_AMOUNTS = frozenset({4, 5, 6, 7, 10, 11, 12, 13})


def _balance(row: tuple[Any, ...]) -> Balance:
    values = [to_decimal(v) if i in _AMOUNTS else v for i, v in enumerate(row)]
    values[1], values[2] = to_date(row[1]), to_date(row[2])
    return Balance(*values)


def _check_statement(statement: object) -> None:
    if not isinstance(statement, mirtle_py.Statement):
        raise TypeError(f"statement must be a mirtle_py.Statement, not {type(statement).__name__}")


def _data(source: ExportSource) -> Any:
    """A Statement as it is; any other source as its bytes, read in place where it is a buffer."""
    return source if isinstance(source, mirtle_py.Statement) else read_source(source)

