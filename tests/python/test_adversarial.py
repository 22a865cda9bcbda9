"""What hostile Python code can reach: a statement the collector has cleared, tampered exception classes."""

import gc
import types
import weakref

import pytest

import mirtle_py as m
from conftest import doc, statement

CONTAINERS = ("header", "accounts", "documents", "warnings")


def test_statement_cleared_by_the_collector():
    # stmt -> documents -> holder -> stmt is garbage; a weakref callback runs during the same collection,
    # after the statement's containers are cleared, and can still reach the statement.
    seen, keep = {}, []

    def callback(_):
        for obj in gc.get_objects():
            if type(obj) is m.Statement and id(obj) == target:
                for name in CONTAINERS:
                    try:
                        seen[name] = getattr(obj, name)
                    except AttributeError as e:
                        seen[name] = str(e)
                seen["repr"], seen["encoding"] = repr(obj), obj.encoding

    def build():
        stmt = m.parse(statement(doc()))
        code = compile("0", "<probe>", "eval")  # weak-referenceable, not tracked by the collector
        keep.append(weakref.ref(code, callback))
        holder = [stmt, None, code]
        holder[1] = holder
        stmt.documents.append(holder)
        return id(stmt)

    enabled = gc.isenabled()
    gc.disable()
    try:
        target = build()
        gc.collect()
    finally:
        if enabled:
            gc.enable()
    assert seen == {**{n: f"'Statement' object has no attribute '{n}'" for n in CONTAINERS},
                    "repr": 'Statement(encoding="utf-8", documents=[...1], warnings=[...0])', "encoding": "utf-8"}


NOT_AN_EXCEPTION = "exceptions must derive from BaseException"
TAMPERED = {  # class, replacement __new__, input that raises the class: what parse raises, with which message
    "str": (m.EmptyInputError, lambda cls, *a: "A" * 64, b"", TypeError, NOT_AN_EXCEPTION),
    "none": (m.UnfinishedError, lambda cls, *a: None, b"1CClientBankExchange\n", TypeError, NOT_AN_EXCEPTION),
    "class": (m.NotStatementError, lambda cls, *a: cls, b"x", TypeError, NOT_AN_EXCEPTION),
    "takes-detail": (m.SyntaxError, lambda cls, *a: types.SimpleNamespace(), b"1CClientBankExchange\nx\n",
                     TypeError, NOT_AN_EXCEPTION),
    "other-exception": (m.EmptyInputError, lambda cls, *a: KeyError("k"), b"", KeyError, "'k'"),
    "raises": (m.SyntaxError, lambda cls, *a: 1 / 0, b"1CClientBankExchange\nx\n", ZeroDivisionError,
               "division by zero"),
}


@pytest.mark.parametrize(("cls", "new", "data", "raised", "message"), TAMPERED.values(), ids=TAMPERED)
def test_tampered_exception_class(monkeypatch, cls, new, data, raised, message):
    # The classes are ordinary mutable classes: parse treats what they return as a raise statement would.
    monkeypatch.setattr(cls, "__new__", staticmethod(new))
    with pytest.raises(raised) as info:
        m.parse(data)
    assert str(info.value) == message
    monkeypatch.undo()
    with pytest.raises(cls):
        m.parse(data)
