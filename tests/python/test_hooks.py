"""Hooks: what they are called with, how their changes flow back, how they fail."""

import re
import subprocess
import sys

import pytest

import mirtle_py
from conftest import ACCOUNT, MINIMAL_DOC, account, doc, snapshot, statement

ST, DOC, P = mirtle_py.SectionType, statement(doc()), mirtle_py.parse
ITEMS = list(MINIMAL_DOC.items())


def _raise(exc):
    def hook(t, a, h):
        a["Номер"] = "changed"
        raise exc.with_traceback(None)  # the same object every time: no traceback of earlier runs
    return hook


_set = lambda key, value: lambda t, a, h: a.__setitem__(key, value)  # noqa: E731
_exc = lambda name, **body: type(name, (Exception,), body)  # noqa: E731
# equal only to itself: a dict holds it beside "Номер"
OddKey = type("OddKey", (str,), {"__eq__": lambda s, o: s is o, "__hash__": object.__hash__})


S = type("S", (str,), {})
SURROGATE = "UnicodeEncodeError: 'utf-8' codec can't encode character '\\u{}' in position 0: surrogates not allowed"
OUTCOMES = {  # the hook: what the next hook sees, the document's attribute, the warning, or the failure message
    "reassign-keeps-place": (_set("Номер", "5"), "seen", [("Номер", "5"), *ITEMS[1:]]),
    "readd-moves-last": (lambda t, a, h: a.update(Номер=a.pop("Номер")), "seen", [*ITEMS[1:], ("Номер", "17")]),
    "new-keys-last": (lambda t, a, h: a.update({"Я": "1", "А": "2"}), "seen", [*ITEMS, ("Я", "1"), ("А", "2")]),
    # each value still one the hook was handed, at another key's place
    "values-swapped": (lambda t, a, h: a.update(ПлательщикСчет=a["ПолучательСчет"], ПолучательСчет=a["ПлательщикСчет"]),
                       "seen", [(k, MINIMAL_DOC[{"ПлательщикСчет": "ПолучательСчет", "ПолучательСчет": "ПлательщикСчет"}
                                              .get(k, k)]) for k, _ in ITEMS]),
    "middle-key-moved-last": (lambda t, a, h: a.update(Сумма=a.pop("Сумма") + "0"), "seen",
                              [i for i in ITEMS if i[0] != "Сумма"] + [("Сумма", MINIMAL_DOC["Сумма"] + "0")]),
    "same-text-merges-in-place": (_set(OddKey("Номер"), "99"), "seen", [("Номер", "99"), *ITEMS[1:]]),
    "str-subclass": (_set("Номер", S("77")), "doc_number", "77"), "empty": (_set("Номер", ""), "doc_number", ""),
    "add-optional": (_set("ПолучательКПП", "1"), "payee_kpp", "1"),
    "delete": (lambda t, a, h: a.pop("Сумма"), "warn", "missing field `Сумма`"),
    "untrimmed-key": (lambda t, a, h: a.update({" Номер": a.pop("Номер")}), "warn", "missing field `Номер`"),
    "int-value": (_set("Номер", 5), "fail", "TypeError: attrs values must be str, not int"),
    "int-key": (_set(5, "x"), "fail", "TypeError: attrs keys must be str, not int"),
    "surrogate-value": (_set("Номер", "\udc80"), "fail", SURROGATE.format("dc80")),
    "surrogate-key": (_set("\ud800", "x"), "fail", SURROGATE.format("d800")),
    "value-error": (_raise(ValueError("нет денег")), "fail", "ValueError: нет денег"),
    "no-args": (_raise(ValueError()), "fail", "ValueError: "), "base": (_raise(SystemExit()), "fail", "SystemExit: "),
    "qualified-name": (_raise(_exc("Inner", __qualname__="Outer.Inner")("x")), "fail", "Outer.Inner: x"),
    "group": (_raise(ExceptionGroup("eg", [ValueError()])), "fail", "ExceptionGroup: eg (1 sub-exception)"),
    "str-raises": (_raise(_exc("BadStr", __str__=lambda self: 1 / 0)()), "fail", "BadStr: <exception str() failed>"),
    "str-not-text": (_raise(_exc("NotText", __str__=lambda self: 5)()), "fail", "NotText: <exception str() failed>"),
    "lone-surrogates": (_raise(ValueError("a\udc80b\ud800")), "fail", f"ValueError: a{'\ufffd' * 3}b{'\ufffd' * 3}"),
    "surrogate-in-name": (_raise(_exc("E", __qualname__="Ош\ud800ибка")("m")), "fail", "Ош\ufffd\ufffd\ufffdибка: m"),
    "nested-failure": (lambda t, a, h: P(DOC, [_raise(KeyError(1))]), "fail", "SyntaxError: Hook error: KeyError: 1"),
    "not-callable": (42, "fail", "TypeError: 'int' object is not callable"),  # found out only when called
    "nested-success": (lambda t, a, h: P(DOC, [_set("Номер", "x")]), "doc_number", "17"),
}


RECURSION = ("import sys, mirtle_py\ndef hook(t, a, h): mirtle_py.parse(sys.argv[1], [hook])\n"
             "try: mirtle_py.parse(sys.argv[1], [hook])\nexcept mirtle_py.SyntaxError as e: print(e.detail.message)\n"
             "print(len(mirtle_py.parse(sys.argv[1]).documents))")  # and the interpreter goes on


class TestHooks:
    def test_call_arguments(self):
        calls, hooks = [], []

        def second(*args, **kwargs):
            calls.append(("b", args, kwargs))
            calls[-2][1][1]["Номер"] = "late"  # lost: only the dict of the call counts
            args[2].clear()  # ignored: the header is read-only
            return {"Номер": 1}  # ignored
        hooks[:] = [lambda *a, **k: calls.append(("a", a, k)), second,
                    lambda *a: hooks.append(lambda *x: 1 / 0) or NotImplemented]  # taken at the start: never called
        text = statement(doc(), account(), header=[("ВерсияФормата", "1.03"), ("ВерсияФормата", "1.02"), ("", "")])
        stmt = mirtle_py.parse(text, hooks)
        assert [(n, a[0], len(a), k) for n, a, k in calls] == [
            ("a", ST.Document, 3, {}), ("b", ST.Document, 3, {}), ("a", ST.Account, 3, {}), ("b", ST.Account, 3, {})]
        assert all(type(a[1]) is dict and type(a[2]) is dict for _, a, _ in calls) and len(hooks) == 5
        assert len({id(d) for _, a, _ in calls for d in a[1:]}) == 8  # new dicts for every call
        assert [list(calls[i][1][1].items()) for i in (1, 3)] == [ITEMS, list(ACCOUNT.items())]
        assert [list(calls[i][1][2].items()) for i in (0, 2)] == [[("ВерсияФормата", "1.02"), ("", "")]] * 2
        assert snapshot(stmt) == snapshot(mirtle_py.parse(text))
        assert (int(ST.Document), int(ST.Account)) == (0, 1) and ST.Document != 0 and not ST.Account == 1

    @pytest.mark.parametrize("change", [
        dict.clear,
        lambda h: h.update({"ВерсияФормата": "9", "Новый": ""}),
        lambda h: h.update(ВерсияФормата=h["ВерсияФормата"][:1] + h["ВерсияФормата"][1:]),  # equal, not the same
        lambda h: h.update(ВерсияФормата=h.pop("ВерсияФормата")),  # the same items in another order
    ], ids=["cleared", "changed", "equal value", "reordered"])
    def test_header_changes_stay_in_their_call(self, change):
        header = [("ВерсияФормата", "1.03"), ("Отправитель", "Банк")]
        seen = []

        def hook(section_type, attrs, header):
            seen.append(list(header.items()))
            change(header)
        mirtle_py.parse(statement(doc(), account(), doc(), header=header), [hook])
        assert seen == [header] * 3

    @pytest.mark.parametrize("change", [
        lambda a: a.__setitem__(OddKey("Номер"), "99"),
        lambda a: a.update({OddKey("Номер"): "98", OddKey("Номер"): "99"}),
        lambda a: a.update({OddKey("Я"): "1", OddKey("Я"): "2", "Номер": "99"}),
    ], ids=["one", "two", "new"])
    def test_keys_of_one_text_merge_in_place(self, change):  # one hook: its dict is the document's source
        stmt = P(DOC, [lambda t, a, h: change(a)])
        assert stmt.warnings == [] and stmt.documents[0].doc_number == "99"

    @pytest.mark.parametrize(("hook", "kind", "expected"), OUTCOMES.values(), ids=OUTCOMES)
    def test_outcomes(self, hook, kind, expected):
        text, seen = statement(account(), doc()), []
        hooks = [lambda t, a, h: t is ST.Document and hook(t, a, h), lambda t, a, h: seen.append(list(a.items()))]
        if kind == "fail":  # the next hook is not called; the failure names the section's closing line
            with pytest.raises(mirtle_py.SyntaxError) as info:
                mirtle_py.parse(text, hooks)
            e, end = info.value, len(text.split("\n")) - 2
            assert e.args == ("Hook error: " + expected,) and e.__cause__ is None and e.__context__ is None
            assert (type(e.detail), *e.detail.__getnewargs__(), len(seen)) == (mirtle_py.HookError, end, expected, 1)
            return
        stmt = mirtle_py.parse(text, hooks)
        if kind == "warn":
            assert stmt.documents == [] and stmt.warnings == [(len(text.split("\n")) - 2, expected)]
        elif kind == "seen":
            assert seen[1] == expected and stmt.documents[0].doc_number == dict(expected)["Номер"]
        else:
            assert stmt.warnings == [] and getattr(stmt.documents[0], kind) == expected

    def test_account_write_back(self):
        text = statement(account())
        stmt = mirtle_py.parse(text, [_set("РасчСчет", "1"), _set("НачальныйОстаток", "1e3")])
        assert (list(stmt.accounts), stmt.accounts["1"].number, stmt.accounts["1"].intervals[0].start_amount) == (
            ["1"], "1", "1000")
        with pytest.raises(mirtle_py.SyntaxError) as info:
            mirtle_py.parse(text, [lambda t, a, h: a.pop("РасчСчет")])
        assert info.value.detail.__getnewargs__() == (len(text.split("\n")) - 2, "РасчСчет", "account")

    def test_self_recursion_ends_in_a_recursion_error(self):
        proc = subprocess.run([sys.executable, "-c", RECURSION, DOC], capture_output=True, text=True, timeout=120)
        # every level wraps the one below it; the innermost ran out of depth
        assert re.fullmatch(r"(SyntaxError: Hook error: )*RecursionError: .*\n1\n", proc.stdout, re.S), proc.stderr


def _edit(change):
    def hook(section_type, attrs, header):
        change(attrs)
    return hook


def _sections_edited(change):
    """The statement with `change` made to each section's attributes in its text."""
    def edited(lines):
        items = dict(line.split("=", 1) for line in lines[1:-1])
        change(items)
        return [lines[0], *(f"{k}={v}" for k, v in items.items()), lines[-1]]
    return statement(edited(account()), edited(doc()), edited(doc(Номер="18", Сумма="7.5")))


def _move_to_end(attrs):
    if "Номер" in attrs:
        attrs["Номер"] = attrs.pop("Номер")


def _clear_and_restore(attrs):
    items = list(attrs.items())
    attrs.clear()
    attrs.update(items)


# Edits a hook may make without changing any text, and edits that change
# texts: each must give what the edited text itself gives.
HOOK_EDITS = {
    "nothing": lambda attrs: None,
    "an equal value, a new object": lambda attrs: attrs.update({k: "".join(list(v)) for k, v in attrs.items()}),
    "a key moved to the end": _move_to_end,
    "every key removed and put back": _clear_and_restore,
    "a value changed": lambda attrs: attrs.update({"Сумма": "2.50"} if "Сумма" in attrs else {}),
    "a key added": lambda attrs: attrs.update({"Код": "0"}),
}


@pytest.mark.parametrize("change", HOOK_EDITS.values(), ids=HOOK_EDITS.keys())
def test_a_hook_s_edits_are_the_edited_text_s(change):
    text = statement(account(), doc(), doc(Номер="18", Сумма="7.5"))
    assert snapshot(P(text, [_edit(change)])) == snapshot(P(_sections_edited(change)))
    assert snapshot(P(text, [_edit(change), _edit(change)])) == snapshot(P(_sections_edited(change)))
