"""Reference leaks, measured with the debug interpreter's total reference count.

Run with the debug build of the module:
    MIRTLE_BUILD=debug-python scripts/in-root python3.14d -m pytest tests/python/test_refleaks.py
"""

import copy
import gc
import pickle
import sys

import pytest

import mirtle_py
from conftest import account, doc, is_debug_build, statement

pytestmark = [
    pytest.mark.skipif(not is_debug_build(), reason="needs a debug interpreter (sys.gettotalrefcount)"),
    pytest.mark.slow,
]

WARMUP = 200
ITERATIONS = 2000
ALLOWED = 50
ROUNDS = 3

GOOD = statement(account(), doc(), doc(Номер=None), doc(ПолучательКПП="", ДатаСписано="06.03.2024"))
GOOD_CP1251 = GOOD.encode("cp1251")


def _swallow(call):
    def run():
        try:
            call()
        except mirtle_py.ParseError:
            pass
    return run


def _hook_writes(t, a, h):
    a["Номер"] = "1"
    a.pop("ДатаКонца", None)
    a["Новый"] = "x"


def _hook_raises(t, a, h):
    raise ValueError("boom \udc80")


def _hook_bad_value(t, a, h):
    a["Номер"] = 5


class _BadStr(Exception):
    def __str__(self):
        raise RuntimeError


def _hook_bad_str(t, a, h):
    raise _BadStr


def _nested(t, a, h):
    mirtle_py.parse(GOOD)


def _bad_hooks_iteration():
    class Seq:
        def __len__(self):
            raise RuntimeError

        def __getitem__(self, i):
            if i:
                raise ValueError
            return _hook_writes

    try:
        mirtle_py.parse(GOOD, Seq())
    except ValueError:
        pass


def _type_errors():
    for args in [(b"x", "abc"), (bytearray(b"x"),), ("\udc80",), (b"x", {}), (), (None, [_hook_writes] * 3)]:
        try:
            mirtle_py.parse(*args)
        except TypeError:
            pass
    try:
        mirtle_py.parse(b"x", hooks=None, other=1)
    except TypeError:
        pass


def _details():
    for d in (mirtle_py.MissingField(12, "Номер", "document"), mirtle_py.HookError(lineno=1, message="m"),
              mirtle_py.UnrecognizedLine(3, "x\"\\\x07")):
        repr(d), d.__getnewargs__(), d.lineno
        pickle.loads(pickle.dumps(d))
        copy.deepcopy(d)
    for bad in [(-1, "a", "b"), (1.0, "a", "b"), (1, b"a", "b"), (1, "a", "\udc80"), (1, "a")]:
        try:
            mirtle_py.MissingField(*bad)
        except (TypeError, OverflowError, UnicodeEncodeError):
            pass


def _results():
    stmt = mirtle_py.parse(GOOD)
    acct = next(iter(stmt.accounts.values()))
    repr(stmt), repr(acct), [repr(i) for i in acct.intervals], [repr(d) for d in stmt.documents]
    stmt.documents[0] == stmt.documents[0], acct.intervals == acct.intervals, acct == acct
    [getattr(stmt.documents[1], n) for n in ("doc_number", "amount", "payee_kpp", "outcome_date", "tax_type")]
    repr(mirtle_py.SectionType.Account), int(mirtle_py.SectionType.Document)


def _syntax_error_pickle():
    try:
        mirtle_py.parse("1CClientBankExchange\nFoo\n")
    except mirtle_py.SyntaxError as e:
        pickle.loads(pickle.dumps(e))


SCENARIOS = {
    "success": lambda: mirtle_py.parse(GOOD),
    "success-cp1251": lambda: mirtle_py.parse(GOOD_CP1251),
    "empty": _swallow(lambda: mirtle_py.parse(b"")),
    "not-statement": _swallow(lambda: mirtle_py.parse(b"\xff\xfe\x00\xd8")),
    "unfinished": _swallow(lambda: mirtle_py.parse(statement(doc(), end=False))),
    "unrecognized": _swallow(lambda: mirtle_py.parse("1CClientBankExchange\nFoo\n")),
    "unexpected-section": _swallow(lambda: mirtle_py.parse("1CClientBankExchange\nКонецФайла\n")),
    "unexpected-attribute": _swallow(lambda: mirtle_py.parse(GOOD + "a=b\n")),
    "missing-field": _swallow(lambda: mirtle_py.parse(statement(account(РасчСчет=None)))),
    "account-error": _swallow(lambda: mirtle_py.parse(statement(account(ВсегоСписано="x")))),
    "hook-success": lambda: mirtle_py.parse(GOOD, [_hook_writes, _hook_writes]),
    "hook-raises": _swallow(lambda: mirtle_py.parse(GOOD, [_hook_raises])),
    "hook-bad-value": _swallow(lambda: mirtle_py.parse(GOOD, [_hook_bad_value])),
    "hook-bad-str": _swallow(lambda: mirtle_py.parse(GOOD, [_hook_bad_str])),
    "hook-not-callable": _swallow(lambda: mirtle_py.parse(GOOD, [None])),
    "hook-nested": lambda: mirtle_py.parse(GOOD, [_nested]),
    "hooks-iteration-fails": _bad_hooks_iteration,
    "argument-errors": _type_errors,
    "details": _details,
    "results": _results,
    "syntax-error-pickle": _syntax_error_pickle,
}


def _growth(run):
    gc.collect()
    before = sys.gettotalrefcount()
    for _ in range(ITERATIONS):
        run()
    gc.collect()
    return sys.gettotalrefcount() - before


@pytest.mark.parametrize("name", list(SCENARIOS))
def test_no_reference_growth(name):
    # The interpreter's own caches (method cache, free lists) move the total by a few
    # dozen now and then; a leak in a scenario moves it by at least ITERATIONS in every
    # round, so one quiet round is proof enough.
    run = SCENARIOS[name]
    for _ in range(WARMUP):
        run()
    growths = []
    for _ in range(ROUNDS):
        growths.append(_growth(run))
        if growths[-1] < ALLOWED:
            return
    pytest.fail(f"{name}: {growths} references over {ITERATIONS} runs, in each of {ROUNDS} rounds")
