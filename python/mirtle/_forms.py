"""The text forms of values, as mirtle_py gives them and as a statement holds them.

Digits are 0-9 only: "\\d" takes any script's digits ("٢٠٢٤", "１２"), which
int() and Decimal() read quietly but a statement's reader refuses.
"""

from __future__ import annotations

import re

# mirtle_py's dates: a year of four digits, or a signed year of at least
# four digits outside 0..9999.
ISO_DATE = re.compile(r"([+-][0-9]{4,}|[0-9]{4})-([0-9]{2})-([0-9]{2})")
# A statement's dates: dd.mm.yyyy, a year outside 0..9999 signed.
STATEMENT_DATE = re.compile(r"([0-9]{1,2})\.([0-9]{1,2})\.([+-][0-9]+|[0-9]{1,4})")
# Amounts: plain digits with an optional sign and fraction.
AMOUNT = re.compile(r"-?[0-9]+(?:\.[0-9]+)?")
