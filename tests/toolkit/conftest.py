"""Shared inputs of the toolkit tests: the samples and small generated statements."""

import functools
import subprocess
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
SAMPLES = sorted((REPO / "examples").glob("*.txt"))


@functools.cache
def generated(seed: int, encoding: str, newline: str = "crlf") -> bytes:
    """A small statement from the project's generator (a few broken documents included)."""
    return subprocess.run(
        [sys.executable, str(REPO / "bench" / "gen_statement.py"), "--documents", "60", "--accounts", "2",
         "--periods", "2", "--seed", str(seed), "--encoding", encoding, "--newline", newline],
        check=True, capture_output=True).stdout


# Every statement the round-trip properties run on, by name.
STATEMENTS = {p.name: (lambda p=p: p.read_bytes()) for p in SAMPLES}
STATEMENTS.update({f"gen-{seed}-{enc}": (lambda s=seed, e=enc: generated(s, e))
                   for seed in (1, 2, 3) for enc in ("cp1251", "utf-8")})
STATEMENTS["gen-4-utf-8-lf"] = lambda: generated(4, "utf-8", "lf")


@pytest.fixture(params=sorted(STATEMENTS))
def statement_bytes(request) -> bytes:
    return STATEMENTS[request.param]()
