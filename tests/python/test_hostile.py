"""Hostile statements end in a Statement or one mirtle_py exception, quickly.

The sizes are large enough that a quadratic step (a linear key scan per
attribute, a linear scan for repeated intervals, front insertion of
descending intervals) would take minutes instead of well under a second.
"""

from __future__ import annotations

import os
import time

import pytest

import mirtle_py

N = 10_000 if os.environ.get("MIRTLE_SLOW_BUILD") else 100_000
HEAD = "1CClientBankExchange\nВерсияФормата=1.03\n"
END = "КонецФайла\n"


def account(number, start="01.01.2024", amount="1.00"):
    return (f"СекцияРасчСчет\nДатаНачала={start}\nРасчСчет={number}\n"
            f"НачальныйОстаток={amount}\nКонецРасчСчет\n")


def keys(n):
    return "".join(f"Ключ{i}=значение{i}\n" for i in range(n))


def descending_dates(n):
    return [f"{1 + d % 28:02d}.{1 + d // 28 % 12:02d}.{9000 - d // 336}" for d in range(n)]


CASES = {
    "keys in one section": (HEAD + "СекцияРасчСчет\nДатаНачала=01.01.2024\nНачальныйОстаток=1\n"
                            "РасчСчет=1\n" + keys(N) + "КонецРасчСчет\n" + END),
    "repeated keys in one section": (HEAD + "СекцияРасчСчет\n" + "ДатаНачала=01.01.2024\n" * N
                                     + "НачальныйОстаток=1\nРасчСчет=1\nКонецРасчСчет\n" + END),
    "keys in the header": HEAD + keys(N) + account("1") + END,
    "many accounts": HEAD + "".join(account(f"40702{i:015d}") for i in range(N)) + END,
    "intervals with one start": HEAD + "".join(account("1", amount=f"{i}.0") for i in range(N)) + END,
    "descending intervals": HEAD + "".join(account("1", start=d) for d in descending_dates(N)) + END,
    "repeated intervals": HEAD + account("1") * N + END,
    "empty sections": HEAD + "СекцияДокумент=X\nКонецДокумента\n" * N + END,
    "one long line": HEAD + "Отправитель=" + "ж" * (20 * N) + "\n" + account("1") + END,
}


@pytest.mark.slow
@pytest.mark.parametrize("encoding", ["utf-8", "cp1251"])
@pytest.mark.parametrize("name", list(CASES))
def test_hostile_statement_parses_in_linear_time(name, encoding):
    data = CASES[name].encode(encoding)
    start = time.perf_counter()
    stmt = mirtle_py.parse(data)
    elapsed = time.perf_counter() - start
    assert isinstance(stmt, mirtle_py.Statement)
    assert elapsed < 10, f"{name}: {elapsed:.1f} s"


def test_hostile_results_are_exact():
    stmt = mirtle_py.parse(CASES["intervals with one start"].encode())
    amounts = [i.start_amount for i in stmt.accounts["1"].intervals]
    assert amounts == [f"{i}.0" for i in range(N)]  # file order within one start
    stmt = mirtle_py.parse(CASES["descending intervals"].encode())
    starts = [i.date_start for i in stmt.accounts["1"].intervals]
    assert starts == sorted(starts) and len(starts) == N
    assert len(mirtle_py.parse(CASES["repeated intervals"].encode()).accounts["1"].intervals) == 1
    assert len(mirtle_py.parse(CASES["many accounts"].encode()).accounts) == N
    stmt = mirtle_py.parse(CASES["keys in the header"].encode())
    assert len(stmt.header) == N + 1 and stmt.header[f"Ключ{N - 1}"] == f"значение{N - 1}"
    stmt = mirtle_py.parse(CASES["empty sections"].encode())
    assert len(stmt.warnings) == N and stmt.warnings[0][1] == "missing field `Номер`"


@pytest.mark.parametrize("blob", [b"\0" * 1_000_000, b"1CClientBankExchange\n" + b"\0" * 1_000_000,
                                  bytes(range(256)) * 4000, b"\xff" * 1_000_000],
                         ids=["nul", "marker then nul", "all bytes", "0xff"])
def test_binary_garbage_is_one_parse_error(blob):
    with pytest.raises(mirtle_py.ParseError):
        mirtle_py.parse(blob)
