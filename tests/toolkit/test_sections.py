"""mirtle.sections: every line of a statement as written, with its number; parse's errors for the same lines."""

import mirtle_py
import pytest

import mirtle

from conftest import generated

WHITE = "".join(map(chr, [*range(9, 14), 0x20, 0x85, 0xA0, 0x1680, *range(0x2000, 0x200B), 0x2028, 0x2029,
                          0x202F, 0x205F, 0x3000]))


def reference(data: bytes, encoding: str):
    """A tiny model of the stream: numbered lines, trimmed, split at the first '='."""
    text = data.decode("utf-8-sig" if encoding == "utf-8" else "cp1251")
    header, sections, current = [], [], None
    for lineno, line in enumerate(text.split("\n"), 1):
        line = line.removesuffix("\r").strip(WHITE)
        key, eq, value = line.partition("=")
        key, value = key.strip(WHITE), value.strip(WHITE)
        if line == "СекцияРасчСчет":
            current = ("account", None, lineno, [])
        elif eq and key == "СекцияДокумент":
            current = ("document", value, lineno, [])
        elif line in ("КонецРасчСчет", "КонецДокумента"):
            sections.append((*current[:3], lineno, current[3]))
            current = None
        elif eq:
            (current[3] if current else header).append((lineno, key, value))
    return header, sections


def shape(s):
    return s.header, [(x.kind, x.doc_type, x.start_line, x.end_line, x.attributes) for x in s.sections]


def test_lines_come_in_file_order_with_their_numbers(statement_bytes):
    s = mirtle.sections(statement_bytes)
    assert shape(s) == reference(statement_bytes, s.encoding)
    assert s.encoding == mirtle_py.parse(statement_bytes).encoding


def test_keys_the_records_drop_are_kept():
    data = ("1CClientBankExchange\nДокумент=А\nДокумент=Б\nСекцияДокумент=Платежное поручение\nНомер=1\n"
            "КодБанка=77\nНомер=2\nКонецДокумента\nКонецФайла\n").encode()
    s = mirtle.sections(data)
    assert s.header == [(2, "Документ", "А"), (3, "Документ", "Б")]
    (section,) = s.sections
    assert section.attributes == [(5, "Номер", "1"), (6, "КодБанка", "77"), (7, "Номер", "2")]
    assert repr(s) == 'Sections(encoding="utf-8", header=[...2], sections=[...1])'
    assert repr(section) == ('Section(kind="document", doc_type="Платежное поручение", start_line=4, '
                             'end_line=8, attributes=[...3])')


def test_objects_are_read_only_and_attributes_a_new_list_each_read():
    s = mirtle.sections(generated(1, "utf-8"))
    section = s.sections[0]
    assert s.sections is s.sections and section.attributes is not section.attributes
    assert section.attributes == section.attributes and section == mirtle.sections(generated(1, "utf-8")).sections[0]
    with pytest.raises(AttributeError):
        section.kind = "x"
    with pytest.raises(TypeError):
        mirtle.Section()


HEAD = "1CClientBankExchange\nВерсияФормата=1.03\n"
DOC = "СекцияДокумент=Платежное поручение\nНомер=1\nКонецДокумента\n"

BROKEN = [  # (text, why)
    ("", "empty input"),
    ("Выписка\n", "not a statement"),
    (HEAD + DOC, "unfinished"),
    (HEAD + "Foo\n" + DOC + "КонецФайла\n", "unrecognized line"),
    (HEAD + "КонецФайла\n", "no section"),
    (HEAD + DOC + "Номер=2\n" + DOC + "КонецФайла\n", "attribute between sections"),
    (HEAD + "СекцияРасчСчет\n" + DOC + "КонецФайла\n", "document inside an account section"),
    (HEAD + DOC + "КонецФайла\nКонецФайла\n", "a second end"),
]


def raised(call):
    try:
        call()
    except mirtle_py.ParseError as e:
        detail = e.__dict__.get("detail")
        return type(e), e.args, None if detail is None else (type(detail), detail.__getnewargs__())
    return None


@pytest.mark.parametrize("text, why", BROKEN, ids=[w for _, w in BROKEN])
def test_format_errors_are_parses_own(text, why):
    expected = raised(lambda: mirtle_py.parse(text.encode()))
    assert expected is not None, why
    assert raised(lambda: mirtle.sections(text.encode())) == expected


RECORD_ERRORS = (mirtle_py.AccountParseError, mirtle_py.MissingField)


def test_mutated_statements_fail_alike():
    """Lines dropped, repeated or swapped: sections fails exactly where parse does, or parse fails first on a record."""
    hypothesis = pytest.importorskip("hypothesis")
    st = hypothesis.strategies
    lines = generated(2, "utf-8").split(b"\n")[:40]

    @hypothesis.given(st.lists(st.tuples(st.sampled_from("drop dup swap".split()), st.integers(0, 39)), max_size=4))
    def check(edits):
        mutated = list(lines)
        for op, i in edits:
            i %= len(mutated)
            if op == "drop":
                del mutated[i]
            elif op == "dup":
                mutated.insert(i, mutated[i])
            elif i + 1 < len(mutated):
                mutated[i], mutated[i + 1] = mutated[i + 1], mutated[i]
        data = b"\n".join(mutated)
        ours, theirs = raised(lambda: mirtle.sections(data)), raised(lambda: mirtle_py.parse(data))
        if theirs is not None and theirs[2] is not None and theirs[2][0] in RECORD_ERRORS:
            return  # the records' own check came first
        assert ours == theirs

    check()

