"""mirtle.read: every kind of source gives what mirtle_py.parse gives for its bytes; hooks and strict."""

import errno
import io
import mmap
import os
import pathlib
import traceback

import mirtle_py
import pytest

import mirtle
import mirtle.dask

from conftest import SAMPLES

SAMPLE = SAMPLES[0]

def mapped(path):
    with open(path, "rb") as f:
        return mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)


SOURCES = [  # (id, make(path) -> source)
    ("str path", lambda p: str(p)),
    ("PathLike", lambda p: pathlib.Path(p)),
    ("binary file", lambda p: open(p, "rb")),
    ("BytesIO", lambda p: io.BytesIO(p.read_bytes())),
    ("bytes", lambda p: p.read_bytes()),
    ("bytearray", lambda p: bytearray(p.read_bytes())),
    ("memoryview", lambda p: memoryview(p.read_bytes())),
    ("mmap", mapped),
]


def plain(stmt):
    return mirtle.to_dict(stmt), repr(stmt)


@pytest.mark.parametrize("path", SAMPLES, ids=lambda p: p.name)
@pytest.mark.parametrize("make", [m for _, m in SOURCES], ids=[i for i, _ in SOURCES])
def test_every_source_reads_as_parse_of_its_bytes(path, make):
    source = make(path)
    try:
        assert plain(mirtle.read(source)) == plain(mirtle_py.parse(path.read_bytes()))
    finally:
        if hasattr(source, "close"):
            source.close()


def test_a_file_is_read_from_its_current_position(tmp_path):
    path = tmp_path / "s.txt"
    path.write_bytes(b"junk\n" + SAMPLE.read_bytes())
    with open(path, "rb") as f:
        f.readline()
        assert plain(mirtle.read(f)) == plain(mirtle_py.parse(SAMPLE.read_bytes()))


@pytest.mark.parametrize("make, error, words", [
    (lambda d: d / "missing.txt", FileNotFoundError, "does not exist"),
    (lambda d: d, IsADirectoryError, "is a directory"),
    (lambda d: open(d / "s.txt", encoding="utf-8"), TypeError, "text mode"),
    (lambda d: io.StringIO("1CClientBankExchange"), TypeError, "text mode"),
    (lambda d: 42, TypeError, "not int"),
    (lambda d: None, TypeError, "not NoneType"),
], ids=["missing path", "directory", "text file", "StringIO", "int", "None"])
def test_bad_sources_say_what_is_wrong(tmp_path, make, error, words):
    (tmp_path / "s.txt").write_bytes(SAMPLE.read_bytes())
    source = make(tmp_path)
    try:
        with pytest.raises(error, match=words):
            mirtle.read(source)
    finally:
        if hasattr(source, "close"):
            source.close()


# --- a str is a path: a statement's text given as one is refused without being echoed ---------------------------

def needs(module):
    return pytest.importorskip(module)


# Every entry of the package that takes a path-or-bytes source, its result as plain data.
ENTRIES = {
    "read": lambda source: mirtle.to_dict(mirtle.read(source)),
    "sections": lambda source: [(x.kind, x.attributes) for x in mirtle.sections(source).sections],
    "read_source": lambda source: bytes(mirtle.read_source(source)),
    "documents_table": lambda source: needs("pyarrow") and mirtle.documents_table(source).to_pylist(),
    "intervals_table": lambda source: needs("pyarrow") and mirtle.intervals_table(source).to_pylist(),
    "dask": lambda source: needs("dask.dataframe") and repr(
        mirtle.dask.read_documents([source]).compute().to_dict("records")),
}

TEXT = SAMPLE.read_text(encoding="cp1251")  # CR LF line ends; "/" in purposes
SHORT = "1CClientBankExchange\nВерсияФормата=1.03\nКонецФайла\n"
NOT_PATHS = [  # (source, error, errno, the words after "this one (N characters")
    (SHORT, FileNotFoundError, errno.ENOENT, ", with a line break) cannot be opened: No such file or directory"),
    (SHORT.replace("\n", "\r"), FileNotFoundError, errno.ENOENT,
     ", with a line break) cannot be opened: No such file or directory"),
    (TEXT, OSError, errno.ENAMETOOLONG, ") is longer than a path can be"),
    (TEXT.replace("\r\n", " "), OSError, errno.ENAMETOOLONG, ") is longer than a path can be"),
    ("1CClientBankExchange" + "б" * 200, OSError, errno.ENAMETOOLONG, ") is longer than a path can be"),
]


@pytest.mark.parametrize("entry", ENTRIES.values(), ids=ENTRIES.keys())
@pytest.mark.parametrize("text, error, number, words", NOT_PATHS,
                         ids=["short statement", "CR lines", "a statement", "one line", "a long name"])
def test_a_str_that_cannot_be_a_path_is_refused_without_its_text(entry, text, error, number, words):
    with pytest.raises(error) as info:
        entry(text)
    assert type(info.value) is error and info.value.errno == number and info.value.filename is None
    assert str(info.value) == (f"[Errno {number}] a str source is read as a path, and this one ({len(text)} "
                               f"characters{words}; pass a statement's text as bytes (text.encode())")


def test_a_path_object_holding_a_statement_says_it_is_a_path():
    with pytest.raises(FileNotFoundError, match=r"^\[Errno 2\] an os.PathLike source is a path, and this one \("):
        mirtle.read(pathlib.Path(SHORT))


@pytest.mark.parametrize("entry", ENTRIES.values(), ids=ENTRIES.keys())
@pytest.mark.parametrize("name", ["выписка №1.txt", "две\nстроки.txt", "я" * 120 + ".txt", " пробелы .txt"],
                         ids=["Cyrillic", "a line feed", "244 bytes", "spaces"])
def test_real_paths_read_whatever_their_names(tmp_path, entry, name, monkeypatch):
    path = tmp_path / name
    path.write_bytes(SAMPLE.read_bytes())
    expected = entry(SAMPLE.read_bytes())
    monkeypatch.chdir(tmp_path)
    for source in (str(path), path, name):
        assert entry(source) == expected


STATEMENT = "1CClientBankExchange\nВерсияФормата=1.03\nСекцияРасчСчет\nДатаНачала=01.03.2024\n" \
            "РасчСчет=1\nНачальныйОстаток=1.00\nКонецРасчСчет\nКонецФайла\n".encode()


def test_a_hooks_exception_is_the_cause_with_its_traceback():
    def hook(section_type, attrs, header):
        return attrs["нет такого ключа"]

    with pytest.raises(mirtle_py.SyntaxError) as info:
        mirtle.read(STATEMENT, hooks=[hook])
    error = info.value
    assert str(error) == "Hook error: KeyError: 'нет такого ключа'"  # as parse says it
    assert isinstance(error.detail, mirtle_py.HookError) and error.detail.lineno == 7
    assert isinstance(error.__cause__, KeyError)
    assert "return attrs[" in "".join(traceback.format_exception(error.__cause__))


@pytest.mark.parametrize("hooks", [[lambda t, a, h: a.update(Номер=5)], [42]], ids=["non-str value", "not callable"])
def test_hook_errors_read_as_parse_says_them(hooks):
    data = STATEMENT
    with pytest.raises(mirtle_py.SyntaxError) as ours:
        mirtle.read(data, hooks=hooks)
    with pytest.raises(mirtle_py.SyntaxError) as theirs:
        mirtle_py.parse(data, hooks)
    assert (ours.value.args, ours.value.detail.__getnewargs__()) == (
        theirs.value.args, theirs.value.detail.__getnewargs__())


@pytest.mark.parametrize("hooks", ["abc", {1: 2}, 5], ids=["str", "dict", "int"])
def test_bad_hooks_raise_as_parse_does(hooks):
    with pytest.raises(TypeError) as ours:
        mirtle.read(STATEMENT, hooks=hooks)
    with pytest.raises(TypeError) as theirs:
        mirtle_py.parse(STATEMENT, hooks)
    assert ours.value.args == theirs.value.args




BROKEN = SAMPLES[0].read_bytes()


def test_strict_raises_the_first_warning():
    stmt = mirtle_py.parse(BROKEN)
    assert stmt.warnings, "the sample keeps a broken document"
    lineno, message = stmt.warnings[0]
    with pytest.raises(mirtle_py.SyntaxError) as info:
        mirtle.read(BROKEN, strict=True)
    assert str(info.value) == f"Document parse error: {message}"
    assert (type(info.value.detail), info.value.detail.lineno, info.value.detail.message) == (
        mirtle_py.DocumentParseError, lineno, message)
    assert f"at line {lineno}" in info.value.__notes__[0]


def test_strict_without_warnings_returns_the_statement():
    assert plain(mirtle.read(STATEMENT, strict=True)) == plain(mirtle_py.parse(STATEMENT))
