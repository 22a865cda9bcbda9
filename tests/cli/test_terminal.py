"""What reaches a person's terminal: control and bidi characters escaped in
show and in every diagnostic, exact text in the machine formats, and the
progress bar kept apart from the warnings."""

import csv
import io
import json
import os
import subprocess
import tty

import pytest

from conftest import COMMAND, ESCAPED, doc, generate, posix_only, read_terminal, run, shown, statement

# Texts a terminal would act on, with plain text around them.
HOSTILE = ["a\x9b31mb", "x\u202ey\u2066z\u2069", "\x1b[2J\x07", "t\tb\rc", "\x7f\x85\u061c\u200e\u200f\u202a",
           "ё\xa0€ 𝄞"]


@pytest.mark.parametrize("value", HOSTILE, ids=[ascii(v) for v in HOSTILE])
def test_show_escapes_what_json_and_csv_keep(write, value):
    path = write(statement(doc(Номер="1\x9b2", Плательщик="П\u202eX", НазначениеПлатежа="Н" + value),
                           doc(Номер="2"), header={"Кодировка": "UTF-8", "Отправитель": "О" + value}))
    result = run("show", path, env={**os.environ, "COLUMNS": "250"})
    assert result.returncode == 0, result.stderr
    text = result.stdout.decode()
    assert not ESCAPED & set(text) - {"\n"}
    lines = text.splitlines()
    assert f"  Sender    {shown('О' + value)}" in lines
    header, first, second = lines[lines.index("Documents: 2") + 1:][:3]
    assert first.startswith("  1\\x9b2 ") and " П\\u202eX " in first and first.endswith(shown("Н" + value))
    assert header.index("Date") == first.index("05.03.2024") == second.index("05.03.2024")  # columns line up
    document = json.loads(run("json", path).stdout)["documents"][0]
    row = list(csv.DictReader(io.StringIO(run("csv", path).stdout.decode(), newline="")))[0]
    assert (document["purpose"], document["counterparty"]) == (row["purpose"], row["counterparty"]) == (
        "Н" + value, "П\u202eX")


@pytest.mark.parametrize("command", [["json"], ["csv"], ["show"], ["json", "--lines"], ["convert", "-o", "-"]])
def test_errors_on_standard_error_are_escaped(write, command):
    line = "a\x9b[2J\u202eb"
    path = write(statement([line]))
    result = run(*command[:1], path, *command[1:])
    assert result.returncode == 1
    assert result.stderr.decode() == f"{path}:6: error: Unrecognized line: '{shown(line)}'\n"


@pytest.fixture(scope="session")
def large(tmp_path_factory):
    """A statement large enough for the progress bar, with warnings throughout."""
    return generate(tmp_path_factory, "large", "--size", "24MB", "--encoding", "utf-8", "--seed", "5")


def stderr_on_a_terminal(args):
    """What the tool writes to standard error when that is a terminal."""
    master, slave = os.openpty()
    tty.setraw(slave)  # no CR added before each LF
    tool = subprocess.Popen([*COMMAND, *args], stdout=subprocess.DEVNULL, stderr=slave)
    os.close(slave)
    text = read_terminal(master).decode()
    assert tool.wait(60) == 0
    return text


@posix_only("a pseudo-terminal (test_windows.py runs the tool on a console)")
@pytest.mark.parametrize("command", [["csv"], ["json", "--lines"]])
def test_warnings_are_written_clear_of_the_progress_bar(large, command):
    """Each warning starts on a cleared line and the bar is drawn again below it."""
    warnings = run(*command, large).stderr.decode().splitlines()
    text = stderr_on_a_terminal([*command, large])
    pieces = text.split("\n")
    assert warnings and "\r[" in pieces[0]  # the bar is up before the first warning
    assert [p.rpartition("\r")[2] for p in pieces[:-1]] == ["\x1b[K" + w for w in warnings]
    assert all(p.startswith("\r[") for p in pieces[1:])
