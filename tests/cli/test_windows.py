"""mirtle.exe as Windows runs it (under wine here): file names and
arguments in Unicode, standard streams as bytes, text on a console, and
convert's output replaced only once complete."""

import fcntl
import os
import re
import struct
import subprocess
import termios
import threading
import tty

import pytest

from conftest import COMMAND, WINDOWS, doc, generate, read_terminal, run, statement

pytestmark = pytest.mark.skipif(not WINDOWS, reason="a Windows build of the tool")

NAMES = [  # (folder, file, why)
    ("Банк", "выписка за март.txt", "Cyrillic with spaces"),
    ("ü€", "𝄞 ё.txt", "a character outside the BMP: two UTF-16 units"),
]


@pytest.mark.parametrize("folder,name,why", NAMES, ids=[n[-1] for n in NAMES])
def test_unicode_file_names(tmp_path, folder, name, why):
    """A statement whose path is not ASCII is read, checked, converted and written under its own name."""
    data = statement(doc(), doc(Номер=None))
    plain = tmp_path / "plain.txt"
    plain.write_bytes(data)
    (tmp_path / folder).mkdir()
    path = tmp_path / folder / name
    path.write_bytes(data)
    assert run("json", path).stdout == run("json", plain).stdout != b""
    lineno = len(data.split(b"\n")) - 2  # the last КонецДокумента, before КонецФайла
    assert run("check", path).stdout.decode() == f"{path}:{lineno}: warning: missing field `Номер`\n"
    out = tmp_path / folder / f"выход {name}"
    assert run("convert", path, "-o", out, "--encoding", "cp1251").returncode == 0
    assert run("convert", plain, "-o", "-", "--encoding", "cp1251").stdout == out.read_bytes()
    # Relative to the working folder, with Windows' separator.
    result = run("json", f"{folder}\\{name}", cwd=tmp_path)
    assert result.stdout == run("json", plain).stdout
    missing = tmp_path / folder / "нет.txt"
    assert run("json", missing).stderr.decode() == f"mirtle: {missing}: No such file or directory\n"


def test_standard_streams_are_bytes(write):
    """No CR is added before LF on the way out, nor taken away or taken for an end (^Z) on the way in."""
    data = statement(doc(НазначениеПлатежа="a\x1ab")).replace(b"\n", b"\r\n")
    path = write(data)
    assert run("convert", "-", "-o", "-", stdin=data).stdout == data
    assert run("convert", path, "-o", "-", "--newline", "lf").stdout == data.replace(b"\r\n", b"\n")
    json_text = run("json", "-", stdin=data).stdout
    assert json_text == run("json", path).stdout and b"\r" not in json_text and b"a\\u001ab" in json_text


@pytest.mark.parametrize("name", ["NUL", "nul", "NUL.txt"])
def test_nul_is_written_in_place(write, tmp_path, name):
    """The null device is a device wherever it is named: written to, never replaced, no file made."""
    src = write(statement(doc()))
    result = run("convert", src, "-o", name, cwd=tmp_path)
    assert (result.returncode, result.stderr) == (0, b"")
    assert list(tmp_path.iterdir()) == [src]


def test_convert_onto_its_own_input(write, tmp_path):
    """The input is let go before it is replaced: Windows replaces no file that is mapped."""
    data = statement(doc())
    path = write(data)
    expected = run("convert", "-", "-o", "-", "--encoding", "cp1251", stdin=data).stdout
    result = run("convert", path, "-o", path, "--encoding", "cp1251")
    assert (result.returncode, path.read_bytes()) == (0, expected)
    assert list(tmp_path.iterdir()) == [path]


def test_readers_see_the_old_file_or_the_new(generated, tmp_path):
    """While OUT is replaced again and again, every read finds it whole: never missing, never part written."""
    out = tmp_path / "out.txt"
    forms = {n: run("convert", generated, "-o", "-", "--newline", n).stdout for n in ("lf", "crlf")}
    out.write_bytes(forms["lf"])
    seen, stop = set(), threading.Event()

    def read():
        while not stop.is_set():
            try:
                seen.add(out.read_bytes())
            except FileNotFoundError:
                seen.add(None)
    reader = threading.Thread(target=read)
    reader.start()
    try:
        for newline in ["crlf", "lf"] * 4:
            assert run("convert", generated, "-o", out, "--newline", newline).returncode == 0
    finally:
        stop.set()
        reader.join()
    assert seen <= set(forms.values()) and len(seen) == 2


def test_a_read_only_out_is_left_as_it_was(write, tmp_path):
    """Replacing a read-only file fails on Windows: the error names OUT, and no temporary file stays."""
    src, out = write(statement(doc())), tmp_path / "out.txt"
    out.write_bytes(b"old")
    out.chmod(0o444)  # wine shows this as FILE_ATTRIBUTE_READONLY
    result = run("convert", src, "-o", out)
    assert (result.returncode, result.stderr.decode()) == (1, f"mirtle: {out}: Permission denied\n")
    assert sorted(tmp_path.iterdir()) == sorted([src, out]) and out.read_bytes() == b"old"


def on_a_console(args, columns):
    """What the tool shows on a console `columns` wide (wine's, drawn on a pseudo-terminal)."""
    master, slave = os.openpty()
    tty.setraw(slave)
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 40, columns, 0, 0))
    env = {k: v for k, v in os.environ.items() if k != "COLUMNS"}
    tool = subprocess.Popen([*COMMAND, *map(str, args)], stdin=slave, stdout=slave, stderr=slave, env=env)
    os.close(slave)
    text = read_terminal(master).decode()
    assert tool.wait(120) == 0
    # The console's own cursor and line controls are not the tool's text.
    return re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", text).replace("\r\n", "\n")


def test_text_on_a_console(write):
    """show's Cyrillic reaches the console as text, and its rows fit the console's width."""
    path = write(statement(doc(НазначениеПлатежа="Оплата по счёту " * 20, Плательщик="ООО «Ромашка»")))
    lines = on_a_console(["show", path], 90).splitlines()
    assert "  Sender    Бухгалтерия" in lines
    row = next(line for line in lines if line.startswith("  17 "))
    assert "ООО «Ромашка»" in row and len(row) == 90 and row.endswith("…")


@pytest.fixture(scope="module")
def large(tmp_path_factory):
    return generate(tmp_path_factory, "large", "--size", "24MB", "--seed", "5")


def test_progress_on_a_console_only(large):
    """The bar is drawn on a console, never into a pipe; the warnings reach both."""
    piped = run("csv", large)
    assert b"%" not in piped.stderr
    shown = on_a_console(["csv", large], 250)  # wide enough for a warning on one line
    assert re.search(r"\[=+ *\] +\d+%", shown)
    warnings = piped.stderr.decode().splitlines()
    assert warnings and all(w in shown for w in warnings)
