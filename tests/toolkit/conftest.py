"""Shared inputs of the toolkit tests: the samples and generated statements."""

import argparse
import functools
import sys
import warnings
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
SAMPLES = sorted((REPO / "examples").glob("*.txt"))

sys.path.insert(0, str(REPO / "bench"))
import gen_statement  # noqa: E402

# Debian's Dask warns at import that its optional query planner is absent.
warnings.filterwarnings("ignore", message=".*dask-expr.*", category=FutureWarning)


@functools.cache
def generated(seed: int, encoding: str = "utf-8", newline: str = "crlf", documents: int = 60,
              accounts: int = 2, periods: int = 2) -> bytes:
    """A statement from the project's generator (about one document in 500 broken, and the eighth)."""
    args = argparse.Namespace(seed=seed, encoding=encoding, newline=newline, accounts=accounts, periods=periods,
                              days=91, no_warnings=False, size=None, documents=documents)
    return b"".join(gen_statement.generate(args))


# Every statement the round-trip properties run on, by name.
STATEMENTS = {p.name: (lambda p=p: p.read_bytes()) for p in SAMPLES}
STATEMENTS.update({f"gen-{seed}-{enc}": (lambda s=seed, e=enc: generated(s, e))
                   for seed in (1, 2, 3) for enc in ("cp1251", "utf-8")})
STATEMENTS["gen-4-utf-8-lf"] = lambda: generated(4, "utf-8", "lf")


@functools.cache
def other_digits() -> dict[int, list[str]]:
    """Every decimal digit but 0-9 (Arabic-Indic, full-width, ...), by value: int(), Decimal() and
    the regular expression "\\d" take them all."""
    digits: dict[int, list[str]] = {}
    for char in map(chr, range(sys.maxunicode + 1)):
        if char.isdecimal() and not "0" <= char <= "9":
            digits.setdefault(int(char), []).append(char)
    return digits


@pytest.fixture(params=sorted(STATEMENTS))
def statement_bytes(request) -> bytes:
    return STATEMENTS[request.param]()
