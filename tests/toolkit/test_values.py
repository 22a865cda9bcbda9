"""to_decimal and to_date: the texts mirtle_py gives, as Decimal and datetime.date."""

import datetime
from decimal import Decimal

import pytest

import mirtle


@pytest.mark.parametrize("text, expected, why", [
    ("1500.00", Decimal("1500.00"), "the scale stays"),
    ("0.05", Decimal("0.05"), "a leading zero"),
    ("-1.5", Decimal("-1.5"), "negative"),
    ("79228162514264337593543950335", Decimal(2**96 - 1), "the largest amount"),
    (None, None, "None passes through"),
], ids=lambda x: x if isinstance(x, str) else None)
def test_to_decimal(text, expected, why):
    result = mirtle.to_decimal(text)
    assert result == expected and str(result) == str(expected), why


@pytest.mark.parametrize("text", ["", "1e3", "NaN", "1,50", " 1.5", "+1", "Infinity",
                                  "１２３.４５", "1500.٠٠", "१००"])  # Decimal() reads these three
def test_to_decimal_refuses_other_texts(text):
    with pytest.raises(ValueError, match=repr(text).replace("+", r"\+")):
        mirtle.to_decimal(text)


@pytest.mark.parametrize("text, expected, why", [
    ("2024-03-05", datetime.date(2024, 3, 5), "the usual form"),
    ("0001-01-01", datetime.date(1, 1, 1), "the first date"),
    ("9999-12-31", datetime.date(9999, 12, 31), "the last date"),
    ("2024-02-29", datetime.date(2024, 2, 29), "a leap day"),
    (None, None, "None passes through"),
], ids=lambda x: x if isinstance(x, str) else None)
def test_to_date(text, expected, why):
    assert mirtle.to_date(text) == expected, why


@pytest.mark.parametrize("text, words", [
    ("0000-01-01", "outside the range"),
    ("+20231-02-01", "outside the range"),
    ("-0001-12-31", "outside the range"),
    ("2023-02-29", "not a valid date"),
    ("05.03.2024", "not a date"),
    ("2024-3-5", "not a date"),
    ("٢٠٢٤-٠٣-٠٥", "not a date"),  # int() reads digits of every script
    ("２０２４-03-05", "not a date"),
    ("+２0231-02-01", "not a date"),
])
def test_to_date_names_the_value_it_refuses(text, words):
    with pytest.raises(ValueError, match=words) as info:
        mirtle.to_date(text)
    assert repr(text) in str(info.value)

