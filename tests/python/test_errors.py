"""Exception types and the detail classes: construction, reprs, copying, pickling."""

import builtins
import copy
import pickle

import pytest

import mirtle_py
from conftest import doc, lineno_of, statement

U64_MAX = 2**64 - 1

# class, field names after lineno
DETAILS = [
    (mirtle_py.UnrecognizedLine, ("line",)),
    (mirtle_py.DocumentParseError, ("message",)),
    (mirtle_py.AccountParseError, ("message",)),
    (mirtle_py.UnexpectedSection, ("found", "context")),
    (mirtle_py.HookError, ("message",)),
    (mirtle_py.MissingField, ("field", "context")),
    (mirtle_py.UnexpectedAttribute, ("key", "value")),
]
DETAIL_IDS = [c.__name__ for c, _ in DETAILS]
SUBCLASSES = [mirtle_py.SyntaxError, mirtle_py.NotStatementError, mirtle_py.EmptyInputError,
              mirtle_py.UnfinishedError]


def make(cls, fields, lineno=3, texts=None):
    texts = texts or [f"текст {i} \"'\\" for i in range(len(fields))]
    return cls(lineno, *texts)


class TestHierarchy:
    def test_parse_error_derives_directly_from_exception(self):
        assert mirtle_py.ParseError.__bases__ == (Exception,)

    @pytest.mark.parametrize("cls", SUBCLASSES, ids=lambda c: c.__name__)
    def test_subclasses(self, cls):
        assert cls.__bases__ == (mirtle_py.ParseError,)
        assert issubclass(cls, mirtle_py.ParseError)

    def test_module_syntax_error_is_not_the_builtin_one(self):
        assert not issubclass(mirtle_py.SyntaxError, builtins.SyntaxError)
        assert not issubclass(builtins.SyntaxError, mirtle_py.SyntaxError)

    @pytest.mark.parametrize("cls", [mirtle_py.ParseError, *SUBCLASSES], ids=lambda c: c.__name__)
    def test_instances_made_by_python_code_have_no_detail(self, cls):
        e = cls("message")
        assert e.args == ("message",) and str(e) == "message"
        assert not hasattr(e, "detail")

    def test_detail_classes_are_not_exceptions(self):
        for cls, _ in DETAILS:
            assert not issubclass(cls, BaseException)


@pytest.mark.parametrize(("cls", "fields"), DETAILS, ids=DETAIL_IDS)
class TestConstruction:
    def test_positional_and_keyword_forms_agree(self, cls, fields):
        texts = ["Номер", "document"][: len(fields)]
        a = cls(12, *texts)
        b = cls(lineno=12, **dict(zip(fields, texts)))
        c = cls(12, **dict(zip(fields, texts)))
        for d in (a, b, c):
            assert d.lineno == 12 and type(d.lineno) is int
            assert tuple(getattr(d, f) for f in fields) == tuple(texts)
            assert all(type(getattr(d, f)) is str for f in fields)
            assert d.__getnewargs__() == (12, *texts)

    @pytest.mark.parametrize(
        ("lineno", "stored"),
        [(0, 0), (1, 1), (True, 1), (U64_MAX, U64_MAX), (2**63, 2**63)],
        ids=["zero", "one", "bool", "u64-max", "above-i64"],
    )
    def test_accepted_line_numbers(self, cls, fields, lineno, stored):
        assert make(cls, fields, lineno).lineno == stored

    def test_index_objects_are_accepted(self, cls, fields):
        class Index:
            def __index__(self):
                return 41

        assert make(cls, fields, Index()).lineno == 41

    def test_str_subclass_is_stored_as_plain_text(self, cls, fields):
        class Text(str):
            pass

        d = cls(1, *[Text("x")] * len(fields))
        assert all(type(getattr(d, f)) is str and getattr(d, f) == "x" for f in fields)

    @pytest.mark.parametrize(
        ("lineno", "error"),
        [(-1, OverflowError), (2**64, OverflowError), (-(2**70), OverflowError), (1.0, TypeError),
         ("1", TypeError), (None, TypeError), (b"1", TypeError)],
        ids=["negative", "u64-max-plus-one", "very-negative", "float", "str", "none", "bytes"],
    )
    def test_bad_line_numbers(self, cls, fields, lineno, error):
        with pytest.raises(error) as info:
            make(cls, fields, lineno)
        assert "while processing 'lineno'" in getattr(info.value, "__notes__", [])

    @pytest.mark.parametrize(
        ("value", "error"),
        [(b"a", TypeError), (None, TypeError), (5, TypeError), (bytearray(b"a"), TypeError),
         ("a\udc80", UnicodeEncodeError)],
        ids=["bytes", "none", "int", "bytearray", "lone-surrogate"],
    )
    def test_bad_texts_name_the_argument(self, cls, fields, value, error):
        for position, name in enumerate(fields):
            texts = ["ok"] * len(fields)
            texts[position] = value
            with pytest.raises(error) as info:
                cls(1, *texts)
            assert f"while processing '{name}'" in getattr(info.value, "__notes__", [])

    @pytest.mark.parametrize(
        "call",
        [
            pytest.param(lambda cls, n: cls(), id="nothing"),
            pytest.param(lambda cls, n: cls(1), id="lineno-only"),
            pytest.param(lambda cls, n: cls(1, *["x"] * (n - 1)), id="one-short"),
            pytest.param(lambda cls, n: cls(1, *["x"] * (n + 1)), id="one-too-many"),
            pytest.param(lambda cls, n: cls(1, *["x"] * n, lineno=2), id="lineno-twice"),
            pytest.param(lambda cls, n: cls(1, *["x"] * n, extra="x"), id="unknown-keyword"),
            pytest.param(lambda cls, n: cls(1, *["x"] * n, **{"\udc80": "x"}), id="undecodable-keyword"),
        ],
    )
    def test_argument_errors_name_the_constructor(self, cls, fields, call):
        with pytest.raises(TypeError) as info:
            call(cls, len(fields))
        assert f"{cls.__name__}.__new__()" in str(info.value)

    def test_missing_argument_is_named(self, cls, fields):
        with pytest.raises(TypeError) as info:
            cls(1, *["x"] * (len(fields) - 1))
        assert repr(fields[-1]) in str(info.value) or fields[-1] in str(info.value)

    def test_fields_are_read_only(self, cls, fields):
        d = make(cls, fields)
        for name in ("lineno", *fields):
            with pytest.raises(AttributeError):
                setattr(d, name, "x" if name != "lineno" else 5)
            with pytest.raises(AttributeError):
                delattr(d, name)
        with pytest.raises(AttributeError):
            d.other = 1
        assert not hasattr(d, "__dict__")

    def test_equality_and_hash_are_identity(self, cls, fields):
        a, b = make(cls, fields), make(cls, fields)
        assert a == a and a != b and not (a == b)
        assert hash(a) == object.__hash__(a)
        assert len({a, b}) == 2
        with pytest.raises(TypeError):
            a < b  # noqa: B015

    def test_getnewargs(self, cls, fields):
        d = make(cls, fields, U64_MAX)
        args = d.__getnewargs__()
        assert type(args) is tuple and args == (U64_MAX, *[getattr(d, f) for f in fields])
        assert d.__getnewargs__() is not args
        assert cls.__getnewargs__.__text_signature__ == "($self)"
        assert cls.__getnewargs__.__doc__ is None
        with pytest.raises(TypeError):
            d.__getnewargs__(1)

    @pytest.mark.parametrize(
        "clone",
        [copy.copy, copy.deepcopy, *[(lambda p: lambda d: pickle.loads(pickle.dumps(d, p)))(p)
                                     for p in range(2, pickle.HIGHEST_PROTOCOL + 1)]],
        ids=["copy", "deepcopy", *[f"pickle-{p}" for p in range(2, pickle.HIGHEST_PROTOCOL + 1)]],
    )
    def test_copies_reproduce_every_field(self, cls, fields, clone):
        d = make(cls, fields, U64_MAX, ["ключ\n\"x\"", "значение\0"][: len(fields)])
        c = clone(d)
        assert type(c) is cls and c is not d and c != d
        assert c.__getnewargs__() == d.__getnewargs__()
        assert repr(c) == repr(d)


REPRS = [
    (mirtle_py.UnrecognizedLine(7, "abc"), 'UnrecognizedLine(lineno=7, line="abc")'),
    (mirtle_py.DocumentParseError(1, "m"), 'DocumentParseError(lineno=1, message="m")'),
    (mirtle_py.AccountParseError(0, "missing field `ДатаНачала`"),
     'AccountParseError(lineno=0, message="missing field `ДатаНачала`")'),
    (mirtle_py.UnexpectedSection(3, "КонецФайла", "header"),
     'UnexpectedSection(lineno=3, found="КонецФайла", context="header")'),
    (mirtle_py.HookError(U64_MAX, "ValueError: boom"),
     'HookError(lineno=18446744073709551615, message="ValueError: boom")'),
    (mirtle_py.MissingField(12, "Номер", "document"), 'MissingField(lineno=12, field="Номер", context="document")'),
    (mirtle_py.UnexpectedAttribute(3, "k", "v"), 'UnexpectedAttribute(lineno=3, key="k", value="v")'),
    (mirtle_py.UnexpectedAttribute(3, "", ""), 'UnexpectedAttribute(lineno=3, key="", value="")'),
]


@pytest.mark.parametrize(("detail", "text"), REPRS, ids=[type(d).__name__ + str(i) for i, (d, _) in enumerate(REPRS)])
def test_detail_reprs(detail, text):
    assert repr(detail) == text
    assert str(detail) == text


# text, quoted literal
QUOTED = [
    ("plain", "abc", '"abc"'),
    ("empty", "", '""'),
    ("space", " a b ", '" a b "'),
    ("double-quote", 'a"b', '"a\\"b"'),
    ("backslash", "a\\b", '"a\\\\b"'),
    ("tab-cr-lf-nul", "\t\r\n\0", '"\\t\\r\\n\\0"'),
    ("bell", "\x07", '"\\u{7}"'),
    ("vertical-tab", "\x0b", '"\\u{b}"'),
    ("escape", "\x1b", '"\\u{1b}"'),
    ("unit-separator", "\x1f", '"\\u{1f}"'),
    ("delete", "\x7f", '"\\u{7f}"'),
    ("c1-controls", "\x80\x85\x9f", '"\\u{80}\\u{85}\\u{9f}"'),
    ("no-break-space", "\xa0", '"\\u{a0}"'),
    ("soft-hyphen", "\xad", '"\\u{ad}"'),
    ("combining-acute", "е\u0301", '"е\\u{301}"'),
    ("cyrillic-titlo", "\u0483", '"\\u{483}"'),
    ("variation-selector", "\u2764\ufe0f", '"\u2764\\u{fe0f}"'),
    ("zero-width-non-joiner", "\u200c", '"\\u{200c}"'),
    ("zero-width-space", "\u200b", '"\\u{200b}"'),
    ("line-separator", "\u2028", '"\\u{2028}"'),
    ("paragraph-separator", "\u2029", '"\\u{2029}"'),
    ("em-space", "\u2003", '"\\u{2003}"'),
    ("ideographic-space", "\u3000", '"\\u{3000}"'),
    ("ogham-space", "\u1680", '"\\u{1680}"'),
    ("byte-order-mark", "\ufeff", '"\\u{feff}"'),
    ("private-use", "\ue000", '"\\u{e000}"'),
    ("unassigned", "\u0378", '"\\u{378}"'),
    ("noncharacter", "\U0010ffff", '"\\u{10ffff}"'),
    ("apostrophe", "it's", "\"it's\""),
    ("cyrillic", "Номер ёЁ", '"Номер ёЁ"'),
    ("emoji", "\U0001F600", '"\U0001F600"'),
    ("cjk", "中文", '"中文"'),
    ("symbols", "№€\ufffd", '"№€\ufffd"'),
    ("mixed", 'x\n"y"\\\x01', '"x\\n\\"y\\"\\\\\\u{1}"'),
]


@pytest.mark.parametrize(("text", "quoted"), [c[1:] for c in QUOTED], ids=[c[0] for c in QUOTED])
def test_quoted_literals(text, quoted):
    assert repr(mirtle_py.UnrecognizedLine(1, text)) == f"UnrecognizedLine(lineno=1, line={quoted})"
    assert repr(mirtle_py.MissingField(2, text, text)) == f"MissingField(lineno=2, field={quoted}, context={quoted})"


class TestFromParse:
    TEXT = statement(doc(), end=False) + "Ключ \"1\"\n"

    def error(self):
        with pytest.raises(mirtle_py.SyntaxError) as info:
            mirtle_py.parse(self.TEXT)
        return info.value

    def test_detail_sits_in_the_instance_dict(self):
        e = self.error()
        assert e.__dict__ == {"detail": e.detail}
        n = lineno_of(self.TEXT, 'Ключ "1"')
        assert repr(e.detail) == f'UnrecognizedLine(lineno={n}, line="Ключ \\"1\\"")'

    @pytest.mark.parametrize("protocol", range(2, pickle.HIGHEST_PROTOCOL + 1))
    def test_pickle_carries_the_detail(self, protocol):
        e = self.error()
        c = pickle.loads(pickle.dumps(e, protocol))
        assert type(c) is mirtle_py.SyntaxError
        assert c.args == e.args
        assert type(c.detail) is mirtle_py.UnrecognizedLine
        assert c.detail is not e.detail
        assert c.detail.__getnewargs__() == e.detail.__getnewargs__()

    def test_copy_and_deepcopy(self):
        e = self.error()
        shallow, deep = copy.copy(e), copy.deepcopy(e)
        assert shallow.detail is e.detail
        assert deep.detail is not e.detail and deep.detail.__getnewargs__() == e.detail.__getnewargs__()
        assert shallow.args == deep.args == e.args

    @pytest.mark.parametrize("protocol", range(0, pickle.HIGHEST_PROTOCOL + 1))
    def test_plain_errors_pickle(self, protocol):
        with pytest.raises(mirtle_py.EmptyInputError) as info:
            mirtle_py.parse(b"")
        c = pickle.loads(pickle.dumps(info.value, protocol))
        assert type(c) is mirtle_py.EmptyInputError and c.args == ("Input is empty",)
