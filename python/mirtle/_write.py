"""Writing statements and payment orders in the exchange format."""

from __future__ import annotations

import codecs
import datetime
import types
from collections.abc import Iterable, Mapping, Sequence
from decimal import Decimal
from typing import Any

import mirtle_py

from . import _native
from ._forms import AMOUNT, ISO_DATE, STATEMENT_DATE
from ._native import Sections, WriteError

__all__ = ["DOCUMENT_KEYS", "PAYMENT_ORDER", "WriteError", "write", "write_documents"]

PAYMENT_ORDER = "Платежное поручение"
# A reader keeps an amount as at most 2**96 - 1 units of its last decimal
# place, with at most MAX_AMOUNT_SCALE places; it rounds or refuses the rest.
_MAX_MANTISSA = 2**96 - 1
_MAX_DIGITS = len(str(_MAX_MANTISSA))  # 29
_MAX_SCALE = _native.MAX_AMOUNT_SCALE


def _encoding(name: str) -> str:
    try:
        canonical = codecs.lookup(name).name
    except (LookupError, TypeError):
        canonical = None
    if canonical not in ("cp1251", "utf-8"):
        raise ValueError(f"encoding must name windows-1251 or UTF-8, not {name!r}")
    return canonical


def _newline(newline: str) -> str:
    if newline not in ("\r\n", "\n"):
        raise ValueError(f"newline must be '\\r\\n' or '\\n', not {newline!r}")
    return newline


def write(source: mirtle_py.Statement | Sections, encoding: str = "cp1251", newline: str = "\r\n", *,
          update_encoding_header: bool = False) -> bytes:
    """Return the text of a statement file, as bytes in ``encoding`` with ``newline`` line ends.

    ``source`` is a mirtle_py.Statement (its header, then one account section
    per balance interval, then its documents; warnings are not written) or
    the Sections object that mirtle.sections returns (written line for line,
    unknown keys and repeated keys included, so that a file can be
    re-encoded without loss).  ``encoding`` is "cp1251" (windows-1251, what
    banks expect) or "utf-8"; ``newline`` is "\\r\\n" or "\\n".

    The header is written as given.  A Кодировка value naming another
    encoding than ``encoding`` is refused, unless ``update_encoding_header``
    is true: then it is written as the output's own name.  Anything a reader
    could not give back identically raises mirtle.WriteError naming the
    section, the key and the reason.
    """
    encoding, newline = _encoding(encoding), _newline(newline)
    if isinstance(source, mirtle_py.Statement):
        return _native.write_statement(source, encoding, newline, update_encoding_header)
    if isinstance(source, Sections):
        return _native.write_raw(source.header, source.sections, encoding, newline, update_encoding_header)
    raise TypeError(f"source must be a mirtle_py.Statement or mirtle.Sections, not {type(source).__name__}")


class _Field:
    __slots__ = ("name", "key", "kind", "required")

    def __init__(self, name: str, key: str, kind: str, required: bool) -> None:
        self.name, self.key, self.kind, self.required = name, key, kind, required


_FIELDS = [_Field(*f) for f in _native.document_fields()]  # in record order
_TYPE_KEY = next(f.key for f in _FIELDS if f.name == "doc_type")  # СекцияДокумент
_FIELD_OF = {**{f.name: f for f in _FIELDS}, **{f.key: f for f in _FIELDS}}

#: The 53 keys a document record knows, each with the mirtle_py.Document
#: attribute it feeds ("Номер": "doc_number"), in the record's order; a
#: document section's other keys are the bank's own (see mirtle.sections).
DOCUMENT_KEYS: Mapping[str, str] = types.MappingProxyType({f.key: f.name for f in _FIELDS})


def _date_text(value: object) -> str:
    """A date as the file writes it (dd.mm.yyyy), or ValueError/TypeError."""
    if isinstance(value, datetime.datetime):
        raise TypeError("expected datetime.date or str, not datetime.datetime (a date has no time of day)")
    if isinstance(value, datetime.date):
        text = _native.statement_date(value.year, value.month, value.day)
        assert text is not None  # every datetime.date is a statement's date
        return text
    if not isinstance(value, str):
        raise TypeError(f"expected datetime.date or str, not {type(value).__name__}")
    if match := ISO_DATE.fullmatch(value):
        year, month, day = match[1], int(match[2]), int(match[3])
    elif match := STATEMENT_DATE.fullmatch(value):
        year, month, day = match[3], int(match[2]), int(match[1])
    else:
        raise ValueError(f"{value!r} is not a date (dd.mm.yyyy or YYYY-MM-DD){_foreign_digit(value)}")
    text = _native.statement_date(int(year), month, day)
    if text is None:
        raise ValueError(f"{value!r} is not a date of the calendar")
    return text


def _foreign_digit(text: str) -> str:
    """", digit '٢' (U+0662) is not one of 0-9" for the first such digit of ``text``, or ""."""
    for char in text:
        if char.isdecimal() and not "0" <= char <= "9":
            return f", digit {char!r} (U+{ord(char):04X}) is not one of 0-9"
    return ""


def _amount_text(value: object) -> str:
    """An amount with its own scale ("1500.00"), or ValueError/TypeError.

    Written only when a reader gives back exactly this text: the decision is
    taken from the digits and the exponent alone, so the decimal context in
    force (its precision, rounding and traps) plays no part.
    """
    if isinstance(value, bool) or not isinstance(value, (Decimal, int, str)):
        raise TypeError(f"expected decimal.Decimal, int or str, not {type(value).__name__}")
    if isinstance(value, str):
        if AMOUNT.fullmatch(value) is None:
            raise ValueError(f"{value!r} is not a decimal amount such as 1500.00{_foreign_digit(value)}")
    amount = Decimal(value)  # exact from int and str, whatever the context
    if not amount.is_finite():
        raise ValueError(f"{amount} is not a finite amount")
    sign, digit_tuple, exponent = amount.as_tuple()
    assert isinstance(exponent, int)
    scale = max(-exponent, 0)
    if scale > _MAX_SCALE:
        raise ValueError(f"{amount} has more than {_MAX_SCALE} decimal places")
    if digit_tuple == (0,):
        return "0." + "0" * scale if scale else "0"  # a zero is never negative, and 0E+5 is 0
    # The file holds the digits, then a positive exponent's zeros.  Their
    # count is checked before the number is made, so that a huge exponent
    # or a long tuple costs nothing.
    digits, zeros = "".join(map(str, digit_tuple)), max(exponent, 0)
    if len(digits) + zeros > _MAX_DIGITS or int(digits) * 10**zeros > _MAX_MANTISSA:
        raise ValueError(f"{amount} is too large for an amount (at most 2**96 - 1 units of its last decimal "
                         f"place)")
    digits += "0" * zeros
    if scale:
        digits = digits.rjust(scale + 1, "0")
        digits = f"{digits[:-scale]}.{digits[-scale:]}"
    return "-" + digits if sign else digits


def _field_text(field: _Field, value: object) -> str:
    if field.kind in ("date", "optional date"):
        return _date_text(value)
    if field.kind == "amount":
        return _amount_text(value)
    if not isinstance(value, str):
        raise TypeError(f"expected str, not {type(value).__name__}")
    return value


def _document_section(position: int, document: object) -> tuple[str, list[tuple[str, str]]]:
    """(doc_type, (key, value) pairs in record order) for one document mapping."""
    if not isinstance(document, Mapping):
        raise TypeError(f"document {position} must be a mapping, not {type(document).__name__}")
    values: dict[str, str] = {}
    for name, value in document.items():
        field = _FIELD_OF.get(name) if isinstance(name, str) else None
        if field is None:
            raise ValueError(f"document {position}: unknown field {name!r}")
        if field.key in values:
            raise ValueError(f"document {position}: field {field.name!r} given twice (as {field.name} and "
                             f"{field.key})")
        if value is None:
            continue  # absent
        try:
            values[field.key] = _field_text(field, value)
        except (TypeError, ValueError) as error:
            raise type(error)(f"document {position}, field {field.name!r}: {error}") from None
    doc_type = values.pop(_TYPE_KEY, PAYMENT_ORDER)
    for field in _FIELDS:
        if field.required and field.key != _TYPE_KEY and field.key not in values:
            raise ValueError(f"document {position}: missing required field {field.name!r} ({field.key})")
    return doc_type, [(f.key, values[f.key]) for f in _FIELDS if f.key in values]


def _default_header(encoding: str, sections: list[tuple[str, list[tuple[str, str]]]]) -> list[tuple[str, str]]:
    header = [("ВерсияФормата", "1.03"), (_native.ENCODING_KEY, _native.header_name(encoding))]
    return header + [("Документ", t) for t in dict.fromkeys(doc_type for doc_type, _ in sections)]


def write_documents(documents: Iterable[Mapping[str, object]],
                    header: Mapping[str, str] | Sequence[tuple[str, str]] | None = None,
                    encoding: str = "cp1251", newline: str = "\r\n", *,
                    update_encoding_header: bool = False) -> bytes:
    """Return a file of payment documents (by default payment orders) built from plain data.

    Each document is a mapping keyed by mirtle_py.Document attribute names
    (``doc_number``, ``doc_date``, ``amount``, ...) or by the file's own keys
    (``Номер``, ``Дата``, ``Сумма``, ...); None leaves a field out.  Dates
    (``doc_date``, ``outcome_date``, ``income_date``) take a datetime.date or
    text (dd.mm.yyyy or YYYY-MM-DD); ``amount`` takes a decimal.Decimal, an
    int or text such as "1500.00", written with its own scale; the texts of
    dates and amounts are written with the digits 0-9 only; every other
    field takes text.  ``doc_type`` defaults to "Платежное поручение".

    ``header`` is a mapping or a sequence of (key, value) pairs (a sequence
    may repeat a key, as the usual one Документ line per document type does);
    None gives ВерсияФормата=1.03, Кодировка naming ``encoding``, and one
    Документ line per document type.  The sections hold each document's keys
    in the record's field order.

    A missing required field, an unknown field name, a value of the wrong
    type, or an amount a reader would not give back as written (not finite,
    more than 28 decimal places, more than 2**96 - 1 units of its last place;
    decided from its digits, whatever the decimal context) raise ValueError
    or TypeError naming the document's position and the field; a value that
    cannot be written (white space at its ends, a line break, a character
    without a windows-1251 form) raises mirtle.WriteError.
    The result parses back into exactly these documents, with no warnings.
    """
    encoding, newline = _encoding(encoding), _newline(newline)
    sections = [_document_section(i, d) for i, d in enumerate(documents)]
    if header is None:
        pairs = _default_header(encoding, sections)
    else:
        pairs = list(header.items()) if isinstance(header, Mapping) else [(k, v) for k, v in header]
    try:
        return _native.write_raw(pairs, sections, encoding, newline, update_encoding_header)
    except WriteError as error:
        if error.section is None:
            raise
        field = _FIELD_OF.get(error.key) if error.key else None
        where = f"document {error.section}" + (f", field {field.name!r}" if field else "")
        refined = WriteError(f"{where}: {error}")
        refined.section, refined.section_type, refined.key = error.section, error.section_type, error.key
        raise refined from None
