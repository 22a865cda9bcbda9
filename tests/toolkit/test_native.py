"""mirtle._native: one shared object with mirtle_py, its types mirtle_py's own; buffers read in place; its binder."""

import gc
import inspect
import mmap
import pathlib
import platform
import struct
import subprocess
import sys
from operator import attrgetter

import mirtle_py
import pytest

import mirtle
from mirtle import _native
from conftest import SAMPLES, generated
from tables_support import account, document, statement

TEXT = statement(document(), account(), document(Номер="2")).encode()
BROKEN = TEXT[:TEXT.rindex("КонецФайла".encode())]  # UnfinishedError


# --- one library, one set of types -------------------------------------------------------------------------------

def dynamic_symbols(path):
    """The names of the functions an ELF64 little-endian shared object exports (defined, global or weak)."""
    data = pathlib.Path(path).read_bytes()
    assert data[:6] == b"\x7fELF\x02\x01", "an ELF64 little-endian file"
    shoff, = struct.unpack_from("<Q", data, 0x28)
    shentsize, shnum = struct.unpack_from("<HH", data, 0x3A)
    sections = [struct.unpack_from("<IIQQQQIIQQ", data, shoff + i * shentsize) for i in range(shnum)]
    names = set()
    for _, kind, _, _, offset, size, link, _, _, entsize in sections:
        if kind != 11:  # SHT_DYNSYM
            continue
        strtab = sections[link][4]
        for at in range(offset, offset + size, entsize):
            name, info, _, shndx, _, _ = struct.unpack_from("<IBBHQQ", data, at)
            if shndx != 0 and info >> 4 in (1, 2):  # defined here, STB_GLOBAL or STB_WEAK
                names.add(data[strtab + name:data.index(b"\0", strtab + name)].decode())
    return names


@pytest.mark.skipif(platform.system() != "Linux", reason="reads the ELF symbol table")
def test_the_library_exports_the_two_module_entries_only():
    assert dynamic_symbols(mirtle_py.__file__) == {"PyInit_mirtle_py", "PyInit__native"}


def test_the_native_module_is_loaded_from_mirtle_py_and_adds_nothing_to_it():
    assert _native.__file__ == mirtle_py.__file__ and sys.modules["mirtle._native"] is _native
    assert {n for n in vars(mirtle_py) if not n.startswith("_")} == set(mirtle_py.__all__)


def seen_section_types(call):
    seen = []
    call([lambda section_type, attrs, header: seen.append(section_type)])
    return seen


IDENTITIES = {  # what a native entry hands out: the very mirtle_py objects
    "error of read_sections": lambda: type(raised(lambda: _native.read_sections(b""))) is mirtle_py.EmptyInputError,
    "error of parse": lambda: type(raised(lambda: _native.parse(BROKEN))) is mirtle_py.UnfinishedError,
    "error of tables": lambda: type(raised(lambda: _native.tables(b"x"))) is mirtle_py.NotStatementError,
    "detail of document_error": lambda: type(_native.document_error(3, "x").detail) is mirtle_py.DocumentParseError,
    "statement of parse": lambda: type(_native.parse(TEXT)) is mirtle_py.Statement,
    "documents of parse": lambda: {type(d) for d in _native.parse(TEXT).documents} == {mirtle_py.Document},
    "hooks of parse": lambda: seen_section_types(lambda h: _native.parse(TEXT, h)) == [
        mirtle_py.SectionType.Document, mirtle_py.SectionType.Account, mirtle_py.SectionType.Document],
    "hooks of tables": lambda: all(t is mirtle_py.SectionType.Document or t is mirtle_py.SectionType.Account
                                   for t in seen_section_types(lambda h: _native.tables(TEXT, h))),
    "mirtle's names": lambda: (mirtle.Section, mirtle.Sections, mirtle.WriteError) == (
        _native.Section, _native.Sections, _native.WriteError),
}


def raised(call):
    try:
        call()
    except BaseException as e:  # noqa: B036 - the very object is looked at
        return e


@pytest.mark.parametrize("check", IDENTITIES.values(), ids=IDENTITIES)
def test_native_entries_hand_out_mirtle_pys_objects(check):
    assert check()


RAISED = {  # a call of the native module, and the mirtle_py class whose except clause catches what it raises
    "read_sections": (lambda: _native.read_sections(b"1CClientBankExchange\nFoo\n"), mirtle_py.SyntaxError),
    "mirtle.sections": (lambda: mirtle.sections(b"\n"), mirtle_py.EmptyInputError),
    "mirtle.read": (lambda: mirtle.read(BROKEN), mirtle_py.UnfinishedError),
    "documents": (lambda: _native.documents(BROKEN + b"x\n"), mirtle_py.SyntaxError),
    "tables, a hook failing": (lambda: _native.tables(TEXT, [lambda *a: 1 / 0]), mirtle_py.SyntaxError),
}


@pytest.mark.parametrize("call, cls", RAISED.values(), ids=RAISED)
def test_except_mirtle_py_catches_what_the_native_module_raises(call, cls):
    try:
        call()
    except cls as e:
        assert type(e) is cls
    else:
        pytest.fail("nothing raised")


# The native module loaded first, in a process that never imported mirtle_py: the types it creates are the ones
# mirtle_py shows when imported afterwards.
NATIVE_FIRST = """
import importlib.machinery, importlib.util, sys
path = importlib.util.find_spec("mirtle_py").origin
loader = importlib.machinery.ExtensionFileLoader("mirtle._native", path)
native = importlib.util.module_from_spec(importlib.util.spec_from_file_location("mirtle._native", path, loader=loader))
loader.exec_module(native)
error, seen = native.document_error(1, "x"), []
native.parse(sys.argv[1].encode(), [lambda t, a, h: seen.append(t)])
assert "mirtle_py" not in sys.modules
import mirtle_py
print(type(error) is mirtle_py.SyntaxError, type(error.detail) is mirtle_py.DocumentParseError,
      seen[0] is mirtle_py.SectionType.Document, type(native.parse(sys.argv[1].encode())) is mirtle_py.Statement)
"""


def test_types_are_shared_whichever_module_is_loaded_first():
    proc = subprocess.run([sys.executable, "-c", NATIVE_FIRST, TEXT.decode()], capture_output=True, text=True,
                          timeout=60)
    assert proc.stdout.split() == ["True"] * 4, proc.stdout + proc.stderr


# --- buffers -------------------------------------------------------------------------------------------------------

def mapped(data, tmp_path):
    path = tmp_path / "s.txt"
    path.write_bytes(data)
    with open(path, "rb") as f:
        return mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)


BUFFERS = {  # how a statement is given, and how its holder lets go of it, which it cannot while a call holds it
    "bytes": (lambda data, tmp: data, None),
    "bytearray": (lambda data, tmp: bytearray(data), lambda b: b.extend(b"\n")),
    "memoryview": (lambda data, tmp: memoryview(data), memoryview.release),
    "memoryview of bytearray": (lambda data, tmp: memoryview(bytearray(data)), memoryview.release),
    "2-d memoryview": (lambda data, tmp: memoryview(data).cast("B", (1, len(data))), None),
    "mmap": (mapped, mmap.mmap.close),
}
ENTRIES = {  # entry taking (buffer, hooks): a plain picture of its result
    "mirtle.read": lambda b, h: mirtle.to_dict(mirtle.read(b, h)),
    "_native.parse": lambda b, h: mirtle.to_dict(_native.parse(b, h)),
    "_native.documents": lambda b, h: _native.documents(b, h).num_rows,
    "_native.tables": lambda b, h: [t.num_rows for t in _native.tables(b, h)],
    "read_sections": lambda b, h: [s.attributes for s in _native.read_sections(b).sections],  # takes no hooks
}


@pytest.mark.parametrize("entry", ENTRIES, ids=ENTRIES)
@pytest.mark.parametrize("buffer", BUFFERS, ids=BUFFERS)
def test_buffers_are_read_in_place_and_released(entry, buffer, tmp_path):
    (make, let_go), call = BUFFERS[buffer], ENTRIES[entry]
    expected, attempts = call(TEXT, None), []

    def hook(section_type, attrs, header):  # the statement is held, not copied: its holder cannot let go now
        try:
            let_go(source)
        except BufferError:
            attempts.append("held")

    source = make(TEXT, tmp_path)
    checked = let_go is not None and entry != "read_sections"
    assert call(source, [hook] if checked else None) == expected
    assert attempts == ["held"] * 3 * checked  # one call for each of the three sections
    if let_go is not None:
        let_go(source)  # released once the call is over


@pytest.mark.parametrize("entry", ENTRIES.values(), ids=ENTRIES)
@pytest.mark.parametrize("hooks", [None, [lambda *a: None], [lambda *a: 1 / 0]], ids=["detached", "hooks", "raises"])
def test_a_buffer_is_released_when_the_call_fails(entry, hooks):
    source = bytearray(BROKEN)
    with pytest.raises(mirtle_py.ParseError):
        entry(source, hooks)
    source.extend(b"\n")  # BufferError if the failed call had kept its export


NON_CONTIGUOUS = memoryview(bytearray(TEXT))[::2]


@pytest.mark.parametrize("call, name", [
    (lambda: _native.parse(NON_CONTIGUOUS), "statement"), (lambda: _native.read_sections(NON_CONTIGUOUS), "data"),
    (lambda: _native.documents(NON_CONTIGUOUS), "statement"), (lambda: _native.tables(NON_CONTIGUOUS), "statement"),
], ids=["parse", "read_sections", "documents", "tables"])
def test_a_non_contiguous_buffer_is_refused_with_a_type_error(call, name):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == f"{name} must be a contiguous buffer; copy this memoryview with bytes() first"
    assert isinstance(info.value.__cause__, BufferError)


@pytest.mark.parametrize("value", ["text", 42, None, [b"x"]], ids=["str", "int", "None", "list"])
def test_what_is_not_a_buffer_is_named(value):
    with pytest.raises(TypeError, match=rf"^statement must be a bytes-like object, not {type(value).__name__}$"):
        _native.parse(value)


def test_every_sample_parses_as_mirtle_py_parses_its_bytes():
    for path in SAMPLES:
        data = path.read_bytes()
        assert mirtle.to_dict(_native.parse(bytearray(data))) == mirtle.to_dict(mirtle_py.parse(data))


# --- the binder: the interpreter's own wording, for native entries as for Python functions of their signature -----

def read_sections(data, /, threads=None): ...
def document_error(lineno, message, /): ...
def write_raw(header, sections, encoding, newline, update_encoding_header, /): ...
def documents(statement, hooks=None, threads=None): ...
def tables(statement, hooks=None, threads=None): ...
def parse(statement, hooks=None): ...


SIGNATURES = {f.__name__: f for f in (read_sections, document_error, write_raw, documents, tables, parse)}
BAD_CALLS = {  # arguments that no signature above takes all of
    "none": ((), {}), "too many": ((1, 2, 3, 4, 5, 6), {}), "one of two": ((1,), {}),
    "unknown keyword": ((TEXT,), {"colour": None}), "twice": ((TEXT,), {"statement": TEXT}),
    "keyword only": ((), {"hooks": None}),
}


def message(call, args, kwargs):
    try:
        call(*args, **kwargs)
    except TypeError as e:
        return str(e)
    return None


@pytest.mark.parametrize("name", SIGNATURES)
@pytest.mark.parametrize("args, kwargs", BAD_CALLS.values(), ids=BAD_CALLS)
def test_argument_errors_read_as_the_interpreters(name, args, kwargs):
    expected = message(SIGNATURES[name], args, kwargs)
    if expected is None:  # the call binds; the native entry may still refuse the values
        return
    params = inspect.signature(SIGNATURES[name]).parameters.values()
    if kwargs and all(p.kind is p.POSITIONAL_ONLY for p in params):
        expected = f"{name}() takes no keyword arguments"  # a builtin's wording when every parameter is positional
    assert message(getattr(_native, name), args, kwargs) == expected


# --- mirtle.tables: both tables from one parse -----------------------------------------------------------------

pa = pytest.importorskip("pyarrow")

STATEMENTS = {**{p.name: p.read_bytes() for p in SAMPLES},
              **{f"gen-{s}": generated(s, enc, documents=200, accounts=3, periods=3)
                 for s, enc in [(1, "utf-8"), (2, "cp1251")]}}


def mark_payee(section_type, attrs, header):
    if section_type is mirtle_py.SectionType.Document:
        attrs["Получатель"] = "hooked"
    else:
        attrs["ВсегоПоступило"] = "1.005"


@pytest.mark.parametrize("data", STATEMENTS.values(), ids=STATEMENTS)
@pytest.mark.parametrize("hooks", [None, [mark_payee]], ids=["plain", "hooked"])
def test_tables_are_the_two_tables(data, hooks):
    documents, intervals = mirtle.tables(data, hooks)
    assert documents.equals(mirtle.documents_table(data, hooks))
    assert intervals.equals(mirtle.intervals_table(data, hooks))


@pytest.mark.parametrize("data", STATEMENTS.values(), ids=STATEMENTS)
def test_tables_call_each_hook_once_per_section(data):
    def counting(calls):
        return [lambda t, a, h: calls.append(t)]
    once, theirs = [], []
    mirtle.tables(data, counting(once))
    mirtle_py.parse(data, counting(theirs))
    assert once == theirs and len(once) == len(mirtle.sections(data).sections)


def test_the_tables_module_is_callable_and_stays_a_module():
    import mirtle.tables
    data = STATEMENTS["gen-1"]
    both, function = mirtle.tables(data), mirtle.tables.tables(data)
    assert [t.num_rows for t in both] == [t.num_rows for t in function] and both[0].equals(function[0])
    assert mirtle.tables.documents_table(data).equals(both[0]) and "tables" in mirtle.__all__


OVERFLOWING_DOCUMENTS = [document(Сумма="0.0000000001"), document(Номер="8", Сумма="79228162514264337593543950335")]
OVERFLOWING_INTERVALS = [account(ВсегоПоступило="0.0000000001"),
                         account("2", ДатаНачала="02.03.2024", НачальныйОстаток="79228162514264337593543950335")]
FAILURES = {  # statement, which single table's error the pair raises
    "documents": (statement(*OVERFLOWING_DOCUMENTS, account()), "documents"),
    "intervals": (statement(document(), *OVERFLOWING_INTERVALS), "intervals"),
    "both: the documents' first": (statement(*OVERFLOWING_DOCUMENTS, *OVERFLOWING_INTERVALS), "documents"),
    "parse error": (statement(document()) + "x\n", "documents"),
}


@pytest.mark.parametrize("text, which", FAILURES.values(), ids=FAILURES)
def test_tables_fail_as_the_first_failing_table(text, which):
    data = text.encode()
    single = {"documents": mirtle.documents_table, "intervals": mirtle.intervals_table}[which]
    expected = raised(lambda: single(data))
    error = raised(lambda: mirtle.tables(data))
    assert (type(error), error.args) == (type(expected), expected.args)


# --- the debug interpreter: allocation failures and references --------------------------------------------------

debug_only = pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"), reason="needs the debug interpreter")


def refusal(error, call):
    """repr() of the `error` that `call` raises; any other exception (MemoryError) goes through."""
    try:
        call()
    except error as e:
        return repr(e), repr(getattr(e, "detail", None))
    raise AssertionError("no refusal")


def statement_picture(stmt):
    return repr(stmt), repr(stmt.header), repr(stmt.accounts), repr(stmt.documents)


def collected(export):
    blocks = []
    export(blocks.append)
    return blocks


# No comprehensions here: one whose append fails trips an assertion of the debug interpreter itself.
NATIVE_CALLS = {
    "parse": lambda: statement_picture(_native.parse(bytearray(TEXT), [mark_payee])),
    "parse-error": lambda: refusal(mirtle_py.UnfinishedError, lambda: _native.parse(memoryview(BROKEN))),
    "read_sections": lambda: list(map(attrgetter("attributes"), _native.read_sections(memoryview(TEXT)).sections)),
    "read_sections-error": lambda: refusal(mirtle_py.SyntaxError, lambda: _native.read_sections(TEXT + b"x\n")),
    "read_sections-in-place": lambda: list(map(attrgetter("attributes"), _native.read_sections(TEXT, 2).sections)),
    "tables-two-parts": lambda: list(map(attrgetter("num_rows"), _native.tables(TEXT, None, 2))),
    "tables": lambda: list(map(attrgetter("num_rows"), _native.tables(bytearray(TEXT), [mark_payee]))),
    "tables-refused": lambda: refusal(TypeError, lambda: _native.tables(NON_CONTIGUOUS)),
    "document_error": lambda: repr(_native.document_error(7, "ё")),
    "to_json": lambda: _native.to_json(_native.parse(TEXT)),
    "export_csv": lambda: _native.export_csv(bytearray(TEXT), None, False, True),
    "export_csv-write": lambda: collected(lambda write: _native.export_csv(_native.parse(TEXT), write, True, False)),
    "export_csv-error": lambda: refusal(mirtle_py.UnfinishedError, lambda: _native.export_csv(BROKEN, None, 0, 0)),
    "balances": lambda: _native.balances(TEXT),
    "balances-statement": lambda: _native.balances(_native.parse(TEXT)),
    "binding-error": lambda: refusal(TypeError, lambda: _native.document_error(1)),
}


@debug_only
@pytest.mark.parametrize("call", NATIVE_CALLS.values(), ids=NATIVE_CALLS)
def test_allocation_failures_raise_memory_error_only(call):
    testcapi = pytest.importorskip("_testcapi")
    expected, failures = call(), []
    gc.disable()  # a collection inside the window would shift the indices
    try:
        for start in range(20_000):  # every allocation from `start` on fails; the first start that passes ends it
            testcapi.set_nomemory(start, 0)
            try:
                value = call()
                result = None
            except BaseException as e:  # noqa: B036 - anything at all is a finding
                result = e
            finally:
                testcapi.remove_mem_hooks()
            if result is None and value == expected:
                break
            detail = getattr(result, "detail", None)
            if not (isinstance(result, MemoryError) or
                    isinstance(detail, mirtle_py.HookError) and detail.message.startswith("MemoryError")):
                failures.append((start, repr(result)))
        else:
            pytest.fail("the sweep does not end")
    finally:
        gc.enable()
    assert not failures, failures[:5]
    assert call() == expected


@debug_only
def test_no_reference_growth():
    def run():
        for call in NATIVE_CALLS.values():
            call()
    for _ in range(50):
        run()
    growths = []
    for _ in range(3):
        gc.collect()
        before = sys.gettotalrefcount()
        for _ in range(500):
            run()
        gc.collect()
        growths.append(sys.gettotalrefcount() - before)
        if growths[-1] < 100:
            return
    pytest.fail(f"{growths} references over 500 runs, in each of 3 rounds")


@pytest.mark.parametrize("date, text", [
    ((2024, 2, 29), "29.02.2024"), ((2023, 2, 29), None), ((1900, 2, 29), None), ((2000, 2, 29), "29.02.2000"),
    ((0, 1, 1), "01.01.0000"), ((-5, 12, 31), "31.12.-0005"), ((10000, 1, 1), "01.01.+10000"),
    ((262142, 12, 31), "31.12.+262142"), ((262143, 1, 1), None), ((-262144, 1, 1), None),
    ((2024, 0, 1), None), ((2024, 13, 1), None), ((2024, 4, 31), None), ((2024, 1, 0), None),
    ((2**70, 1, 1), None), ((2024, -2**70, 1), None),
])
def test_statement_dates_read_back_as_the_same_date(date, text):
    assert _native.statement_date(*date) == text
    if text is not None:
        header = f"1CClientBankExchange\nДатаНачала={text}\nСекцияРасчСчет\nДатаНачала={text}\nРасчСчет=1\n"
        parsed = mirtle_py.parse((header + "НачальныйОстаток=0\nКонецРасчСчет\nКонецФайла\n").encode())
        year, month, day = date
        iso = f"{year:04}" if 0 <= year <= 9999 else f"{year:+05}"
        assert parsed.accounts["1"].intervals[0].date_start == f"{iso}-{month:02}-{day:02}"


def test_the_vocabulary_is_the_module_s_own():
    names = [name for name, *_ in _native.interval_fields()]
    assert names == [n for n, v in vars(mirtle_py.Interval).items() if not n.startswith("_") and not callable(v)]
    assert {_native.header_name("cp1251"), _native.header_name("utf-8")} == {"Windows", "UTF-8"}
    with pytest.raises(ValueError, match="^encoding must be 'cp1251' or 'utf-8', not 'koi8-r'$"):
        _native.header_name("koi8-r")
    assert (_native.ENCODING_KEY, _native.MAX_AMOUNT_SCALE) == ("Кодировка", 28)
