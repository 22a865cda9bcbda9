"""Result classes and the values they carry: order, reprs, comparison, value forms."""

import operator
import types

import pytest

import mirtle_py
from conftest import (ACCOUNT, ATTR_OF, DATE_KEYS, DOC_FIELDS, DOCUMENT_ATTRS, INTERVAL_ATTRS, MINIMAL_DOC,
                      REQUIRED_KEYS, account, doc, doc_tuple, encode, interval_tuple, lineno_of, statement)

SectionType = mirtle_py.SectionType
INVALID = "invalid value: string {}, expected a Decimal type representing a fixed-point number"
NUMBER = ACCOUNT["РасчСчет"]


def attribute_order(cls):
    descriptors = (types.GetSetDescriptorType, types.MemberDescriptorType)
    return [k for k, v in vars(cls).items() if isinstance(v, descriptors)]


def one_doc(**changes):
    stmt = mirtle_py.parse(statement(doc(**changes)))
    assert stmt.warnings == []
    (d,) = stmt.documents
    return d


def one_warning(**changes):
    text = statement(doc(**changes))
    stmt = mirtle_py.parse(text)
    assert stmt.documents == []
    ((line, message),) = stmt.warnings
    assert line == lineno_of(text, "КонецДокумента")
    return message


def intervals(*sections):
    stmt = mirtle_py.parse(statement(*[account(s) for s in sections]))
    return stmt.accounts


# Every document key with a value of its own; the dates and the amount valid.
FULL_DOC = {key: f"значение {i} {key}" for i, (key, _) in enumerate(DOC_FIELDS) if key != "СекцияДокумент"}
FULL_DOC.update({"Дата": "05.03.2024", "ДатаСписано": "06.03.2024", "ДатаПоступило": "07.03.2024",
                 "Сумма": "1500.00", "СрокПлатежа": "05.03.2024", "ПоказательДаты": "0"})


class TestClasses:
    @pytest.mark.parametrize(
        ("cls", "order"),
        [
            (mirtle_py.Statement, ["encoding", "header", "accounts", "documents", "warnings"]),
            (mirtle_py.Account, ["number", "intervals"]),
            (mirtle_py.Interval, list(INTERVAL_ATTRS)),
            (mirtle_py.Document, list(DOCUMENT_ATTRS)),
        ],
        ids=lambda v: getattr(v, "__name__", "order"),
    )
    def test_attribute_order(self, cls, order):
        assert attribute_order(cls) == order

    def test_document_has_53_attributes(self):
        assert len(DOCUMENT_ATTRS) == len(set(DOCUMENT_ATTRS)) == 53
        assert set(DOCUMENT_ATTRS) == set(ATTR_OF.values())

    @pytest.mark.parametrize("cls", [mirtle_py.Statement, mirtle_py.Account, mirtle_py.Interval,
                                     mirtle_py.Document, SectionType], ids=lambda c: c.__name__)
    def test_not_instantiable(self, cls):
        with pytest.raises(TypeError):
            cls()
        with pytest.raises(TypeError):
            cls(0)
        with pytest.raises(TypeError):
            cls.__new__(cls)

    def test_instances_are_read_only(self, sample_text):
        stmt = mirtle_py.parse(sample_text)
        acct = stmt.accounts[NUMBER]
        for obj, names in [(stmt, attribute_order(mirtle_py.Statement)), (acct, ["number", "intervals"]),
                           (acct.intervals[0], INTERVAL_ATTRS), (stmt.documents[0], DOCUMENT_ATTRS),
                           (SectionType.Account, [])]:
            for name in names:
                with pytest.raises(AttributeError):
                    setattr(obj, name, getattr(obj, name))
                with pytest.raises(AttributeError):
                    delattr(obj, name)
            with pytest.raises(AttributeError):
                obj.extra = 1
            assert not hasattr(obj, "__dict__")


class TestReprs:
    def test_statement_and_account(self, sample_text):
        stmt = mirtle_py.parse(sample_text)
        assert repr(stmt) == 'Statement(encoding="utf-8", documents=[...2], warnings=[...1])'
        assert repr(mirtle_py.parse(encode(sample_text, "cp1251"))).startswith('Statement(encoding="cp1251", ')
        assert repr(stmt.accounts[NUMBER]) == f'Account(number="{NUMBER}", intervals=[...2])'
        assert str(stmt) == repr(stmt)

    def test_document(self):
        d = one_doc(Номер='a"b\\', Сумма="-0.50")
        assert repr(d) == ('Document(doc_number="a\\"b\\\\", doc_type="Платежное поручение", '
                           'doc_date="2024-03-05", amount="-0.50")')
        assert str(d) == repr(d)

    def test_document_type_is_quoted(self):
        stmt = mirtle_py.parse(statement(doc(doc_type="Тип\u00a0«1»")))
        assert 'doc_type="Тип\\u{a0}«1»"' in repr(stmt.documents[0])

    @pytest.mark.parametrize(
        ("fields", "text"),
        [
            ({}, 'Interval(date_start="2024-03-01", date_end=Some("2024-03-31"), start_amount="100000.00", '
                 'end_amount=Some("101249.50"))'),
            ({"ДатаКонца": None, "КонечныйОстаток": None},
             'Interval(date_start="2024-03-01", date_end=None, start_amount="100000.00", end_amount=None)'),
            ({"ДатаКонца": "", "НачальныйОстаток": "-0", "КонечныйОстаток": "1e3"},
             'Interval(date_start="2024-03-01", date_end=None, start_amount="0", end_amount=Some("1000"))'),
        ],
        ids=["full", "absent", "converted"],
    )
    def test_interval(self, fields, text):
        (i,) = intervals(fields)[NUMBER].intervals
        assert repr(i) == str(i) == text
        assert "total" not in repr(i)

    def test_section_type(self):
        assert repr(SectionType.Document) == str(SectionType.Document) == "SectionType.Document"
        assert repr(SectionType.Account) == "SectionType.Account"


def _variant(key):
    """FULL_DOC with one key's value changed (the amount only in its written scale)."""
    fields = dict(FULL_DOC)
    if key == "СекцияДокумент":
        return doc(fields, base={}, doc_type="Иной тип")
    fields[key] = {"Дата": "08.03.2024", "ДатаСписано": "09.03.2024", "ДатаПоступило": "",
                   "Сумма": "1500.0"}.get(key, fields[key] + "!")
    return doc(fields, base={})


class TestComparison:
    def test_each_document_attribute_takes_part(self):
        keys = [k for k, _ in DOC_FIELDS]
        stmt = mirtle_py.parse(statement(doc(FULL_DOC, base={}), doc(FULL_DOC, base={}),
                                         *[_variant(k) for k in keys]))
        assert stmt.warnings == []
        base, same, *variants = stmt.documents
        assert base == same and not (base != same) and base is not same
        for key, other in zip(keys, variants):
            assert base != other and not (base == other), key
            assert sum(a != b for a, b in zip(doc_tuple(base), doc_tuple(other))) == 1, key

    def test_absent_and_empty_optional_text_differ(self):
        a = one_doc(ПолучательКПП=None)
        b = one_doc(ПолучательКПП="")
        assert (a.payee_kpp, b.payee_kpp) == (None, "")
        assert a != b

    @pytest.mark.parametrize("key", [k for k in ACCOUNT if k != "РасчСчет"])
    def test_each_interval_attribute_takes_part(self, key):
        changed = {"ДатаНачала": "02.03.2024", "ДатаКонца": "30.03.2024"}.get(key, ACCOUNT[key] + "1")
        accounts = intervals({}, {key: changed})
        first, second = accounts[NUMBER].intervals
        assert first != second and not (first == second)
        again = intervals({})[NUMBER].intervals[0]
        assert again == first and again is not first

    def test_accounts_compare_number_and_intervals(self):
        a = intervals({})[NUMBER]
        b = intervals({})[NUMBER]
        two = intervals({}, {"ДатаНачала": "01.01.2024"})[NUMBER]
        other = intervals({"РасчСчет": "1"})["1"]
        assert a == b and a is not b
        assert a != two and a != other

    @pytest.mark.parametrize("kind", ["document", "interval", "account", "section-type"])
    def test_foreign_comparisons_and_hashing(self, sample_text, kind):
        stmt = mirtle_py.parse(sample_text)
        acct = stmt.accounts[NUMBER]
        obj = {"document": stmt.documents[0], "interval": acct.intervals[0], "account": acct,
               "section-type": SectionType.Document}[kind]
        for other in (1, "x", None, object(), stmt, SectionType.Account if kind != "section-type" else acct):
            assert (obj == other) is False and (obj != other) is True
        for op in (operator.lt, operator.le, operator.gt, operator.ge):
            with pytest.raises(TypeError):
                op(obj, obj)
        assert type(obj).__hash__ is None
        with pytest.raises(TypeError):
            hash(obj)

    def test_statement_uses_identity(self, sample_text):
        a, b = mirtle_py.parse(sample_text), mirtle_py.parse(sample_text)
        assert a == a and a != b
        assert hash(a) == object.__hash__(a)
        assert len({a, b}) == 2

    def test_section_type_values(self):
        assert type(SectionType.Document) is SectionType and type(SectionType.Account) is SectionType
        assert SectionType.Document is SectionType.Document
        assert SectionType.Document == SectionType.Document and SectionType.Document != SectionType.Account
        assert (int(SectionType.Document), int(SectionType.Account)) == (0, 1)
        assert SectionType.Document != 0 and not (SectionType.Account == 1)
        assert set(k for k in vars(SectionType) if not k.startswith("_")) == {"Document", "Account"}


class TestContainers:
    def test_statement_containers_are_stored_objects(self, sample_text):
        stmt = mirtle_py.parse(sample_text)
        for name in ("header", "accounts", "documents", "warnings"):
            assert getattr(stmt, name) is getattr(stmt, name), name
        assert (type(stmt.header), type(stmt.accounts), type(stmt.documents), type(stmt.warnings)) == (
            dict, dict, list, list)
        stmt.documents.append("mine")
        stmt.header.clear()
        stmt.warnings.clear()
        assert stmt.documents[-1] == "mine" and stmt.header == {} and stmt.warnings == []
        assert repr(stmt) == 'Statement(encoding="utf-8", documents=[...2], warnings=[...1])'

    def test_intervals_are_a_fresh_list_every_time(self, sample_text):
        acct = mirtle_py.parse(sample_text).accounts[NUMBER]
        first = acct.intervals
        assert first is not acct.intervals and first == acct.intervals
        assert first[0] is not acct.intervals[0]
        first.clear()
        assert len(acct.intervals) == 2

    def test_texts_are_plain_str(self, sample_text):
        stmt = mirtle_py.parse(sample_text)
        d = stmt.documents[1]
        assert all(type(getattr(d, a)) in (str, type(None)) for a in DOCUMENT_ATTRS)
        assert type(stmt.encoding) is str
        assert all(type(w) is tuple and len(w) == 2 and type(w[0]) is int and type(w[1]) is str
                   for w in stmt.warnings)


class TestDocumentValues:
    def test_minimal_document_leaves_40_attributes_absent(self):
        d = one_doc()
        absent = [a for a in DOCUMENT_ATTRS if getattr(d, a) is None]
        required = {ATTR_OF[k] for k in REQUIRED_KEYS}
        assert len(absent) == 40 and set(absent) == set(DOCUMENT_ATTRS) - required

    def test_every_key_feeds_its_attribute(self):
        (d,) = mirtle_py.parse(statement(doc(FULL_DOC, base={}, doc_type="Тип = 2"))).documents
        expected = {ATTR_OF[k]: v for k, v in FULL_DOC.items() if k not in DATE_KEYS and k != "Сумма"}
        expected.update(doc_type="Тип = 2", doc_date="2024-03-05", outcome_date="2024-03-06",
                        income_date="2024-03-07", amount="1500.00")
        assert {a: getattr(d, a) for a in DOCUMENT_ATTRS} == expected
        assert (d.payment_deadline, d.tax_date) == ("05.03.2024", "0")

    def test_empty_values_are_empty_texts(self):
        d = one_doc(Номер="", ПлательщикКПП="", ДатаСписано="", ДатаПоступило="")
        assert (d.doc_number, d.counterparty_kpp, d.outcome_date, d.income_date) == ("", "", None, None)

    def test_unknown_and_case_changed_keys_are_ignored(self):
        assert one_doc(ДатаНачала="x", номер="5", НОМЕР="6") == one_doc()

    @pytest.mark.parametrize(
        ("written", "text"),
        [
            ("100.50", "100.50"), ("100.5", "100.5"), ("100", "100"), (".5", "0.5"), ("100.", "100"),
            ("1.2e3", "1200"), ("15e-1", "1.5"), ("-0.00", "0.00"), ("-0", "0"), ("0.05", "0.05"),
            ("+7", "7"), ("-5.25", "-5.25"), ("007.50", "7.50"), ("1_000.5", "1000.5"), ("1.50e1", "15.0"),
            ("5e-28", "0.0000000000000000000000000005"), ("1e28", "10000000000000000000000000000"),
            ("-79228162514264337593543950335", "-79228162514264337593543950335"),
            ("0.12345678901234567890123456789", "0.1234567890123456789012345679"),
            ("7922816251426433759354395033.59", "7922816251426433759354395034"),
        ],
    )
    def test_amount_forms(self, written, text):
        assert one_doc(Сумма=written).amount == text

    @pytest.mark.parametrize(
        ("written", "quoted"),
        [("12,50", '"12,50"'), ("", '""'), ("1e", '"1e"'), ("1 000", '"1 000"'),
         ("79228162514264337593543950336", '"79228162514264337593543950336"'), ("1'0\"0\\", '"1\'0\\"0\\\\"')],
    )
    def test_bad_amounts_become_warnings(self, written, quoted):
        assert one_warning(Сумма=written) == INVALID.format(quoted)

    @pytest.mark.parametrize(
        ("written", "text"),
        [
            ("05.03.2024", "2024-03-05"), ("1.2.2024", "2024-02-01"), ("01.02.23", "0023-02-01"),
            ("01.02.0", "0000-02-01"), ("01.02.+20231", "+20231-02-01"), ("01.02.-5", "-0005-02-01"),
            ("01.02.+2024", "2024-02-01"), ("29.02.2000", "2000-02-29"), ("31.12.9999", "9999-12-31"),
            ("01.02.+262142", "+262142-02-01"), ("01.01.-262143", "-262143-01-01"),
        ],
    )
    def test_date_forms(self, written, text):
        d = one_doc(Дата=written, ДатаСписано=written, ДатаПоступило=written)
        assert (d.doc_date, d.outcome_date, d.income_date) == (text, text, text)

    @pytest.mark.parametrize(
        ("written", "message"),
        [
            ("", "empty string is not a valid date"), ("31.02.2023", "input is out of range"),
            ("01/02/2023", "input contains invalid characters"), ("01.02", "premature end of input"),
            ("01.02.20231", "trailing input"),
        ],
    )
    def test_bad_dates_become_warnings(self, written, message):
        assert one_warning(Дата=written) == message
        if written:
            assert one_warning(ДатаСписано=written) == message

    def test_bad_value_beats_missing_key(self):
        assert one_warning(Номер=None, Сумма=None) == "missing field `Номер`"
        assert one_warning(Номер=None, Сумма=None, Дата="31.02.2024") == "input is out of range"
        assert one_warning(ПлательщикБИК=None, ПолучательБанк1=None) == "missing field `ПлательщикБИК`"

    def test_warnings_keep_their_order_and_spare_the_rest(self):
        text = statement(doc(Номер=None), account(), doc(Номер="2"), doc(Дата=""), doc(Номер="4"))
        stmt = mirtle_py.parse(text)
        assert [d.doc_number for d in stmt.documents] == ["2", "4"]
        assert stmt.warnings == [(lineno_of(text, "КонецДокумента", 1), "missing field `Номер`"),
                                 (lineno_of(text, "КонецДокумента", 3), "empty string is not a valid date")]
        assert list(stmt.accounts) == [NUMBER]


class TestAccountValues:
    def test_intervals_sorted_and_deduplicated(self):
        accounts = intervals(
            {"ДатаНачала": "01.03.2024", "КонечныйОстаток": "1"},
            {"ДатаНачала": "01.02.2024"},
            {"ДатаНачала": "01.03.2024", "КонечныйОстаток": "2"},
            {"ДатаНачала": "01.02.2024", "НачальныйОстаток": "100000"},  # equal by value: dropped
            {"ДатаНачала": "01.03.2024", "КонечныйОстаток": "1.0"},  # equal to the first: dropped
        )
        got = [(i.date_start, i.start_amount, i.end_amount) for i in accounts[NUMBER].intervals]
        assert got == [("2024-02-01", "100000.00", "101249.50"), ("2024-03-01", "100000.00", "1"),
                       ("2024-03-01", "100000.00", "2")]

    def test_numbers_are_compared_exactly_and_kept_in_first_order(self):
        accounts = intervals({"РасчСчет": "9a"}, {"РасчСчет": "09a"}, {"РасчСчет": "9A"}, {"РасчСчет": "9a"},
                             {"РасчСчет": "1"})
        assert list(accounts) == ["9a", "09a", "9A", "1"]
        assert [a.number for a in accounts.values()] == list(accounts)

    def test_minimal_section(self):
        (i,) = intervals({"ДатаКонца": None, "КонечныйОстаток": None, "ВсегоПоступило": None,
                          "ВсегоСписано": None})[NUMBER].intervals
        assert interval_tuple(i) == ("2024-03-01", None, "100000.00", None, None, None)

    def test_interval_value_forms(self):
        (i,) = intervals({"ДатаНачала": "1.2.23", "ДатаКонца": "01.02.+20231", "НачальныйОстаток": ".5",
                          "КонечныйОстаток": "-0.00", "ВсегоПоступило": "15e-1", "ВсегоСписано": "100."}
                         )[NUMBER].intervals
        assert interval_tuple(i) == ("0023-02-01", "+20231-02-01", "0.5", "0.00", "1.5", "100")

    def test_only_an_account(self):
        stmt = mirtle_py.parse(statement(account()))
        assert (stmt.documents, stmt.warnings) == ([], [])
        assert repr(stmt) == 'Statement(encoding="utf-8", documents=[...0], warnings=[...0])'


class TestStatementValues:
    def test_header_keeps_file_order(self):
        header = [("Я", "1"), ("А", "2"), ("Б", "3"), ("А", "4"), ("", "пусто"), ("Ключ", "a=b")]
        stmt = mirtle_py.parse(statement(doc(), header=header))
        assert list(stmt.header.items()) == [("Я", "1"), ("А", "4"), ("Б", "3"), ("", "пусто"), ("Ключ", "a=b")]

    @pytest.mark.parametrize(
        ("enc", "reported"),
        [("utf-8", "utf-8"), ("utf-8-bom", "utf-8"), ("cp1251", "cp1251"), ("utf-16le-bom", "cp1251")],
    )
    def test_encoding(self, sample_text, enc, reported):
        stmt = mirtle_py.parse(encode(sample_text, enc))
        assert stmt.encoding == reported
        assert stmt.documents[0].purpose == MINIMAL_DOC["НазначениеПлатежа"]

    def test_cp1251_bytes_decode_to_the_same_text(self):
        text = statement(doc(Номер="Ёё №5", НазначениеПлатежа="Оплата — «аванс»"))
        stmt = mirtle_py.parse(text.encode("cp1251"))
        assert stmt.encoding == "cp1251"
        assert (stmt.documents[0].doc_number, stmt.documents[0].purpose) == ("Ёё №5", "Оплата — «аванс»")
