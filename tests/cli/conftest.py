"""Runs the installed `mirtle` tool as a user would; statement builders.

MIRTLE_CLI names the tool; MIRTLE_CLI_RUNNER, when set, is the command that
runs it (`wine64` for mirtle.exe, `qemu-aarch64-static` for an ARM build), so
the same suite checks a cross-built tool on this machine."""

import os
import shlex
import subprocess
import sys
from pathlib import Path

import pytest

SRC = Path(__file__).resolve().parents[2]
TOOL = os.environ.get("MIRTLE_CLI", str(SRC / "build/host/install/bin/mirtle"))
COMMAND = [*shlex.split(os.environ.get("MIRTLE_CLI_RUNNER", "")), TOOL]
WINDOWS = TOOL.lower().endswith(".exe")


def posix_only(why):
    """Marks a test of POSIX behaviour that a Windows build has no counterpart for."""
    return pytest.mark.skipif(WINDOWS, reason=f"POSIX only: {why}")
HEADER = {"ВерсияФормата": "1.03", "Кодировка": "UTF-8", "Отправитель": "Бухгалтерия", "ДатаНачала": "01.03.2024"}
DOC = {"Номер": "17", "Дата": "05.03.2024", "Сумма": "1500.00", "ПлательщикСчет": "40702810900000000001",
       "ПлательщикИНН": "7701000001", "ПлательщикБИК": "044525225", "ПлательщикБанк1": "ПАО Банк г. Москва",
       "ПолучательСчет": "40702810500000000002", "ПолучательИНН": "7702000002", "ПолучательБИК": "044525593",
       "ПолучательБанк1": "АО \"Банк\" г. Москва", "НазначениеПлатежа": "Оплата по счёту №42, без НДС"}
ACCOUNT = {"ДатаНачала": "01.03.2024", "ДатаКонца": "31.03.2024", "РасчСчет": "40702810900000000001",
           "НачальныйОстаток": "100000.00", "ВсегоПоступило": "1500.00", "ВсегоСписано": "250.50",
           "КонечныйОстаток": "101249.50"}


def doc(**changes):
    """A document section's lines; a value of None leaves the key out."""
    items = {**DOC, **changes}
    return ["СекцияДокумент=Платежное поручение", *(f"{k}={v}" for k, v in items.items() if v is not None),
            "КонецДокумента"]


def account(**changes):
    items = {**ACCOUNT, **changes}
    return ["СекцияРасчСчет", *(f"{k}={v}" for k, v in items.items() if v is not None), "КонецРасчСчет"]


def statement(*sections, header=HEADER, end=True):
    lines = ["1CClientBankExchange", *(f"{k}={v}" for k, v in header.items()), *(x for s in sections for x in s)]
    return ("\n".join(lines + ["КонецФайла"] * end) + "\n").encode()


# Characters that messages for a person show escaped, as repr writes them.
ESCAPED = {chr(c) for c in [*range(0x20), *range(0x7F, 0xA0), 0x61C, 0x200E, 0x200F, *range(0x202A, 0x202F),
                            *range(0x2066, 0x206A)]}


def shown(text):
    """`text` as the tool shows it to a person."""
    return "".join(repr(c)[1:-1] if c in ESCAPED else c for c in text)


def run(*args, stdin=b"", **kwargs):
    return subprocess.run([*COMMAND, *map(str, args)], input=stdin, capture_output=True, timeout=120, **kwargs)


def read_terminal(master):
    """Everything written to a pseudo-terminal until its last writer has gone; closes it."""
    chunks = []
    try:
        while chunk := os.read(master, 1 << 16):
            chunks.append(chunk)
    except OSError:  # the terminal's last writer has gone
        pass
    os.close(master)
    return b"".join(chunks)


def generate(tmp_path_factory, name, *options):
    """A statement written by bench/gen_statement.py with `options`."""
    path = tmp_path_factory.mktemp(name) / f"{name}.txt"
    subprocess.run([sys.executable, SRC / "bench/gen_statement.py", *options, "-o", path], check=True)
    return path


@pytest.fixture
def write(tmp_path):
    """Writes bytes to a fresh file and returns its path."""
    count = iter(range(10**6))

    def write(data, name=None):
        path = tmp_path / (name or f"s{next(count)}.txt")
        path.write_bytes(data)
        return path
    return write


@pytest.fixture(scope="session")
def generated(tmp_path_factory):
    """A generated statement with accounts, documents and broken documents (warnings)."""
    return generate(tmp_path_factory, "gen", "--documents", "1500", "--encoding", "cp1251", "--seed", "3")
