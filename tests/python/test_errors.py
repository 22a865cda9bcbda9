"""Errors: each kind of failure as its exception, message and detail; the detail classes."""

import copy
import pickle

import pytest

import mirtle_py as m
from conftest import DETAILS, account

U64, H, ACC = 2**64 - 1, "1CClientBankExchange\n", "\n".join(account()) + "\n"  # ACC: lines 2 to 10 after H
MESSAGES = {m.UnrecognizedLine: "Unrecognized line: '{}'", m.MissingField: "Missing field '{}' in context '{}'",
            m.UnexpectedSection: "Unexpected section '{}' in context '{}'",
            m.UnexpectedAttribute: "Unexpected attribute '{}' = '{}'", m.AccountParseError: "Account parse error: {}"}
KINDS = {  # input: detail class, lineno, texts; or exception class, message
    "unrecognized": (H + "\nIt's \"x\" \\ y\n", m.UnrecognizedLine, 3, "It's \"x\" \\ y"),
    "in-header": (H + "А=1\nКонецФайла\n", m.UnexpectedSection, 3, "КонецФайла", "header"),
    "in-account": (H + "СекцияРасчСчет\nСекцияДокумент=x\n", m.UnexpectedSection, 3, "СекцияДокумент=x", "account"),
    "in-document": (H + "СекцияДокумент=\nСекцияРасчСчет\n", m.UnexpectedSection, 3, "СекцияРасчСчет", "document"),
    "between": (H + ACC + "КонецРасчСчет\n", m.UnexpectedSection, 11, "КонецРасчСчет", "read_next_section"),
    "finished": (H + ACC + "КонецФайла\nКонецФайла\n", m.UnexpectedSection, 12, "КонецФайла", "finished"),
    "attribute": (H + ACC + "Ключ = Значение = 2\n", m.UnexpectedAttribute, 11, "Ключ", "Значение = 2"),
    "missing": (H + "СекцияРасчСчет\nДатаНачала=1.3.2024\nНачальныйОстаток=1\nКонецРасчСчет\n", m.MissingField, 5,
                "РасчСчет", "account"),
    "account": (H + "СекцияРасчСчет\nКонецРасчСчет\n", m.AccountParseError, 3, "missing field `ДатаНачала`"),
    "empty": (b"", m.EmptyInputError, "Input is empty"),
    "unfinished": (H, m.UnfinishedError, "Statement is not finished"),
    "not-statement": (b"hello\n", m.NotStatementError, "Input is not a 1C statement"),
}


@pytest.mark.parametrize(("data", "cls", "args"), [(d, c, a) for d, c, *a in KINDS.values()], ids=KINDS)
def test_error_kinds_and_their_copies(data, cls, args):
    syntax, message = cls in MESSAGES, MESSAGES[cls].format(*args[1:]) if cls in MESSAGES else args[0]
    with pytest.raises(m.SyntaxError if syntax else cls) as info:
        m.parse(data)
    e = info.value
    assert e.args == (message,) and str(e) == message and e.__cause__ is None and e.__context__ is None
    protocols = range(2 if syntax else 0, pickle.HIGHEST_PROTOCOL + 1)  # a detail needs protocol 2
    copies = [copy.copy(e), copy.deepcopy(e), *(pickle.loads(pickle.dumps(e, p)) for p in protocols)]
    for c in (e, *copies):
        assert type(c) is type(e) and c.args == e.args and c.__dict__.keys() == ({"detail"} if syntax else set())
        assert not syntax or (type(c.detail), *c.detail.__getnewargs__()) == (cls, *args)
    assert not syntax or [c.detail is e.detail for c in copies] == [True] + [False] * (len(copies) - 1)


Text, Index, TE = type("Text", (str,), {}), type("Index", (), {"__index__": lambda self: 41}), TypeError


@pytest.mark.parametrize("cls", DETAILS, ids=lambda c: c.__name__)
class TestDetailClass:
    def test_call_forms_and_copies_agree(self, cls):
        fields = DETAILS[cls]
        texts, clones = ("Номер", "d\n\"x\"\0")[: len(fields)], [copy.copy, copy.deepcopy, *(
            lambda d, p=p: pickle.loads(pickle.dumps(d, p)) for p in range(2, pickle.HIGHEST_PROTOCOL + 1))]
        a = cls(U64, *texts)
        for d in (a, cls(lineno=U64, **dict(zip(fields, texts))), cls(U64, **dict(zip(fields, texts))),
                  *(clone(a) for clone in clones)):
            assert type(d) is cls and (d.lineno, *map(d.__getattribute__, fields)) == d.__getnewargs__()
            assert d.__getnewargs__() == (U64, *texts) and repr(d) == repr(a) and (d == a) is (d is a)  # identity
        quoted = ('"Номер"', '"d\\n\\"x\\"\\0"')[: len(fields)]
        assert repr(a) == str(a) == f"{cls.__name__}(lineno={U64}, {', '.join(map('='.join, zip(fields, quoted)))})"
        for name in ("lineno", *fields):
            with pytest.raises(AttributeError):
                setattr(a, name, 5)

    # A value given as the line number, then as each text: what is stored, or the error
    @pytest.mark.parametrize(("value", "as_lineno", "as_text"), [
        (0, 0, TE), (True, 1, TE), (2**63, 2**63, TE), (U64, U64, TE), (Index(), 41, TE), (-1, OverflowError, TE),
        (2**64, OverflowError, TE), (1.0, TE, TE), ("1", TE, "1"), (Text("x"), TE, "x"), (None, TE, TE), (b"a", TE, TE),
        (bytearray(b"a"), TE, TE), ("a\udc80", TE, UnicodeEncodeError),
    ], ids=["zero", "bool", "above-i64", "u64-max", "index", "negative", "u64-max-plus-one", "float", "str",
            "str-subclass", "none", "bytes", "bytearray", "lone-surrogate"])
    def test_argument_values(self, cls, value, as_lineno, as_text):
        for i, name in enumerate(("lineno", *DETAILS[cls])):
            args, expected = [1, *["ok"] * len(DETAILS[cls])], as_text if i else as_lineno
            args[i] = value
            if not isinstance(expected, type):
                stored = getattr(cls(*args), name)
                assert stored == expected and type(stored) is (str if i else int)
                continue
            with pytest.raises(expected) as info:
                cls(*args)
            assert info.value.__notes__ == [f"while processing '{name}'"]

    @pytest.mark.parametrize(("args", "kwargs"), [(None, {}), (-1, {}), (1, {}), (0, {"lineno": 2}), (0, {"x": "x"}),
                                                  (0, {"\udc80": "x"})],  # how many texts beyond the fields
                             ids=["nothing", "one-short", "one-too-many", "lineno-twice", "unknown-keyword",
                                  "undecodable-keyword"])
    def test_argument_errors_name_the_constructor(self, cls, args, kwargs):
        with pytest.raises(TypeError, match=rf"^{cls.__name__}\.__new__\(\) ") as info:
            cls(*([] if args is None else [1, *["x"] * (len(DETAILS[cls]) + args)]), **kwargs)
        assert "missing" not in str(info.value) or f"'{DETAILS[cls][-1]}'" in str(info.value)


REPRS = [(m.UnrecognizedLine(7, "abc"), 'UnrecognizedLine(lineno=7, line="abc")'),
         (m.HookError(U64, "E: x"), f'HookError(lineno={U64}, message="E: x")'),
         (m.MissingField(0, "Номер", ""), 'MissingField(lineno=0, field="Номер", context="")'),
         (m.UnexpectedAttribute(2, 'x\n"y"\\', "\x01е\u0301"),
          'UnexpectedAttribute(lineno=2, key="x\\n\\"y\\"\\\\", value="\\u{1}е\\u{301}")')]


@pytest.mark.parametrize(("detail", "text"), REPRS, ids=[f"{type(d).__name__}-{i}" for i, (d, _) in enumerate(REPRS)])
def test_detail_reprs(detail, text):
    assert repr(detail) == str(detail) == text
