"""Reference leaks, measured by the debug interpreter's total reference count (the debug-python build)."""

import copy
import gc
import pickle
import sys

import pytest

import mirtle_py as m
from conftest import account, doc, snapshot, statement

pytestmark = pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"), reason="needs a debug interpreter")
GOOD = statement(account(), doc(), doc(Номер=None), doc(ПолучательКПП="", ДатаСписано="06.03.2024"))
BAD_TEXTS = [b"", b"\xff\xfe\x00\xd8", statement(doc(), end=False), "1CClientBankExchange\nFoo\n",
             "1CClientBankExchange\nКонецФайла\n", GOOD + "a=b\n", statement(account(РасчСчет=None)),
             statement(account(ВсегоСписано="x"))]
BadStr = type("BadStr", (Exception,), {"__str__": lambda self: 1 / 0})


def _writes(t, a, h):
    a["Номер"], a["Новый"] = "1", "x"
    a.pop("ДатаКонца", None)


def _raise(cls, *args):
    def hook(t, a, h):
        raise cls(*args)
    return hook


BAD_SEQ = type("BadSeq", (), {"__len__": lambda s: 1 / 0, "__getitem__": lambda s, i: 1 / (1 - i) and _writes})()
HOOKS = [_writes, _raise(ValueError, "boom \udc80"), _raise(BadStr), lambda t, a, h: a.update(Номер=5), None,
         lambda t, a, h: m.parse(GOOD), lambda t, a, h: m.parse(GOOD, [_raise(KeyError)])]
CALLS = [(b"x", "abc"), (bytearray(b"x"),), ("\udc80",), (b"x", {}), (), (None, [_writes] * 3), (GOOD, BAD_SEQ),
         (b"x", None, 1), (GOOD, [_writes, _writes])]
DETAILS = [(12, "Номер", "document"), (-1, "a", "b"), (1.0, "a", "b"), (1, b"a", "b"), (1, "a", "\udc80"), (1, "a")]


def attempt(call, *args):
    try:
        return call(*args)
    except (m.ParseError, TypeError, OverflowError, UnicodeEncodeError, ZeroDivisionError) as e:
        return e


def objects():
    stmt = m.parse(GOOD)
    snapshot(stmt), stmt.documents[0] == stmt.documents[1], stmt.accounts == stmt.accounts, int(m.SectionType.Account)
    for d in [attempt(m.MissingField, *a) for a in DETAILS] + [m.HookError(lineno=1, message="m")]:
        isinstance(d, Exception) or (repr(d), d.__getnewargs__(), pickle.loads(pickle.dumps(d)), copy.deepcopy(d))
    pickle.loads(pickle.dumps(attempt(m.parse, BAD_TEXTS[3])))


SCENARIOS = {
    "success": lambda: (m.parse(GOOD), m.parse(GOOD.encode("cp1251"))),
    "errors": lambda: [attempt(m.parse, t) for t in BAD_TEXTS],
    "hooks": lambda: [attempt(m.parse, GOOD, [h]) for h in HOOKS],
    "argument-errors": lambda: [attempt(m.parse, *a) for a in CALLS],
    "objects": objects,
}


@pytest.mark.parametrize("name", SCENARIOS)
def test_no_reference_growth(name):
    # The interpreter's own caches move the total by a few dozen now and then; a leak moves it by at least
    # the number of runs in every round, so one quiet round of three is proof enough.
    run, growths = SCENARIOS[name], []
    for _ in range(200):
        run()
    for _ in range(3):
        gc.collect()
        before = sys.gettotalrefcount()
        for _ in range(2000):
            run()
        gc.collect()
        growths.append(sys.gettotalrefcount() - before)
        if growths[-1] < 50:
            return
    pytest.fail(f"{name}: {growths} references over 2000 runs, in each of 3 rounds")
