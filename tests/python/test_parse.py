"""parse(): argument binding, the hooks and statement arguments, error mapping."""

import builtins

import pytest

import mirtle_py
from conftest import ACCOUNT, account, doc, encode, lineno_of, outcome, snapshot, statement

S = statement(account(), doc())
HOOKS_NOTE = "while processing 'hooks'"
TYPE_MESSAGE = "statement must be bytes or str"


def ok_hook(section_type, attrs, header):
    return None


class TestArguments:
    @pytest.mark.parametrize(
        ("args", "kwargs"),
        [
            pytest.param((), {}, id="nothing"),
            pytest.param((S, None, None), {}, id="three-positionals"),
            pytest.param((), {"hooks": []}, id="hooks-without-statement"),
            pytest.param((S,), {"statement": S}, id="statement-twice"),
            pytest.param((S, []), {"hooks": []}, id="hooks-twice"),
            pytest.param((S,), {"hook": []}, id="unknown-keyword"),
            pytest.param((), {"foo": 1}, id="unknown-keyword-alone"),
            pytest.param((S,), {"Hooks": []}, id="keyword-case-differs"),
            pytest.param((S,), {"\udc80": 1}, id="keyword-not-utf8"),
            pytest.param((S,), {"statement\0": S}, id="keyword-with-nul"),
        ],
    )
    def test_binding_errors_are_type_errors(self, args, kwargs):
        with pytest.raises(TypeError):
            mirtle_py.parse(*args, **kwargs)

    @pytest.mark.parametrize(
        ("args", "kwargs"),
        [
            pytest.param((S,), {}, id="positional"),
            pytest.param((S, None), {}, id="positional-none"),
            pytest.param((S, [ok_hook]), {}, id="positional-hooks"),
            pytest.param((), {"statement": S}, id="keyword"),
            pytest.param((), {"statement": S, "hooks": (ok_hook,)}, id="both-keywords"),
            pytest.param((), {"hooks": None, "statement": S}, id="keywords-reversed"),
            pytest.param((S,), {"hooks": []}, id="mixed"),
        ],
    )
    def test_accepted_call_forms_agree(self, args, kwargs):
        assert snapshot(mirtle_py.parse(*args, **kwargs)) == snapshot(mirtle_py.parse(S))


class _Seq:
    """Item access and a length, no __iter__: iterated through __getitem__."""

    def __init__(self, items, length=None):
        self.items, self.length = list(items), length

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return len(self.items) if self.length is None else self.length

    def __getitem__(self, i):
        if isinstance(self.items[i] if i < len(self.items) else None, BaseException):
            raise self.items[i]
        return self.items[i]


class _BadIter(_Seq):
    def __iter__(self):
        raise RuntimeError("no iterator today")


class TestHooksArgument:
    @pytest.mark.parametrize(
        "hooks",
        [
            pytest.param("abc", id="str"),
            pytest.param("", id="empty-str"),
            pytest.param(type("S", (str,), {})("x"), id="str-subclass"),
            pytest.param({}, id="dict"),
            pytest.param({ok_hook: 1}, id="dict-of-hooks"),
            pytest.param({ok_hook}, id="set"),
            pytest.param(frozenset(), id="frozenset"),
            pytest.param(5, id="int"),
            pytest.param(ok_hook, id="callable"),
            pytest.param(iter([ok_hook]), id="iterator"),
            pytest.param((h for h in [ok_hook]), id="generator"),
        ],
    )
    def test_refused_hooks_raise_type_error_with_note(self, hooks):
        with pytest.raises(TypeError) as info:
            mirtle_py.parse(S, hooks)
        assert info.value.__notes__ == [HOOKS_NOTE]

    @pytest.mark.parametrize(
        ("hooks", "error"),
        [
            pytest.param(_BadIter([ok_hook]), RuntimeError, id="iter-raises"),
            pytest.param(_Seq([ok_hook, ValueError("item 1")]), ValueError, id="item-raises"),
            pytest.param(_Seq([KeyboardInterrupt()]), KeyboardInterrupt, id="item-raises-base-exception"),
        ],
    )
    def test_failing_iteration_raises_its_own_error_with_note(self, hooks, error):
        with pytest.raises(error) as info:
            mirtle_py.parse(S, hooks)
        assert info.value.__notes__ == [HOOKS_NOTE]

    def test_hooks_are_examined_before_the_statement(self):
        with pytest.raises(TypeError) as info:
            mirtle_py.parse(42, "not hooks")
        assert str(info.value) != TYPE_MESSAGE
        assert info.value.__notes__ == [HOOKS_NOTE]

    @pytest.mark.parametrize(
        "make",
        [
            pytest.param(lambda h: [h, h], id="list"),
            pytest.param(lambda h: (h, h), id="tuple"),
            pytest.param(lambda h: _Seq([h, h]), id="item-access"),
            pytest.param(lambda h: _Seq([h, h], length=RuntimeError("len")), id="len-raises"),
            pytest.param(lambda h: _Seq([h, h], length=2**62), id="len-huge"),
            pytest.param(lambda h: _Seq([h, h], length=0), id="len-too-small"),
            pytest.param(lambda h: _Seq([h, h], length=2**70), id="len-overflows"),
        ],
    )
    def test_sequences_of_hooks_are_all_called(self, make):
        calls = []

        def counting(section_type, attrs, header):
            calls.append(section_type)

        assert snapshot(mirtle_py.parse(S, make(counting))) == snapshot(mirtle_py.parse(S))
        assert calls == [mirtle_py.SectionType.Account] * 2 + [mirtle_py.SectionType.Document] * 2

    @pytest.mark.parametrize("hooks", [[], (), b"", range(0), _Seq([])], ids=["list", "tuple", "bytes", "range", "seq"])
    def test_empty_sequences_mean_no_hooks(self, hooks):
        assert snapshot(mirtle_py.parse(S, hooks)) == snapshot(mirtle_py.parse(S))

    def test_elements_are_not_checked_for_being_callable_up_front(self):
        # without a closed section no hook is ever called
        unfinished = statement(end=False)
        with pytest.raises(mirtle_py.UnfinishedError):
            mirtle_py.parse(unfinished, [42])
        with pytest.raises(mirtle_py.SyntaxError) as info:
            mirtle_py.parse(S, [42])
        assert type(info.value.detail) is mirtle_py.HookError
        assert info.value.detail.message.startswith("TypeError: ")

    @pytest.mark.parametrize("hooks", [b"\x01", range(3)], ids=["bytes", "range"])
    def test_bytes_and_range_are_sequences_of_ints(self, hooks):
        with pytest.raises(mirtle_py.SyntaxError) as info:
            mirtle_py.parse(S, hooks)
        assert info.value.detail.message.startswith("TypeError: ")


class TestStatementArgument:
    @pytest.mark.parametrize(
        "value",
        [
            pytest.param(bytearray(S.encode()), id="bytearray"),
            pytest.param(memoryview(S.encode()), id="memoryview"),
            pytest.param(None, id="none"),
            pytest.param(5, id="int"),
            pytest.param([S], id="list"),
            pytest.param(S.replace("КонецФайла", "Конец\udc80Файла"), id="lone-surrogate"),
            pytest.param("\ud800", id="only-surrogate"),
        ],
    )
    def test_refused_values(self, value):
        called = []
        with pytest.raises(TypeError) as info:
            mirtle_py.parse(value, [lambda *a: called.append(a)])
        assert str(info.value) == TYPE_MESSAGE
        assert info.value.args == (TYPE_MESSAGE,)
        assert called == []

    def test_subclasses_of_str_and_bytes_are_accepted(self):
        class Text(str):
            def encode(self, *a, **k):  # never consulted
                raise AssertionError

        class Raw(bytes):
            pass

        expected = snapshot(mirtle_py.parse(S))
        assert snapshot(mirtle_py.parse(Text(S))) == expected
        assert snapshot(mirtle_py.parse(Raw(S.encode()))) == expected

    @pytest.mark.parametrize(
        "text",
        [
            pytest.param(S, id="valid"),
            pytest.param(statement(doc({"Номер": None})), id="warning"),
            pytest.param(statement(doc(), end=False), id="unfinished"),
            pytest.param("1CClientBankExchange\nНомер 5\n", id="syntax"),
            pytest.param("\u00a0", id="nbsp-only"),
            pytest.param("1CClientBankExchange\nКлюч=\u0301\U0001F600\nСекцияРасчСчет\nКонецРасчСчет\n", id="account"),
        ],
    )
    def test_str_and_its_utf8_bytes_agree(self, text):
        assert outcome(text) == outcome(text.encode("utf-8"))

    @pytest.mark.parametrize(
        "form",
        [
            pytest.param(lambda t: t.replace("\n", "\r\n"), id="crlf"),
            pytest.param(lambda t: "\ufeff" + t, id="bom"),
            pytest.param(lambda t: "\ufeff" + t.replace("\n", "\r\n"), id="bom-crlf"),
            pytest.param(lambda t: "\n".join(f" \t{line}\u3000" for line in t.split("\n")), id="padded-lines"),
            pytest.param(lambda t: t.replace("\n", "\n\n \n"), id="blank-lines-between"),
        ],
    )
    def test_line_forms_do_not_change_the_result(self, form):
        a = snapshot(mirtle_py.parse(S))
        b = snapshot(mirtle_py.parse(form(S)))
        assert a == b


def _text(*lines):
    return "\n".join(lines) + "\n"


ACC = ["СекцияРасчСчет", *(f"{k}={v}" for k, v in ACCOUNT.items()), "КонецРасчСчет"]
BAD_AMOUNT_EMPTY = 'invalid value: string "", expected a Decimal type representing a fixed-point number'

SYNTAX_CASES = [
    # id, text, detail class, detail fields after lineno, line to find (or number), message
    ("blank-line-counts", _text("1CClientBankExchange", "", "Foo"),
     mirtle_py.UnrecognizedLine, ("Foo",), 3, "Unrecognized line: 'Foo'"),
    ("no-equals", _text("1CClientBankExchange", "Номер 5"),
     mirtle_py.UnrecognizedLine, ("Номер 5",), 2, "Unrecognized line: 'Номер 5'"),
    ("trimmed-line", _text("1CClientBankExchange", "\t Номер 5\u2003"),
     mirtle_py.UnrecognizedLine, ("Номер 5",), 2, "Unrecognized line: 'Номер 5'"),
    ("quotes-unescaped", _text("1CClientBankExchange", "It's \"x\" \\ y"),
     mirtle_py.UnrecognizedLine, ("It's \"x\" \\ y",), 2, "Unrecognized line: 'It's \"x\" \\ y'"),
    ("keyword-plus-text", _text("1CClientBankExchange", *ACC, "КонецФайла", "", "КонецФайла 1"),
     mirtle_py.UnrecognizedLine, ("КонецФайла 1",), 13, "Unrecognized line: 'КонецФайла 1'"),
    ("end-after-header", _text("1CClientBankExchange", "ВерсияФормата=1.03", "КонецФайла"),
     mirtle_py.UnexpectedSection, ("КонецФайла", "header"), 3,
     "Unexpected section 'КонецФайла' in context 'header'"),
    ("document-in-account", _text("1CClientBankExchange", "СекцияРасчСчет", "СекцияДокумент = Платежное поручение"),
     mirtle_py.UnexpectedSection, ("СекцияДокумент=Платежное поручение", "account"), 3,
     "Unexpected section 'СекцияДокумент=Платежное поручение' in context 'account'"),
    ("account-in-document", _text("1CClientBankExchange", "СекцияДокумент=", "СекцияРасчСчет"),
     mirtle_py.UnexpectedSection, ("СекцияРасчСчет", "document"), 3,
     "Unexpected section 'СекцияРасчСчет' in context 'document'"),
    ("end-in-document", _text("1CClientBankExchange", "СекцияДокумент=x=y", "КонецФайла"),
     mirtle_py.UnexpectedSection, ("КонецФайла", "document"), 3,
     "Unexpected section 'КонецФайла' in context 'document'"),
    ("closing-twice", _text("1CClientBankExchange", *ACC, "КонецРасчСчет"),
     mirtle_py.UnexpectedSection, ("КонецРасчСчет", "read_next_section"), 11,
     "Unexpected section 'КонецРасчСчет' in context 'read_next_section'"),
    ("end-twice", _text("1CClientBankExchange", *ACC, "КонецФайла", " ", "КонецФайла"),
     mirtle_py.UnexpectedSection, ("КонецФайла", "finished"), 13,
     "Unexpected section 'КонецФайла' in context 'finished'"),
    ("attribute-between-sections", _text("1CClientBankExchange", *ACC, "Ключ = Значение = 2"),
     mirtle_py.UnexpectedAttribute, ("Ключ", "Значение = 2"), 11,
     "Unexpected attribute 'Ключ' = 'Значение = 2'"),
    ("attribute-after-end", _text("1CClientBankExchange", *ACC, "КонецФайла", "="),
     mirtle_py.UnexpectedAttribute, ("", ""), 12, "Unexpected attribute '' = ''"),
    ("account-without-number", _text("1CClientBankExchange", *[x for x in ACC if not x.startswith("РасчСчет=")]),
     mirtle_py.MissingField, ("РасчСчет", "account"), 9, "Missing field 'РасчСчет' in context 'account'"),
    ("empty-account", _text("1CClientBankExchange", "СекцияРасчСчет", "КонецРасчСчет"),
     mirtle_py.AccountParseError, ("missing field `ДатаНачала`",), 3,
     "Account parse error: missing field `ДатаНачала`"),
    ("account-empty-total", _text("1CClientBankExchange", *[x if not x.startswith("ВсегоСписано=") else "ВсегоСписано="
                                                             for x in ACC]),
     mirtle_py.AccountParseError, (BAD_AMOUNT_EMPTY,), 10, "Account parse error: " + BAD_AMOUNT_EMPTY),
]


@pytest.mark.parametrize(("text", "cls", "fields", "lineno", "message"), [c[1:] for c in SYNTAX_CASES],
                         ids=[c[0] for c in SYNTAX_CASES])
@pytest.mark.parametrize("as_bytes", [False, True], ids=["str", "bytes"])
def test_syntax_errors(text, cls, fields, lineno, message, as_bytes):
    with pytest.raises(mirtle_py.SyntaxError) as info:
        mirtle_py.parse(text.encode() if as_bytes else text)
    e = info.value
    assert type(e) is mirtle_py.SyntaxError
    assert not isinstance(e, builtins.SyntaxError)
    assert e.args == (message,) and str(e) == message
    assert type(e.detail) is cls
    assert e.detail.__getnewargs__() == (lineno, *fields)
    assert e.__cause__ is None and e.__context__ is None
    assert list(vars(e)) == ["detail"]


def test_hook_error_names_the_closing_line():
    text = statement(doc(), account())

    def boom(section_type, attrs, header):
        if section_type is mirtle_py.SectionType.Account:
            raise ValueError("boom")

    with pytest.raises(mirtle_py.SyntaxError) as info:
        mirtle_py.parse(text, [boom])
    e = info.value
    assert str(e) == "Hook error: ValueError: boom"
    assert type(e.detail) is mirtle_py.HookError
    assert e.detail.__getnewargs__() == (lineno_of(text, "КонецРасчСчет"), "ValueError: boom")
    assert e.__cause__ is None and e.__context__ is None and not e.__suppress_context__


PLAIN_CASES = [
    (b"", mirtle_py.EmptyInputError, "Input is empty"),
    (b"   \n", mirtle_py.EmptyInputError, "Input is empty"),
    ("", mirtle_py.EmptyInputError, "Input is empty"),
    (b"\x0b", mirtle_py.NotStatementError, "Input is not a 1C statement"),
    (b"\xef\xbb\xbf", mirtle_py.NotStatementError, "Input is not a 1C statement"),
    (b"\xff\xfe", mirtle_py.NotStatementError, "Input is not a 1C statement"),
    ("\u00a0\u3000", mirtle_py.NotStatementError, "Input is not a 1C statement"),
    ("hello\n", mirtle_py.NotStatementError, "Input is not a 1C statement"),
    ("\n1CClientBankExchange\n", mirtle_py.NotStatementError, "Input is not a 1C statement"),
    (S.replace("\n", "\r"), mirtle_py.NotStatementError, "Input is not a 1C statement"),
    (b"1CClientBankExchange\n" + b"\xa4" * 10, mirtle_py.NotStatementError, "Input is not a 1C statement"),
    (b"\xff\xfe" + "1CClientBankExchange\n".encode("utf-16-le") + b"\x00\xd8",
     mirtle_py.NotStatementError, "Input is not a 1C statement"),
    (" 1CClientBankExchange \n", mirtle_py.UnfinishedError, "Statement is not finished"),
    (statement(end=False), mirtle_py.UnfinishedError, "Statement is not finished"),
    (statement(doc(), end=False), mirtle_py.UnfinishedError, "Statement is not finished"),
    (statement(doc()[:-1], end=False), mirtle_py.UnfinishedError, "Statement is not finished"),
]


@pytest.mark.parametrize(("data", "cls", "message"), PLAIN_CASES, ids=[f"{c[1].__name__}-{i}"
                                                                       for i, c in enumerate(PLAIN_CASES)])
def test_plain_errors_have_no_detail(data, cls, message):
    with pytest.raises(mirtle_py.ParseError) as info:
        mirtle_py.parse(data)
    e = info.value
    assert type(e) is cls
    assert e.args == (message,) and str(e) == message
    assert not hasattr(e, "detail")
    assert e.__cause__ is None and e.__context__ is None


def test_no_hook_is_called_for_a_section_that_never_closes():
    seen = []
    with pytest.raises(mirtle_py.UnfinishedError):
        mirtle_py.parse(statement(account(), doc()[:-1], end=False), [lambda t, a, h: seen.append(t)])
    assert seen == [mirtle_py.SectionType.Account]


@pytest.mark.parametrize("enc", ["utf-8", "utf-8-bom", "cp1251", "utf-16le-bom"])
def test_encodings_give_the_same_statement(sample_text, enc):
    expected = snapshot(mirtle_py.parse(sample_text))
    got = snapshot(mirtle_py.parse(encode(sample_text, enc)))
    reported = "utf-8" if enc.startswith("utf-8") else "cp1251"
    assert got[0] == reported
    assert got[1:5] == expected[1:5]
