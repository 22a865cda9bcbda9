"""No reference leaks (debug interpreter's total reference count) over the cases of the other tables, run again."""

import copy
import gc
import pickle
import sys

import pytest

import mirtle_py as m
from conftest import DETAILS, snapshot
from test_errors import KINDS, REPRS
from test_hooks import DOC, OUTCOMES
from test_parse import BINDING_ERRORS, CALLS, REFUSED_HOOKS, REFUSED_STATEMENTS, S, P

pytestmark = pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"), reason="needs a debug interpreter")
BAD_DETAILS = [(-1, "a", "b"), (1.0, "a", "b"), (1, b"a", "b"), (1, "a", "\udc80"), (1, "a"), (1, "a", "b", "c")]


def attempt(call, *args, **kwargs):
    try:
        return call(*args, **kwargs)
    except (Exception, SystemExit) as e:
        return e


def objects():
    stmt = P(S)
    snapshot(stmt), stmt.documents[0] == stmt.documents[0], stmt.accounts == stmt.accounts, int(m.SectionType.Account)
    for d, _ in REPRS:
        repr(d), d.__getnewargs__(), pickle.loads(pickle.dumps(d)), copy.deepcopy(d), type(d)(*d.__getnewargs__())
    [attempt(cls, *args) for cls in DETAILS for args in BAD_DETAILS], pickle.loads(pickle.dumps(attempt(P, "Foo\n")))


SCENARIOS = {
    "success": lambda: (P(S), P(DOC.encode("cp1251")), [attempt(call, lambda *a: None) for call, _ in CALLS.values()]),
    "errors": lambda: [attempt(P, data) for data, *_ in KINDS.values()],
    "hooks": lambda: [attempt(P, DOC, [hook]) for hook, *_ in OUTCOMES.values()] + [attempt(P, DOC, [None])],
    "argument-errors": lambda: ([attempt(P, *a, **k) for a, k in BINDING_ERRORS.values()],
                                [attempt(P, S, hooks) for hooks, _ in REFUSED_HOOKS.values()],
                                [attempt(P, value, [print]) for value in REFUSED_STATEMENTS.values()]),
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
