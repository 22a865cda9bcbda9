"""Hostile statements parse quickly: at these sizes a quadratic step (a key scan per line...) would take minutes."""

import os
import time

import pytest

import mirtle_py

N = 10_000 if os.environ.get("MIRTLE_SLOW_BUILD") else 100_000
HEAD, END, KEYS = "1CClientBankExchange\nВерсияФормата=1.03\n", "КонецФайла\n", "".join(f"К{i}=з\n" for i in range(N))
acc = lambda number="1", start="01.01.2024", amount="1.00", extra="": (  # noqa: E731
    f"СекцияРасчСчет\nДатаНачала={start}\nРасчСчет={number}\nНачальныйОстаток={amount}\n{extra}КонецРасчСчет\n")
CASES = {
    "keys-in-a-section": acc(extra=KEYS), "repeated-keys": acc(extra="ДатаНачала=01.01.2024\n" * N),
    "keys-in-the-header": KEYS + acc(), "many-accounts": "".join(acc(f"40702{i:015d}") for i in range(N)),
    "intervals-with-one-start": "".join(acc(amount=f"{i}.0") for i in range(N)), "repeated-intervals": acc() * N,
    "descending-intervals": "".join(acc(start=f"{1 + d % 28:02}.{1 + d // 28 % 12:02}.{9000 - d // 336}")
                                    for d in range(N)),
    "empty-sections": "СекцияДокумент=X\nКонецДокумента\n" * N, "one-long-line": f"Отправитель={'ж' * 20 * N}\n{acc()}",
}


class TestHostile:
    @pytest.mark.parametrize("encoding", ["utf-8", "cp1251"])
    @pytest.mark.parametrize("name", CASES)
    def test_hostile_statement_parses_in_linear_time(self, name, encoding):
        start = time.perf_counter()
        assert type(mirtle_py.parse((HEAD + CASES[name] + END).encode(encoding))) is mirtle_py.Statement
        assert time.perf_counter() - start < 10, name
