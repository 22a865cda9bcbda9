"""Result classes: not instantiable, read-only, reprs, comparison, value forms and containers."""

import operator
import types

import pytest

import mirtle_py as m
from conftest import ACCOUNT, DOC_KEYS, DOCUMENT_ATTRS, INTERVAL_ATTRS, account, doc, statement

NUMBER, ST, DOC = ACCOUNT["РасчСчет"], m.SectionType, statement(doc())
# Two accounts, one with two periods; two documents and one without its number.
SAMPLE = statement(account(), account(ДатаНачала="01.02.2024", ДатаКонца="29.02.2024"),
                   account(РасчСчет="1", ВсегоПоступило=None), doc(), doc(Номер=None), doc(Номер="18"))
STMT, TWIN = m.parse(SAMPLE), m.parse(SAMPLE)
ACCT, ACCT2 = STMT.accounts[NUMBER], TWIN.accounts[NUMBER]
own = lambda cls: [k for k, v in vars(cls).items() if isinstance(v, types.GetSetDescriptorType)]  # noqa: E731
FULL = {key: f"значение {i}" for i, key in enumerate(DOC_KEYS.values()) if key != "СекцияДокумент"}
FULL.update(Дата="05.03.2024", ДатаСписано="06.03.2024", ДатаПоступило="07.03.2024", Сумма="1500.00")


def parsed(*sections, number=NUMBER):
    stmt = m.parse(statement(*sections))
    return stmt.documents, stmt.accounts.get(number)


class TestClasses:
    @pytest.mark.parametrize(("obj", "twin", "other", "order"), [  # twin: the same values, other: different ones
        (STMT, TWIN, TWIN, ["encoding", "header", "accounts", "documents", "warnings"]),
        (ACCT, ACCT2, STMT.accounts["1"], ["number", "intervals"]),
        (ACCT.intervals[0], ACCT2.intervals[0], ACCT.intervals[1], INTERVAL_ATTRS),
        (STMT.documents[0], TWIN.documents[0], STMT.documents[1], DOCUMENT_ATTRS),
        (ST.Account, ST.Account, ST.Document, []),
    ], ids=["Statement", "Account", "Interval", "Document", "SectionType"])
    def test_objects(self, obj, twin, other, order):
        cls = type(obj)
        assert own(cls) == list(order)
        calls = [(TypeError, f) for f in (cls, lambda: cls(0), lambda: cls.__new__(cls), *[  # no instances, no order
            lambda op=op: op(obj, obj) for op in (operator.lt, operator.le, operator.gt, operator.ge)])]
        for error, call in calls + [(AttributeError, f) for n in [*order, "extra"] for f in (  # read-only
                lambda n=n: setattr(obj, n, getattr(obj, n, 1)), lambda n=n: delattr(obj, n))]:
            with pytest.raises(error):
                call()
        assert not hasattr(obj, "__dict__")
        assert obj == obj and obj != other and not (obj == other) and (obj == twin) is (cls is not m.Statement)
        if cls is m.Statement:  # compared by identity
            assert hash(obj) == object.__hash__(obj)
            return
        assert cls.__hash__ is None and all((obj == x) is False and (obj != x) is True
                                            for x in (1, "x", None, object(), STMT, ST.Document, ACCT) if x is not obj)
        with pytest.raises(TypeError):
            hash(obj)

    @pytest.mark.parametrize(("obj", "text"), [
        (lambda: STMT, 'Statement(encoding="utf-8", documents=[...2], warnings=[...1])'),
        (lambda: m.parse(DOC.encode("cp1251")), 'Statement(encoding="cp1251", documents=[...1], warnings=[...0])'),
        (lambda: ACCT, f'Account(number="{NUMBER}", intervals=[...2])'),
        (lambda: parsed(doc("Тип\u00a0«1»", Номер='a"b\\', Сумма="-0.50"))[0][0],
         'Document(doc_number="a\\"b\\\\", doc_type="Тип\\u{a0}«1»", doc_date="2024-03-05", amount="-0.50")'),
        (lambda: parsed(account())[1].intervals[0], 'Interval(date_start="2024-03-01", date_end=Some("2024-03-31"), '
                                                    'start_amount="100000.00", end_amount=Some("101249.50"))'),
        (lambda: parsed(account(ДатаКонца=None, КонечныйОстаток=None))[1].intervals[0],
         'Interval(date_start="2024-03-01", date_end=None, start_amount="100000.00", end_amount=None)'),
        (lambda: ST.Document, "SectionType.Document"), (lambda: ST.Account, "SectionType.Account"),
    ], ids=["statement", "statement-cp1251", "account", "document", "interval", "interval-absent", "doc", "acc"])
    def test_reprs(self, obj, text):
        assert repr(obj()) == str(obj()) == text


class TestValues:
    def test_every_document_attribute_takes_part_in_equality(self):
        changed = {"Дата": "08.03.2024", "ДатаСписано": "09.03.2024", "ДатаПоступило": "", "Сумма": "1500.0"}
        variants = [doc("Т", FULL, **{k: changed.get(k, v + "!")}) for k, v in FULL.items()]
        (base, same, *others), _ = parsed(doc("Т", FULL), doc("Т", FULL), doc("Иной", FULL), *variants)
        assert base == same and not (base != same) and base is not same and len(others) == len(DOCUMENT_ATTRS)
        for other in others:
            assert base != other and not (base == other)
            assert sum(getattr(base, a) != getattr(other, a) for a in DOCUMENT_ATTRS) == 1
        (a, b), _ = parsed(doc(ПолучательКПП=None), doc(ПолучательКПП="", ДатаСписано=""))  # absent differs from empty
        assert (a.payee_kpp, b.payee_kpp, b.outcome_date) == (None, "", None) and a != b

    def test_containers(self):
        stmt = m.parse(SAMPLE)
        assert [type(getattr(stmt, n)) for n in own(m.Statement)] == [str, dict, dict, list, list]
        assert all(getattr(stmt, n) is getattr(stmt, n) for n in own(m.Statement)[1:])  # the same object every time
        assert [tuple(map(type, w)) for w in stmt.warnings] == [(int, str)]
        stmt.documents.clear(), stmt.header.clear(), stmt.accounts[NUMBER].intervals.clear()
        assert stmt.documents == [] and stmt.header == {} and repr(stmt) == repr(STMT)  # the counts are kept
        first = stmt.accounts[NUMBER].intervals  # a new list of new objects every time
        assert len(first) == 2 and first == ACCT.intervals and first[0] is not stmt.accounts[NUMBER].intervals[0]
