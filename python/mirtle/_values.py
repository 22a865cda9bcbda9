"""Typed values from the texts mirtle_py gives: Decimal amounts and calendar dates."""

from __future__ import annotations

import datetime
from decimal import Decimal, InvalidOperation
from typing import overload

from ._forms import AMOUNT, ISO_DATE

__all__ = ["to_date", "to_decimal"]



@overload
def to_decimal(text: None) -> None: ...
@overload
def to_decimal(text: str) -> Decimal: ...
def to_decimal(text: str | None) -> Decimal | None:
    """Return an amount text ("1500.00") as a Decimal with the same scale; None stays None.

    Raises ValueError naming the text when it is not a plain decimal number
    written with the digits 0-9.
    """
    if text is None:
        return None
    if not isinstance(text, str):
        raise TypeError(f"an amount must be str or None, not {type(text).__name__}")
    if AMOUNT.fullmatch(text) is None:
        raise ValueError(f"not a decimal amount: {text!r}")
    try:
        return Decimal(text)
    except InvalidOperation:  # unreachable for texts matching the form
        raise ValueError(f"not a decimal amount: {text!r}") from None


@overload
def to_date(text: None) -> None: ...
@overload
def to_date(text: str) -> datetime.date: ...
def to_date(text: str | None) -> datetime.date | None:
    """Return a date text ("2024-03-05") as a datetime.date; None stays None.

    Raises ValueError naming the text when it is not a date in the form
    YYYY-MM-DD (digits 0-9), or when its year (0, or a signed year such as
    "+20231") lies outside datetime.date's range of 1 to 9999.
    """
    if text is None:
        return None
    if not isinstance(text, str):
        raise TypeError(f"a date must be str or None, not {type(text).__name__}")
    match = ISO_DATE.fullmatch(text)
    if match is None:
        raise ValueError(f"not a date in the form YYYY-MM-DD: {text!r}")
    year, month, day = int(match[1]), int(match[2]), int(match[3])
    if not datetime.MINYEAR <= year <= datetime.MAXYEAR:
        raise ValueError(f"date {text!r} is outside the range of datetime.date "
                         f"(years {datetime.MINYEAR} to {datetime.MAXYEAR})")
    try:
        return datetime.date(year, month, day)
    except ValueError as error:
        raise ValueError(f"not a valid date: {text!r} ({error})") from None
