"""parse(): argument binding, the statement argument and the hooks argument."""

import sys

import pytest

import mirtle_py
from conftest import account, doc, snapshot, statement

S = statement(account(), doc())
EXPECTED, P = snapshot(mirtle_py.parse(S)), mirtle_py.parse


class Seq:  # item access and a length, no __iter__; the length may raise, and so may items that are exception classes
    def __init__(self, items, length=None):
        self.items, self.length = items, length

    def __len__(self):
        return len(self.items) if self.length is None else 1 / 0 if self.length == "raises" else self.length

    def __getitem__(self, i):
        if isinstance(self.items[i], type):
            raise self.items[i](f"item {i}")
        return self.items[i]


CALLS = {  # a parse of S given one hook, and how often each section sees that hook
    "positional": (lambda h: P(S, None), 0), "keywords-reversed": (lambda h: P(hooks=None, statement=S), 0),
    "keywords": (lambda h: P(statement=S, hooks=(h,)), 1), "mixed": (lambda h: P(S, hooks=[h]), 1),
    "str-subclass": (lambda h: P(type("T", (str,), {"encode": lambda *a: 1 / 0})(S)), 0),  # encode() is not used
    "bytes-subclass": (lambda h: P(type("B", (bytes,), {})(S.encode()), [h]), 1),
    "list": (lambda h: P(S, [h, h]), 2), "item-access": (lambda h: P(S, Seq([h, h])), 2),
    "len-raises": (lambda h: P(S, Seq([h, h], "raises")), 2), "len-huge": (lambda h: P(S, Seq([h, h], 2**62)), 2),
    "len-too-small": (lambda h: P(S, Seq([h, h], 0)), 2), "len-overflows": (lambda h: P(S, Seq([h, h], 2**70)), 2),
    **{f"empty-{k}": (lambda h, e=e: P(S, e), 0) for k, e in [("list", []), ("tuple", ()), ("bytes", b""),
                                                              ("range", range(0)), ("seq", Seq([]))]}}


BINDING_ERRORS = {
    "nothing": ((), {}), "three-positionals": ((S, None, None), {}), "hooks-only": ((), {"hooks": []}),
    "statement-twice": ((S,), {"statement": S}), "hooks-twice": ((S, []), {"hooks": []}),
    "unknown-keyword": ((S,), {"Hooks": []}), "keyword-not-utf8": ((S,), {"\udc80": 1}),
    "keyword-with-nul": ((S,), {"statement\0": S}),
}


ok = print  # a callable, never called here
REFUSED_HOOKS = {
    "str": ("abc", TypeError), "empty-str": ("", TypeError), "str-subclass": (type("S", (str,), {})("x"), TypeError),
    "dict": ({}, TypeError), "dict-of-hooks": ({ok: 1}, TypeError), "set": ({ok}, TypeError),
    "frozenset": (frozenset(), TypeError), "int": (5, TypeError), "callable": (ok, TypeError),
    "iterator": (iter([ok]), TypeError), "generator": ((h for h in [ok]), TypeError),
    "iter-raises": (type("I", (Seq,), {"__iter__": lambda s: 1 / 0})([ok]), ZeroDivisionError),
    "item-raises": (Seq([ok, ValueError]), ValueError), "item-base-error": (Seq([SystemExit]), SystemExit),
}


REFUSED_STATEMENTS = {"bytearray": bytearray(S.encode()), "memoryview": memoryview(S.encode()), "none": None, "int": 5,
                      "list": [S], "lone-surrogate": S.replace("Конец", "\udc80"), "only-surrogate": "\ud800"}


class TestParse:
    @pytest.mark.parametrize(("call", "count"), CALLS.values(), ids=CALLS)
    def test_accepted_calls_agree(self, call, count):
        calls = []
        assert snapshot(call(lambda t, a, h: calls.append(t))) == EXPECTED
        assert calls == [mirtle_py.SectionType.Account] * count + [mirtle_py.SectionType.Document] * count

    @pytest.mark.parametrize(("args", "kwargs"), BINDING_ERRORS.values(), ids=BINDING_ERRORS)
    def test_binding_errors_are_type_errors(self, args, kwargs):
        with pytest.raises(TypeError, match=r"^parse\(\) "):
            P(*args, **kwargs)

    @pytest.mark.parametrize(("hooks", "error"), REFUSED_HOOKS.values(), ids=REFUSED_HOOKS)
    @pytest.mark.parametrize("statement_arg", [S, 42], ids=["statement", "bad-statement"])
    def test_refused_hooks_carry_a_note(self, hooks, error, statement_arg):
        with pytest.raises(error) as info:  # the hooks are examined before the statement
            P(statement_arg, hooks)
        assert info.value.__notes__ == ["while processing 'hooks'"]

    @pytest.mark.parametrize("value", REFUSED_STATEMENTS.values(), ids=REFUSED_STATEMENTS)
    def test_refused_statements(self, value):
        called = []
        with pytest.raises(TypeError) as info:
            P(value, [lambda *a: called.append(a)])
        assert info.value.args == ("statement must be bytes or str",) and called == []


# Texts of every width a str can take: ASCII, Latin-1, two bytes a character (Cyrillic, and the
# three-byte UTF-8 of the rest of the first 64 Ki), four; each must come out as the str Python
# makes of it, its kind the narrowest (its size tells), in a document, a hook's dict and the header.
@pytest.mark.parametrize("text", [
    "", "A", "Оплата", "Я", "ё № «42» — €", "x\u0100y", "\u0800\uffff\ufffd", "\u4e2d\u6587 и x",
    "café", "é\xa0\xff", "emoji \U0001f600 Я", "\U0010ffff", "Счет " * 40 + "x",
], ids=["empty", "ascii", "cyrillic", "one letter", "signs", "U+0100", "3-byte", "cjk", "latin-1", "latin-1 only",
        "4-byte", "last", "long"])
def test_texts_come_out_as_python_makes_them(text):
    seen = []
    stmt = P(statement(doc(Код=text or None), header={"Отправитель": text}),
             [lambda t, a, h: seen.append(a.get("Код", ""))])
    for got in (stmt.documents[0].uin or "", stmt.header["Отправитель"], seen[0]):
        assert got == text and sys.getsizeof(got) == sys.getsizeof("".join(list(text)))

