"""Allocation failures, swept over every allocation of a call: once at each index, and from each index on.

Pass: no crash, no SystemError, only MemoryError (or a HookError whose message begins with "MemoryError"), and
afterwards a normal call gives the normal result.  Needs the debug interpreter's _testcapi.set_nomemory.
"""

import copy
import gc
import json
import pickle
import subprocess
import sys
import textwrap

import pytest

import mirtle_py as m
from conftest import DETAILS, DOCUMENT_ATTRS, INTERVAL_ATTRS, account, doc, encode, outcome, snapshot, statement
from test_errors import KINDS

pytestmark = pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"), reason="needs the debug interpreter")
_testcapi = pytest.importorskip("_testcapi") if hasattr(sys, "gettotalrefcount") else None

# A call rarely needs a thousand allocations; a sweep that reaches this has stopped terminating.
MAX_ALLOCATIONS = 20_000
TEXT = statement(account(), account(РасчСчет="1", ДатаНачала="01.02.2024"), doc(), doc(Номер=None),
                 doc(Сумма="100.5", Получатель="ООО \"Ромашка\""))


def mask(section_type, attrs, header):
    if section_type is m.SectionType.Document:
        attrs["Получатель"] = attrs.get("Получатель", "") + header["ВерсияФормата"]
    attrs.pop("ВсегоСписано", None)


def fails_hook(*_):
    raise ValueError("boom")


def attempt(call):
    try:
        return call()
    except BaseException as e:  # noqa: B036 - anything at all is a finding
        return e


def under_nomemory(call, start, stop):
    """The result of `call` with its allocations start+1..stop failing (all from start+1 on for stop 0)."""
    _testcapi.set_nomemory(start, stop)
    try:
        return attempt(call)
    finally:
        _testcapi.remove_mem_hooks()


def acceptable(result):
    if isinstance(result, MemoryError):
        return True
    detail = getattr(result, "detail", None) if isinstance(result, m.SyntaxError) else None
    return isinstance(detail, m.HookError) and detail.message.startswith("MemoryError")


def sweep(call, normal):
    """Runs `call` under every failing tail and every single failure; returns the number of allocations."""
    failures, count = [], None
    gc.disable()  # a collection inside the window would shift the indices
    try:
        for start in range(MAX_ALLOCATIONS):  # failing from `start` on: the first start that passes ends the call
            result = under_nomemory(call, start, 0)
            if normal(result):
                count = start
                break
            if not acceptable(result):
                failures.append(("tail", start, repr(result)))
        assert count is not None, "the sweep does not end"
        for start in range(count):
            result = under_nomemory(call, start, start + 1)
            if not (acceptable(result) or normal(result)):
                failures.append(("once", start, repr(result)))
            if not normal(attempt(call)):
                failures.append(("after", start, "a normal call gives another result"))
    finally:
        gc.enable()
    assert not failures, failures[:5]
    return count


# --- parse -----------------------------------------------------------------------------------------------

PARSES = {
    "utf-8": (TEXT, None), "utf-8-hooks": (TEXT.encode(), [mask, mask]), "cp1251": (TEXT.encode("cp1251"), None),
    "cp1251-hooks": (TEXT.encode("cp1251"), (mask,)), "utf-16": (encode(TEXT, "utf-16le-bom"), None),
    "hook-raises": (TEXT, [fails_hook]), "hook-not-callable": (TEXT, [42]),
    **{f"error-{name}": (data, None) for name, (data, *_) in KINDS.items()},
}


def described(result):
    """A Statement or a parse error as plain values, in the form of conftest.outcome."""
    if isinstance(result, m.Statement):
        return ("ok", snapshot(result))
    if isinstance(result, m.ParseError):
        d = result.__dict__.get("detail")
        return ("error", type(result), result.args, None if d is None else (type(d), *d.__getnewargs__()))
    return None


@pytest.mark.parametrize(("data", "hooks"), PARSES.values(), ids=PARSES)
def test_parse(data, hooks):
    expected = outcome(data, hooks)
    sweep(lambda: m.parse(data, hooks), lambda result: described(result) == expected)


# --- objects ---------------------------------------------------------------------------------------------

STMT = m.parse(TEXT)
ACCT, DOC = STMT.accounts[account()[3].split("=")[1]], STMT.documents[0]
SAMPLE_DETAILS = [cls(7, *(f"{f} \"ё\"\n" for f in fields)) for cls, fields in DETAILS.items()]
PAIRS = [(ACCT, ACCT), (DOC, STMT.documents[1]), (ACCT.intervals[0], ACCT.intervals[0]),
         (m.SectionType.Account, m.SectionType.Document)]
# Lists are built by list() rather than by comprehensions: a comprehension whose append fails trips an
# assertion of the debug interpreter itself (it frees the item while its frame is half updated).
OBJECTS = {
    "detail-new": lambda: list(repr(cls(2**64 - 1, *fields)) for cls, fields in DETAILS.items()),
    "detail-new-refused": lambda: list(refused(cls, -1, *fields) for cls, fields in DETAILS.items()),
    "detail-repr": lambda: list(map(repr, SAMPLE_DETAILS)),
    "detail-copy": lambda: list((copy.copy(d).lineno, copy.deepcopy(d).lineno) for d in SAMPLE_DETAILS),
    "detail-pickle": lambda: list(repr(pickle.loads(pickle.dumps(d))) for d in SAMPLE_DETAILS),
    "document-getters": lambda: list(getattr(DOC, n) for n in DOCUMENT_ATTRS),
    "interval-getters": lambda: list(getattr(i, n) for i in ACCT.intervals for n in INTERVAL_ATTRS),
    "statement-getters": lambda: (STMT.encoding, len(STMT.header), len(STMT.accounts), len(STMT.documents)),
    "reprs": lambda: list(map(repr, (STMT, ACCT, *ACCT.intervals, *STMT.documents, m.SectionType.Account))),
    "comparisons": lambda: list((x == y, x != y) for x, y in PAIRS),
    "section-type": lambda: int(m.SectionType.Account),
}


def refused(cls, *args):
    try:
        cls(*args)
    except OverflowError as e:
        return str(e)


@pytest.mark.parametrize("call", OBJECTS.values(), ids=OBJECTS)
def test_objects(call):
    expected = call()
    sweep(call, lambda result: result == expected)


# --- import ----------------------------------------------------------------------------------------------

# Each case runs in a forked child of a fresh interpreter that has not loaded the module, so the execution step
# creates every process-wide type under the failure.  The child then imports again without failures and uses
# the module; it prints one JSON line: the failed step's outcome and what the module gave afterwards.
IMPORT_DRIVER = textwrap.dedent("""
    import importlib.util, json, os, sys, _testcapi
    spec = importlib.util.find_spec("mirtle_py")
    importlib.util.module_from_spec(spec)  # loads the library once; its types are made by the execution step
    text, limit = sys.argv[1], int(sys.argv[2])

    def use(mod):
        seen = []
        def hook(section_type, attrs, header):
            seen.append(repr(section_type) + str(section_type is getattr(mod.SectionType, repr(section_type)[12:])))
            attrs["Номер"] = "9"
        stmt = mod.parse(text, [hook])
        out = [seen, [d.doc_number for d in stmt.documents], repr(stmt), sorted(mod.__all__)]
        for data in (b"", "1CClientBankExchange\\nx\\n"):
            try:
                mod.parse(data)
            except mod.ParseError as e:
                out.append([type(e).__name__, str(e), repr(getattr(e, "detail", None))])
        return out

    def case(start, stop):
        mod = importlib.util.module_from_spec(spec)
        _testcapi.set_nomemory(start, stop)
        failed = None
        try:
            spec.loader.exec_module(mod)
        except BaseException as e:  # described once allocations work again
            failed = e
        finally:
            _testcapi.remove_mem_hooks()
        if failed is not None:
            failed = [type(failed).__name__, str(failed)[:60], type(failed.__cause__).__name__]
        again = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(again)
        return [start, stop, failed, use(again)]

    if limit == 0:  # the normal result, without failures
        mod = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(mod)
        print(json.dumps(use(mod)))
        sys.exit()
    for stop_after in (0, 1):  # failing from each index on, then once at each index
        start = 0
        while start < limit:
            read, write = os.pipe()
            pid = os.fork()
            if pid == 0:
                os.close(read)
                try:
                    line = json.dumps(case(start, start + stop_after if stop_after else 0))
                except BaseException as e:
                    line = json.dumps([start, stop_after, "child", repr(e)])
                os.write(write, line.encode() + b"\\n")
                os._exit(0)
            os.close(write)
            with os.fdopen(read, "rb") as f:
                output = f.read()
            status = os.waitpid(pid, 0)[1]
            print(output.decode().strip() or json.dumps([start, stop_after, "crash", status]), flush=True)
            result = json.loads(output or b"null")
            if stop_after == 0 and result and result[2] is None:
                limit = start  # the step ran with every allocation from here on failing: it needs no more
            start += 1
""")


def test_import():
    text = statement(doc(), account(), doc())
    run = lambda limit: subprocess.run([sys.executable, "-c", IMPORT_DRIVER, text, str(limit)],  # noqa: E731
                                       capture_output=True, text=True, timeout=600)
    normal, proc = run(0), run(MAX_ALLOCATIONS)
    assert proc.returncode == normal.returncode == 0, (normal.stderr + proc.stderr)[-2000:]
    expected, cases = json.loads(normal.stdout), [json.loads(line) for line in proc.stdout.splitlines()]
    assert expected[1] == ["9", "9"] and len(cases) > 100
    bad = [c for c in cases if len(c) != 4 or c[3] != expected or not (
        c[2] is None or c[2][0] == "MemoryError" or
        (c[2][0] == "RuntimeError" and c[2][1].startswith("Failed to initialize new exception type.") and
         c[2][2] == "MemoryError"))]
    assert not bad, bad[:5]
