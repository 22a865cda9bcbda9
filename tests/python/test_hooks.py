"""Hooks: what they are called with, how their changes flow back, how they fail."""

import json
import re
import subprocess
import sys
import textwrap

import pytest

import mirtle_py
from conftest import HEADER, MINIMAL_DOC, account, doc, doc_tuple, lineno_of, snapshot, statement

SectionType = mirtle_py.SectionType
INVALID = "invalid value: string {}, expected a Decimal type representing a fixed-point number"


def run(text, *hooks):
    return mirtle_py.parse(text, list(hooks))


def hook_failure(text, *hooks) -> str:
    """Runs a parse that must fail in a hook; returns the failure message."""
    with pytest.raises(mirtle_py.SyntaxError) as info:
        run(text, *hooks)
    e = info.value
    assert type(e.detail) is mirtle_py.HookError
    assert str(e) == "Hook error: " + e.detail.message
    assert e.__cause__ is None and e.__context__ is None
    return e.detail.message


class TestCall:
    def test_arguments_are_three_positionals(self):
        calls = []

        def hook(*args, **kwargs):
            calls.append((args, kwargs))

        text = statement(account(), doc())
        run(text, hook)
        assert [len(a) for a, _ in calls] == [3, 3]
        assert [k for _, k in calls] == [{}, {}]
        (acc_args, _), (doc_args, _) = calls
        assert acc_args[0] is SectionType.Account
        assert doc_args[0] is SectionType.Document
        assert all(type(a[1]) is dict and type(a[2]) is dict for a, _ in calls)

    def test_attrs_and_header_show_the_section_and_the_statement_header(self):
        seen = []
        text = statement(
            doc(doc_type="Тип"),
            header=[("ВерсияФормата", "1.03"), ("Кодировка", "Windows"), ("ВерсияФормата", "1.02"), ("", "")],
        )
        text = text.replace("Номер=17", "Номер=1\nДатаНачала=x\nНомер=2")  # unknown key, repeated key
        stmt = run(text, lambda t, a, h: seen.append((list(a.items()), list(h.items()))))
        (attrs, header), = seen
        assert header == [("ВерсияФормата", "1.02"), ("Кодировка", "Windows"), ("", "")]
        assert header == list(stmt.header.items())
        assert attrs[0] == ("Номер", "2") and attrs[1] == ("ДатаНачала", "x")
        assert [k for k, _ in attrs[2:]] == list(MINIMAL_DOC)[1:]
        assert "СекцияДокумент" not in dict(attrs)

    def test_every_call_gets_new_dicts(self):
        kept = []
        run(statement(account(), doc(), doc()), lambda t, a, h: kept.append((a, h)), lambda t, a, h: kept.append((a, h)))
        assert len(kept) == 6
        assert len({id(d) for pair in kept for d in pair}) == 12

    def test_hooks_run_in_list_order_for_each_section(self):
        order = []
        mk = lambda name: lambda t, a, h: order.append((name, t))  # noqa: E731
        run(statement(doc(), account()), mk("a"), mk("b"), mk("c"))
        d, acc = SectionType.Document, SectionType.Account
        assert order == [("a", d), ("b", d), ("c", d), ("a", acc), ("b", acc), ("c", acc)]

    @pytest.mark.parametrize("result", [False, True, 0, {}, {"Номер": "x"}, "x", object(), NotImplemented])
    def test_return_value_is_ignored(self, sample_text, result):
        assert snapshot(run(sample_text, lambda t, a, h: result)) == snapshot(mirtle_py.parse(sample_text))

    def test_unchanged_attrs_give_the_result_without_hooks(self, sample_text):
        def touch(t, a, h):
            for k in list(a):
                a[k] = a[k]

        assert snapshot(run(sample_text, touch, touch)) == snapshot(mirtle_py.parse(sample_text))

    def test_hooks_are_taken_when_the_parse_starts(self):
        called = []

        def late(t, a, h):
            called.append(t)

        hooks = []
        hooks.append(lambda t, a, h: hooks.append(late))
        mirtle_py.parse(statement(doc(), doc()), hooks)
        assert called == [] and len(hooks) == 3

    def test_hook_reference_count_is_stable(self):
        def good(t, a, h):
            pass

        def bad(t, a, h):
            raise ValueError("x")

        text = statement(doc())
        for hook in (good, bad):
            before = sys.getrefcount(hook)
            for data in (text, text, bytearray(b"x"), "\udc80"):
                try:
                    run(data, hook, hook)
                except (mirtle_py.SyntaxError, TypeError):
                    pass
            assert sys.getrefcount(hook) == before


def _set(key, value):
    def hook(t, a, h):
        a[key] = value
    return hook


def _del(key):
    def hook(t, a, h):
        del a[key]
    return hook


class _Str(str):
    pass


# hook, attribute or None, expected value or warning text
DOC_WRITE_BACK = [
    ("replace", _set("Номер", "99"), "doc_number", "99"),
    ("str-subclass", _set("Номер", _Str("77")), "doc_number", "77"),
    ("empty-text", _set("ПлательщикКПП", ""), "counterparty_kpp", ""),
    ("add-optional", _set("ПолучательКПП", "770201001"), "payee_kpp", "770201001"),
    ("leading-space-date", _set("Дата", " 1. 2.\u00a02024"), "doc_date", "2024-02-01"),
    ("blank-optional-date", _set("ДатаСписано", " \t\u3000"), "outcome_date", None),
    ("type-from-line", _set("Тип", "x"), "doc_type", "Платежное поручение"),
    ("delete-required", _del("Сумма"), None, "missing field `Сумма`"),
    ("delete-first-required", lambda t, a, h: a.clear(), None, "missing field `Номер`"),
    ("add-type-key", _set("СекцияДокумент", "Иное"), None, "duplicate field `СекцияДокумент`"),
    ("trailing-space-date", _set("Дата", "01.02.2024 "), None, "trailing input"),
    ("blank-date", _set("Дата", "   "), None, "empty string is not a valid date"),
    ("space-in-amount", _set("Сумма", " 100"), None, INVALID.format('" 100"')),
    ("escaped-amount", _set("Сумма", 'a"b\\\tc\u0301\x1f'), None, INVALID.format('"a\\"b\\\\\\tc\\u{301}\\u{1f}"')),
    ("untrimmed-key", lambda t, a, h: a.update({" Номер": a.pop("Номер")}), None, "missing field `Номер`"),
]


@pytest.mark.parametrize(("hook", "attr", "expected"), [c[1:] for c in DOC_WRITE_BACK], ids=[c[0] for c in DOC_WRITE_BACK])
def test_document_write_back(hook, attr, expected):
    text = statement(doc())
    stmt = run(text, hook)
    if attr is None:
        assert stmt.documents == []
        assert stmt.warnings == [(lineno_of(text, "КонецДокумента"), expected)]
    else:
        assert stmt.warnings == []
        (d,), = [stmt.documents]
        assert getattr(d, attr) == expected


def test_unknown_key_added_by_a_hook_changes_nothing():
    text = statement(doc())
    a = run(text, _set("ПоказательДатыX", "1"))
    b = mirtle_py.parse(text)
    assert [doc_tuple(d) for d in a.documents] == [doc_tuple(d) for d in b.documents]


class TestAccountWriteBack:
    def test_number_change_moves_the_account(self):
        stmt = run(statement(account()), _set("РасчСчет", "123"))
        assert list(stmt.accounts) == ["123"] and stmt.accounts["123"].number == "123"

    def test_amount_change_shows(self):
        stmt = run(statement(account()), _set("НачальныйОстаток", "1e3"), _del("ДатаКонца"))
        (i,) = stmt.accounts["40702810900000000001"].intervals
        assert (i.start_amount, i.date_end) == ("1000", None)

    def test_deleting_the_number_is_a_missing_field(self):
        text = statement(account())
        with pytest.raises(mirtle_py.SyntaxError) as info:
            run(text, _del("РасчСчет"))
        assert info.value.detail.__getnewargs__() == (lineno_of(text, "КонецРасчСчет"), "РасчСчет", "account")

    def test_clearing_fails_the_interval(self):
        with pytest.raises(mirtle_py.SyntaxError) as info:
            run(statement(account()), lambda t, a, h: a.clear())
        assert str(info.value) == "Account parse error: missing field `ДатаНачала`"


class TestOrder:
    @staticmethod
    def keys_seen_by_next_hook(first):
        seen = []
        run(statement(doc()), first, lambda t, a, h: seen.append(list(a)))
        return seen[0]

    def test_reassigning_keeps_the_position(self):
        keys = self.keys_seen_by_next_hook(_set("Номер", "5"))
        assert keys == list(MINIMAL_DOC)

    def test_delete_and_add_again_moves_last(self):
        def hook(t, a, h):
            value = a.pop("Номер")
            a["Номер"] = value

        keys = self.keys_seen_by_next_hook(hook)
        assert keys == [*list(MINIMAL_DOC)[1:], "Номер"]

    def test_new_keys_go_last_in_insertion_order(self):
        def hook(t, a, h):
            a["Я"] = "1"
            a["А"] = "2"

        assert self.keys_seen_by_next_hook(hook) == [*MINIMAL_DOC, "Я", "А"]

    def test_keys_with_the_same_text_merge_in_place(self):
        class OddKey(str):  # equal only to itself: a dict holds it beside the plain key
            def __eq__(self, other):
                return self is other

            __hash__ = object.__hash__

        seen = []

        def hook(t, a, h):
            a[OddKey("Номер")] = "99"
            assert len(a) == len(MINIMAL_DOC) + 1

        stmt = run(statement(doc()), hook, lambda t, a, h: seen.append(list(a.items())))
        assert seen[0][0] == ("Номер", "99") and len(seen[0]) == len(MINIMAL_DOC)
        assert stmt.documents[0].doc_number == "99"

    def test_next_hook_gets_a_new_dict_with_the_changes(self):
        seen = []

        def first(t, a, h):
            a["Номер"] = "first"
            seen.append(a)

        def second(t, a, h):
            seen.append(a)
            assert a["Номер"] == "first"
            a["Номер"] = "second"

        stmt = run(statement(doc()), first, second)
        assert seen[0] is not seen[1]
        assert stmt.documents[0].doc_number == "second"

    def test_changes_through_a_kept_reference_are_lost(self):
        kept = []

        def first(t, a, h):
            kept.append(a)

        def second(t, a, h):
            kept[0]["Номер"] = "late"
            assert a["Номер"] == "17"

        stmt = run(statement(doc()), first, second)
        assert stmt.documents[0].doc_number == "17"


class TestHeader:
    def test_changes_to_the_header_are_ignored(self):
        seen = []

        def vandal(t, a, h):
            h["ВерсияФормата"] = "9.99"
            h["Новый"] = "1"
            del h["Кодировка"]

        def observer(t, a, h):
            seen.append(dict(h))

        stmt = run(statement(account(), doc()), vandal, observer)
        assert seen == [HEADER, HEADER]
        assert stmt.header == HEADER and list(stmt.header) == list(HEADER)


@pytest.mark.parametrize(
    ("mutate", "prefix"),
    [
        pytest.param(lambda a: a.__setitem__("Номер", 5), "TypeError: ", id="int-value"),
        pytest.param(lambda a: a.__setitem__("Номер", None), "TypeError: ", id="none-value"),
        pytest.param(lambda a: a.__setitem__("Номер", b"5"), "TypeError: ", id="bytes-value"),
        pytest.param(lambda a: a.__setitem__(5, "x"), "TypeError: ", id="int-key"),
        pytest.param(lambda a: a.__setitem__(("k",), "x"), "TypeError: ", id="tuple-key"),
        pytest.param(lambda a: a.__setitem__("Номер", "\udc80"), "UnicodeEncodeError: ", id="surrogate-value"),
        pytest.param(lambda a: a.__setitem__("\ud800", "x"), "UnicodeEncodeError: ", id="surrogate-key"),
    ],
)
@pytest.mark.parametrize("section", ["document", "account"])
def test_values_that_cannot_be_written_back_fail_the_hook(mutate, prefix, section):
    text = statement(doc() if section == "document" else account())
    later = []
    message = hook_failure(text, lambda t, a, h: mutate(a), lambda t, a, h: later.append(1))
    assert message.startswith(prefix)
    assert later == []


class Outer:
    class Inner(Exception):
        pass


class BadStr(Exception):
    def __str__(self):
        raise RuntimeError("no text")


class NotText(Exception):
    def __str__(self):
        return 5


class SurrogateNamed(Exception):
    pass


SurrogateNamed.__qualname__ = "Ош\ud800ибка"  # no UTF-8 form

RAISED = [
    ("value-error", ValueError("boom"), "ValueError: boom"),
    ("no-arguments", ValueError(), "ValueError: "),
    ("two-arguments", ValueError("a", 1), "ValueError: ('a', 1)"),
    ("key-error", KeyError("k"), "KeyError: 'k'"),
    ("cyrillic", RuntimeError("нет денег"), "RuntimeError: нет денег"),
    ("keyboard-interrupt", KeyboardInterrupt(), "KeyboardInterrupt: "),
    ("system-exit", SystemExit(3), "SystemExit: 3"),
    ("generator-exit", GeneratorExit(), "GeneratorExit: "),
    ("qualified-name", Outer.Inner("x"), "Outer.Inner: x"),
    ("module-exception", mirtle_py.UnfinishedError("y"), "UnfinishedError: y"),
    ("group", ExceptionGroup("eg", [ValueError()]), "ExceptionGroup: eg (1 sub-exception)"),
    ("str-raises", BadStr(), "BadStr: <exception str() failed>"),
    ("str-not-text", NotText(), "NotText: <exception str() failed>"),
    ("lone-surrogate", ValueError("a\udc80b\ud800"), "ValueError: a\ufffd\ufffd\ufffdb\ufffd\ufffd\ufffd"),
    ("surrogate-in-name", SurrogateNamed("m"), "Ош\ufffd\ufffd\ufffdибка: m"),
]


@pytest.mark.parametrize(("exc", "message"), [c[1:] for c in RAISED], ids=[c[0] for c in RAISED])
def test_raised_exceptions_become_messages(exc, message):
    def hook(t, a, h):
        a["Номер"] = "changed"
        raise exc

    assert hook_failure(statement(doc()), hook) == message


def test_non_callable_elements_fail_when_called():
    message = hook_failure(statement(doc()), None)
    assert message.startswith("TypeError: ") and "NoneType" in message


class TestNestedParse:
    def test_hook_may_parse_with_and_without_hooks(self):
        inner = statement(doc(Номер="inner"))
        results = []

        def hook(t, a, h):
            results.append(mirtle_py.parse(inner).documents[0].doc_number)
            results.append(mirtle_py.parse(inner, [_set("Номер", "x")]).documents[0].doc_number)

        stmt = run(statement(doc()), hook)
        assert results == ["inner", "x"]
        assert stmt.documents[0].doc_number == "17"

    @pytest.mark.parametrize(
        ("inner", "message"),
        [
            ("1CClientBankExchange\nFoo\n", "SyntaxError: Unrecognized line: 'Foo'"),
            ("", "EmptyInputError: Input is empty"),
            (statement(doc(), end=False), "UnfinishedError: Statement is not finished"),
        ],
    )
    def test_inner_failure_becomes_the_outer_hook_failure(self, inner, message):
        assert hook_failure(statement(doc()), lambda t, a, h: mirtle_py.parse(inner)) == message

    def test_inner_hook_failure_nests(self):
        def inner_hook(t, a, h):
            raise ValueError("deep")

        def outer(t, a, h):
            mirtle_py.parse(statement(doc()), [inner_hook])

        assert hook_failure(statement(doc()), outer) == "SyntaxError: Hook error: ValueError: deep"

    @pytest.mark.slow
    def test_self_recursion_ends_in_a_recursion_error(self):
        script = textwrap.dedent("""
            import json, sys, mirtle_py
            text = sys.argv[1]
            def hook(t, a, h):
                mirtle_py.parse(text, [hook])
            try:
                mirtle_py.parse(text, [hook])
            except mirtle_py.SyntaxError as e:
                print(json.dumps([type(e.detail).__name__, str(e), e.detail.message]))
            # the interpreter is still usable afterwards
            print(len(mirtle_py.parse(text).documents))
        """)
        proc = subprocess.run([sys.executable, "-c", script, statement(doc())],
                              capture_output=True, text=True, timeout=120)
        assert proc.returncode == 0, proc.stderr[-2000:]
        first, second = proc.stdout.splitlines()
        kind, text, message = json.loads(first)
        assert kind == "HookError"
        assert text == "Hook error: " + message
        # every level wraps the one below it; the innermost ran out of depth
        assert re.fullmatch(r"(SyntaxError: Hook error: )*RecursionError: .*", message, re.S), message[:300]
        assert second == "1"
