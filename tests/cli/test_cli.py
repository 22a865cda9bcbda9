"""The tool's output formats read back by Python's json and csv modules, its
exit statuses, and its behaviour with bad files, outputs and usage."""

import csv
import io
import json
import os
import random
import resource
import shlex
import subprocess

import pytest

from conftest import COMMAND, SRC, account, doc, run, statement

EXAMPLES = sorted((SRC / "examples").glob("*.txt"))
DOC_COLUMNS = 53


def json_of(path):
    result = run("json", path)
    assert result.returncode == 0, result.stderr
    return result.stdout, json.loads(result.stdout)


@pytest.mark.parametrize("path", EXAMPLES + ["generated"], ids=lambda p: getattr(p, "name", p))
def test_json_is_compact_python_json(path, generated):
    """The text is exactly what json.dumps writes for the object it holds."""
    text, obj = json_of(generated if path == "generated" else path)
    assert list(obj) == ["encoding", "header", "accounts", "documents", "warnings"]
    assert text.decode() == json.dumps(obj, ensure_ascii=False, separators=(",", ":")) + "\n"


ESCAPES = [  # (value in the file, why)
    ("a\"b\\c", "quote and backslash"),
    ("tab\there\x01\x1f\x0b\x0c\x08", "control characters: short forms and \\u00xx"),
    ("\x7f ё € \u2028 𝄞", "DEL, non-ASCII and line separator stay raw"),
    ("", "empty value"),
    ("a" * 13 + '"' + "б" * 4 + "\\" + "c" * 9 + "\x01" + "d" * 8 + "\x1f", "escapes inside and across 8-byte blocks"),
]


@pytest.mark.parametrize("value,why", ESCAPES, ids=[w for _, w in ESCAPES])
def test_json_escapes_like_python(write, value, why):
    data = statement(doc(НазначениеПлатежа=value), header={"Кодировка": "UTF-8", "Ключ": value})
    text, obj = json_of(write(data))
    assert obj["documents"][0]["purpose"] == value
    assert obj["header"]["Ключ"] == value
    assert text.decode() == json.dumps(obj, ensure_ascii=False, separators=(",", ":")) + "\n"


def test_json_of_random_texts_is_python_json(write):
    """Random values mixing every escape with plain and multi-byte text, at every offset of a block."""
    rng = random.Random(7)
    pool = ["a", "б", '"', "\\", "\x00", "\x01", "\x08", "\t", "\x0b", "\x0c", "\x1f", "\x7f", "€", "𝄞", " "]
    values = ["x" + "".join(rng.choice(pool) for _ in range(rng.randrange(40))) + "x" for _ in range(300)]
    text, obj = json_of(write(statement(doc(), header={f"K{i}": v for i, v in enumerate(values)})))
    assert list(obj["header"].values()) == values
    assert text.decode() == json.dumps(obj, ensure_ascii=False, separators=(",", ":")) + "\n"


def test_json_values_and_nulls(write):
    data = statement(account(ВсегоПоступило=None, НачальныйОстаток="1e3"), doc(Сумма="100.5", ПолучательКПП=""),
                     doc(Номер=None))
    _, obj = json_of(write(data))
    interval = obj["accounts"]["40702810900000000001"][0]
    assert interval == {"date_start": "2024-03-01", "date_end": "2024-03-31", "start_amount": "1000",
                        "end_amount": "101249.50", "total_income": None, "total_expense": "250.50"}
    document = obj["documents"][0]
    assert len(document) == DOC_COLUMNS
    assert (document["amount"], document["payee_kpp"], document["counterparty_kpp"]) == ("100.5", "", None)
    assert obj["warnings"] == [{"lineno": last_line(data, "КонецДокумента"), "message": "missing field `Номер`"}]


def last_line(data, text):
    """The number of the last line that is `text`."""
    lines = data.decode().split("\n")
    return len(lines) - lines[::-1].index(text)


@pytest.mark.parametrize("excel", [False, True], ids=["rfc4180", "excel"])
def test_csv_matches_json(generated, excel):
    """Every CSV row is the JSON document with null as an empty field."""
    _, obj = json_of(generated)
    result = run("csv", *(["--excel"] if excel else []), generated)
    assert result.returncode == 0, result.stderr
    raw = result.stdout
    assert raw.startswith(b"\xef\xbb\xbf") == excel
    assert raw.endswith(b"\r\n") and b"\n" not in raw.replace(b"\r\n", b"")
    rows = list(csv.reader(io.StringIO(raw.decode("utf-8-sig"), newline=""), delimiter=";" if excel else ","))
    assert result.stderr.decode().splitlines() == [
        f"{generated}:{w['lineno']}: warning: {w['message']}" for w in obj["warnings"]]
    assert rows[0] == list(obj["documents"][0])
    assert rows[1:] == [["" if v is None else v for v in d.values()] for d in obj["documents"]]


def test_csv_quotes_only_what_needs_it(write):
    data = statement(doc(НазначениеПлатежа='a,b "c" d;e', Номер="N1"))
    rows = {}
    for delimiter, flag in ((",", []), (";", ["--excel"])):
        out = run("csv", *flag, write(data)).stdout.decode("utf-8-sig")
        assert out.split("\r\n")[1].startswith(f"N1{delimiter}")  # plain fields stay unquoted
        rows[delimiter] = list(csv.reader(io.StringIO(out, newline=""), delimiter=delimiter))[1]
    assert rows[","][4] == rows[";"][4] == 'a,b "c" d;e'


def test_csv_accounts(generated):
    _, obj = json_of(generated)
    rows = list(csv.reader(io.StringIO(run("csv", "--accounts", generated).stdout.decode(), newline="")))
    assert rows[0] == ["account", "date_start", "date_end", "start_amount", "end_amount", "total_income",
                       "total_expense"]
    expected = [[number, *("" if v is None else v for v in i.values())]
                for number, intervals in obj["accounts"].items() for i in intervals]
    assert rows[1:] == expected and expected


def test_show_summary(write):
    data = statement(account(НачальныйОстаток="1234567.8"), doc(Сумма="98765.43", НазначениеПлатежа="Оплата " * 20),
                     doc(Номер=None))
    result = run("show", write(data), env={**os.environ, "COLUMNS": "100"})
    assert result.returncode == 0, result.stderr
    lines = result.stdout.decode().splitlines()
    assert "  Encoding  utf-8" in lines and "  Sender    Бухгалтерия" in lines
    assert any("01.03.2024–31.03.2024" in l and "1 234 567.8" in l and "101 249.50" in l for l in lines)
    row = next(l for l in lines if l.startswith("  17 "))
    assert "05.03.2024" in row and "98 765.43" in row and len(row) <= 100 and row.endswith("…")
    assert lines[-2:] == ["Warnings: 1", f"  line {last_line(data, 'КонецДокумента')}: missing field `Номер`"]


CHECKS = [  # (statement, check output after "FILE", why)
    (statement(doc()), "", "sound statement"),
    (b"", ": error: Input is empty", "empty input"),
    (b"hello\n", ": error: Input is not a 1C statement", "not a statement"),
    (statement(doc(), end=False), ": error: Statement is not finished", "no end"),
    (statement(["abc"]), ":6: error: Unrecognized line: 'abc'", "line without ="),
    (statement(account(ДатаНачала=None)), ":13: error: Account parse error: missing field `ДатаНачала`",
     "bad account"),
    (statement(doc(Номер=None)), ":18: warning: missing field `Номер`", "broken document: a warning"),
]


@pytest.mark.parametrize("data,expected,why", CHECKS, ids=[c[2] for c in CHECKS])
def test_check_reports(write, data, expected, why):
    path = write(data)
    result = run("check", path)
    assert result.stdout.decode() == (f"{path}{expected}\n" if expected else "")
    assert result.returncode == (1 if "error" in expected else 0)
    assert run("check", "--strict", path).returncode == (0 if not expected else 1)


def test_check_many_files_in_argument_order(write):
    """Reports come in argument order whichever thread finishes first."""
    big = statement(*[doc(Номер=str(i)) for i in range(3000)], doc(Номер=None))
    paths = [write(big if i % 3 == 0 else statement(["bad"] if i % 2 else doc())) for i in range(24)]
    expected = []
    for i, p in enumerate(paths):
        if i % 3 == 0:
            expected.append(f"{p}:{last_line(big, 'КонецДокумента')}: warning: missing field `Номер`")
        elif i % 2:
            expected.append(f"{p}:6: error: Unrecognized line: 'bad'")
    for jobs in ("1", "4"):
        result = run("check", "-j", jobs, *paths)
        assert result.stdout.decode().splitlines() == expected
        assert result.returncode == 1


def test_check_reports_the_others_when_a_file_does_not_fit_in_memory(write):
    """/dev/zero is read until memory runs out: that file's error, the next file still checked."""
    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (10**9, 10**9))
    if subprocess.run([*COMMAND, "--version"], capture_output=True, preexec_fn=limit).returncode != 0:
        pytest.skip("the tool does not start with its address space limited (a sanitizer build, or under an emulator)")
    data = statement(doc(Номер=None))
    path = write(data)
    for jobs in ("1", "2"):
        result = subprocess.run([*COMMAND, "check", "-j", jobs, "/dev/zero", path], capture_output=True, timeout=120,
                                preexec_fn=limit)
        assert (result.returncode, result.stdout.decode()) == (1, "/dev/zero: error: out of memory\n"
                f"{path}:{last_line(data, 'КонецДокумента')}: warning: missing field `Номер`\n")


UNSIZED = [  # (arguments, what the tool writes, why)
    (["check", "-"], "<stdin>: error: {}\n", "standard input"),
    (["json", "/dev/zero"], "mirtle: /dev/zero: {}\n", "a device"),
]


@pytest.mark.parametrize("args,expected,why", UNSIZED, ids=[u[-1] for u in UNSIZED])
def test_inputs_without_a_size_are_read_up_to_1_gib(args, expected, why):
    with open("/dev/zero", "rb") as zero:
        result = subprocess.run([*COMMAND, *args], stdin=zero, capture_output=True, timeout=120)
    reason = "more than 1 GiB, the most read from standard input, a pipe or a device (name a file instead)"
    assert (result.returncode, (result.stdout + result.stderr).decode()) == (1, expected.format(reason))


def test_stdin_and_missing_files(tmp_path):
    data = statement(doc())
    assert run("json", "-", stdin=data).stdout == run("json", "-", stdin=data).stdout != b""
    result = run("check", tmp_path / "none.txt", tmp_path, "-", stdin=b"")
    assert result.stdout.decode().splitlines() == [
        f"{tmp_path / 'none.txt'}: error: No such file or directory", f"{tmp_path}: error: Is a directory",
        "<stdin>: error: Input is empty"]
    for command in ("show", "json", "csv"):
        result = run(command, tmp_path / "none.txt")
        assert (result.returncode, result.stdout) == (1, b"")
        assert result.stderr.decode() == f"mirtle: {tmp_path / 'none.txt'}: No such file or directory\n"


def test_parse_error_of_export_names_the_line(write):
    path = write(statement(["abc"]))
    for command in ("show", "json", "csv"):
        result = run(command, path)
        assert (result.returncode, result.stdout) == (1, b"")
        assert result.stderr.decode() == f"{path}:6: error: Unrecognized line: 'abc'\n"


USAGE = [  # (arguments, why)
    ([], "no subcommand"),
    (["json"], "missing FILE"),
    (["frobnicate", "x"], "unknown subcommand"),
    (["csv", "--bogus", "x"], "unknown option"),
    (["check", "-j", "0", "x"], "jobs out of range"),
    (["show", "a", "b"], "two files for show"),
    (["check", "-", "-"], "standard input twice: it can be read once"),
]


@pytest.mark.parametrize("args,why", USAGE, ids=[u[1] for u in USAGE])
def test_bad_usage_exits_2(args, why):
    result = run(*args)
    assert result.returncode == 2 and result.stdout == b"" and result.stderr


@pytest.mark.parametrize("args", [["--help"], ["--version"], *([c, "--help"] for c in ("show", "json", "csv", "check"))])
def test_help_and_version(args):
    result = run(*args)
    assert result.returncode == 0 and result.stdout.startswith(b"mirtle" if args == ["--version"] else b"")
    assert result.stdout


def test_output_failures(generated):
    """A full disk is an error naming the output; a reader that went away is not."""
    with open("/dev/full", "wb") as full:
        result = subprocess.run([*COMMAND, "json", generated], stdout=full, capture_output=False,
                                stderr=subprocess.PIPE, timeout=60)
    assert (result.returncode, result.stderr) == (1, b"mirtle: standard output: No space left on device\n")
    shell = subprocess.run(f"{shlex.join(COMMAND)} csv '{generated}' | head -c 10 >/dev/null; echo ${{PIPESTATUS[0]}}",
                           shell=True, executable="/bin/bash", capture_output=True, timeout=60)
    assert shell.stdout == b"0\n" and b"mirtle:" not in shell.stderr  # warnings only, no complaint


def test_json_lines_streams_the_documents(generated):
    """The streamed documents are the statement's, line for line; warnings go to standard error."""
    _, obj = json_of(generated)
    result = run("json", "--lines", generated)
    assert result.returncode == 0
    lines = result.stdout.decode().splitlines()
    assert lines == [json.dumps(d, ensure_ascii=False, separators=(",", ":")) for d in obj["documents"]]
    assert result.stderr.decode().splitlines() == [
        f"{generated}:{w['lineno']}: warning: {w['message']}" for w in obj["warnings"]] != []


def test_json_lines_keeps_what_came_before_an_error(write):
    path = write(statement(doc(Номер="1"), doc(Номер="2"), ["abc"]))
    result = run("json", "--lines", path)
    assert [json.loads(l)["doc_number"] for l in result.stdout.splitlines()] == ["1", "2"]
    assert (result.returncode, result.stderr.decode()) == (1, f"{path}:34: error: Unrecognized line: 'abc'\n")


@pytest.mark.parametrize("path", EXAMPLES + ["generated"], ids=lambda p: getattr(p, "name", p))
def test_json_raw_is_every_line_of_the_file(path, generated):
    """Each attribute names its line, and that line holds the key and the value; nothing is left out."""
    path = generated if path == "generated" else path
    result = run("json", "--raw", path)
    assert result.returncode == 0
    obj = json.loads(result.stdout)
    assert result.stdout.decode() == json.dumps(obj, ensure_ascii=False, separators=(",", ":")) + "\n"
    text = path.read_bytes().decode(obj["encoding"])
    lines = [l.strip() for l in text.lstrip("\ufeff").splitlines()]
    seen = set()
    for lineno, key, value in obj["header"] + [a for s in obj["sections"] for a in s["attributes"]]:
        assert lines[lineno - 1].partition("=")[0].strip() == key
        assert lines[lineno - 1].partition("=")[2].strip() == value
        seen.add(lineno)
    for s in obj["sections"]:
        assert lines[s["start_line"] - 1].startswith("СекцияДокумент" if s["kind"] == "document" else "СекцияРасчСчет")
        assert lines[s["end_line"] - 1] in ("КонецДокумента", "КонецРасчСчет")
        if s["kind"] == "document":
            assert lines[s["start_line"] - 1].partition("=")[2].strip() == s["doc_type"]
        seen.update((s["start_line"], s["end_line"]))
    assert seen | {1, len(lines)} == {i + 1 for i, l in enumerate(lines) if l}


CONVERSIONS = [  # (arguments, encoding, newline, why)
    (["--encoding", "cp1251"], "cp1251", b"\r\n", "to windows-1251, CRLF by default"),
    (["--encoding", "utf-8", "--newline", "lf"], "utf-8", b"\n", "to UTF-8 with LF"),
    ([], None, b"\r\n", "keeps the input's encoding"),
]


@pytest.mark.parametrize("args,encoding,newline,why", CONVERSIONS, ids=[c[3] for c in CONVERSIONS])
@pytest.mark.parametrize("path", EXAMPLES + ["generated"], ids=lambda p: getattr(p, "name", p))
def test_convert_loses_nothing(tmp_path, generated, path, args, encoding, newline, why):
    """The converted file reads back to the same sections; only Кодировка follows the new encoding."""
    path = generated if path == "generated" else path
    out = tmp_path / "out.txt"
    result = run("convert", path, "-o", out, *args)
    assert result.returncode == 0, result.stderr
    before, after = json.loads(run("json", "--raw", path).stdout), json.loads(run("json", "--raw", out).stdout)
    assert after["encoding"] == (encoding or before["encoding"])
    strip = lambda raw: [[(k, v) for _, k, v in raw["header"] if k != "Кодировка"],  # noqa: E731
                         [(s["kind"], s["doc_type"], [(k, v) for _, k, v in s["attributes"]]) for s in raw["sections"]]]
    assert strip(after) == strip(before)
    data = out.read_bytes()
    assert data.count(newline) == data.count(b"\n") > 0
    renamed = [v for _, k, v in after["header"] if k == "Кодировка"]
    assert renamed == [{"cp1251": "Windows", "utf-8": "UTF-8"}[after["encoding"]]] * len(renamed)
    notes = result.stderr.decode().splitlines()
    assert len(notes) == sum(v not in renamed for _, k, v in before["header"] if k == "Кодировка")
    assert all(": note: Кодировка=" in n for n in notes)


def test_convert_refusal_and_unwritable_output(write, tmp_path):
    path = write(statement(doc(НазначениеПлатежа="Ω sign")))
    out = tmp_path / "out.txt"
    result = run("convert", path, "-o", out, "--encoding", "cp1251")
    assert result.returncode == 1 and not out.exists() and not list(tmp_path.glob("*.mirtle-tmp"))
    assert result.stderr.decode().startswith(f"{path}: error: cannot be written: ")
    result = run("convert", path, "-o", tmp_path / "missing" / "out.txt")
    assert (result.returncode, result.stderr.decode()) == (
        1, f"mirtle: {tmp_path / 'missing' / 'out.txt'}: No such file or directory\n")
