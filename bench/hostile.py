"""Time mirtle_py.parse on hostile statements.

    python3.14 bench/hostile.py [--scale 1.0]

Each case must end in a Statement or one mirtle_py.ParseError, in time linear
(or n log n) in the input; the script prints the outcome, the input size and
the time, and the time of the same case at a tenth of the size, so that a
quadratic case stands out (its ratio is near 100 instead of near 10).  Each
measurement runs in a fresh process, so that neither size inherits memory
the other one already paged in.
"""

from __future__ import annotations

import argparse
import random
import subprocess
import sys
import time

import mirtle_py

HEAD = "1CClientBankExchange\nВерсияФормата=1.03\nКодировка=UTF-8\n"


def document(n: int) -> str:
    return (f"СекцияДокумент=Платежное поручение\nНомер={n}\nДата=01.02.2024\nСумма=1.00\n"
            "ПлательщикСчет=1\nПлательщикИНН=1\nПлательщикБИК=1\nПлательщикБанк1=Б\n"
            "ПолучательСчет=2\nПолучательИНН=2\nПолучательБИК=2\nПолучательБанк1=Б\n"
            "НазначениеПлатежа=x\nКонецДокумента\n")


def account(number: str, start: str, amount: str) -> str:
    return (f"СекцияРасчСчет\nДатаНачала={start}\nРасчСчет={number}\n"
            f"НачальныйОстаток={amount}\nКонецРасчСчет\n")


def one_long_line(n):
    return (HEAD + "Отправитель=" + "ж" * (n // 2) + "\n" + document(1) + "КонецФайла\n").encode()


def long_unrecognized_line(n):
    return (HEAD + "x" * n + "\n").encode()


def empty_sections(n):
    return (HEAD + "СекцияДокумент=X\nКонецДокумента\n" * n + "КонецФайла\n").encode()


def keys_in_section(n):
    keys = "".join(f"Ключ{i}=значение{i}\n" for i in range(n))
    return (HEAD + document(1).replace("КонецДокумента\n", keys + "КонецДокумента\n")
            + "КонецФайла\n").encode()


def keys_in_header(n):
    keys = "".join(f"Ключ{i}=значение{i}\n" for i in range(n))
    return (HEAD + keys + document(1) + "КонецФайла\n").encode()


def many_accounts(n):
    return (HEAD + "".join(account(f"4070281{i:013d}", "01.01.2024", "1.00") for i in range(n))
            + "КонецФайла\n").encode()


def same_start_intervals(n):
    return (HEAD + "".join(account("40702810000000000001", "01.01.2024", f"{i}.00") for i in range(n))
            + "КонецФайла\n").encode()


def descending_intervals(n):
    days = [f"{1 + d % 28:02d}.{1 + (d // 28) % 12:02d}.{3000 - d // 336}" for d in range(n)]
    return (HEAD + "".join(account("40702810000000000001", day, "1.00") for day in days)
            + "КонецФайла\n").encode()


def repeated_intervals(n):
    return (HEAD + account("40702810000000000001", "01.01.2024", "1.00") * n
            + "КонецФайла\n").encode()


def nul_bytes(n):
    return b"1CClientBankExchange\n" + b"\0" * n


def garbage(n):
    return random.Random(1).randbytes(n)


def many_documents(n):
    return (HEAD + "".join(document(i) for i in range(n)) + "КонецФайла\n").encode()


CASES = [
    ("one 200 MB header line", one_long_line, 200_000_000),
    ("one 200 MB unrecognized line", long_unrecognized_line, 200_000_000),
    ("10^6 empty sections", empty_sections, 1_000_000),
    ("10^5 keys in one section", keys_in_section, 100_000),
    ("10^5 keys in the header", keys_in_header, 100_000),
    ("10^5 accounts", many_accounts, 100_000),
    ("10^5 intervals, same start", same_start_intervals, 100_000),
    ("10^5 intervals, descending", descending_intervals, 100_000),
    ("10^5 repeats of one interval", repeated_intervals, 100_000),
    ("10^6 documents", many_documents, 1_000_000),
    ("100 MB of NUL", nul_bytes, 100_000_000),
    ("100 MB of random bytes", garbage, 100_000_000),
]


def run(data: bytes) -> tuple[str, float]:
    start = time.perf_counter()
    try:
        result = mirtle_py.parse(data)
        outcome = repr(result)
    except mirtle_py.ParseError as e:
        outcome = f"{type(e).__name__}: {str(e)[:60]}"
    return outcome, time.perf_counter() - start


def invalid_utf8_everywhere() -> tuple[int, float]:
    base = many_documents(3)
    start = time.perf_counter()
    for i in range(len(base)):
        try:
            mirtle_py.parse(base[:i] + b"\xff" + base[i + 1:])
        except mirtle_py.ParseError:
            pass
    return len(base), time.perf_counter() - start


def measure(name: str, n: int) -> tuple[int, str, float]:
    """Builds and parses one case in a child process."""
    out = subprocess.run([sys.executable, __file__, "--one", name, str(n)],
                         capture_output=True, text=True, check=True).stdout
    size, seconds, outcome = out.rstrip("\n").split("\t", 2)
    return int(size), outcome, float(seconds)


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--scale", type=float, default=1.0)
    parser.add_argument("--one", nargs=2, metavar=("CASE", "N"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    makers = {name: make for name, make, _ in CASES}
    if args.one:
        data = makers[args.one[0]](int(args.one[1]))
        outcome, seconds = run(data)
        print(f"{len(data)}\t{seconds}\t{outcome[:70]!r}")
        return
    print(f"{'case':32} {'MB':>8} {'s':>8} {'s at 1/10':>10}  outcome")
    for name, _, n in CASES:
        n = max(10, int(n * args.scale))
        size, outcome, seconds = measure(name, n)
        _, _, tenth = measure(name, n // 10)
        print(f"{name:32} {size / 1e6:8.1f} {seconds:8.3f} {tenth:10.4f}  {outcome}", flush=True)
    size, seconds = invalid_utf8_everywhere()
    print(f"{'0xFF at each of %d positions' % size:32} {size / 1e6:8.3f} {seconds:8.3f} {'':10}  "
          "every one a Statement or a ParseError")


if __name__ == "__main__":
    main()
