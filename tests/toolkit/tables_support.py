"""Helpers of the table tests: the rows mirtle_py gives for a statement, and
statements written section by section."""

import datetime
import decimal

import mirtle_py

DOCUMENT_ATTRS = tuple(name for name, value in vars(mirtle_py.Document).items()
                       if not name.startswith("_") and hasattr(value, "__get__"))
INTERVAL_ATTRS = ("date_start", "date_end", "start_amount", "end_amount", "total_income", "total_expense")
DATES = {"doc_date", "outcome_date", "income_date", "date_start", "date_end"}
AMOUNTS = {"amount", "start_amount", "end_amount", "total_income", "total_expense"}


def converted(name, value):
    """A mirtle_py attribute as the tables type it."""
    if value is None:
        return None
    if name in DATES:
        return datetime.date.fromisoformat(value)
    if name in AMOUNTS:
        return decimal.Decimal(value)
    return value


def expected_documents(data, hooks=None):
    """The document rows of mirtle_py.parse, without `lineno`."""
    statement = mirtle_py.parse(data, hooks)
    return [{n: converted(n, getattr(d, n)) for n in DOCUMENT_ATTRS} for d in statement.documents]


def expected_intervals(data):
    statement = mirtle_py.parse(data)
    return [{"account": number, **{n: converted(n, getattr(i, n)) for n in INTERVAL_ATTRS}}
            for number, account in statement.accounts.items() for i in account.intervals]


def closing_lines(data):
    """Lines closing a document that was built: every "КонецДокумента" but the warnings'."""
    statement = mirtle_py.parse(data)
    text = data.decode(statement.encoding).replace("\r\n", "\n")
    ends = [n for n, line in enumerate(text.split("\n"), 1) if line.strip() == "КонецДокумента"]
    failed = {lineno for lineno, _ in statement.warnings}
    return [n for n in ends if n not in failed]


def statement(*sections, header="ВерсияФормата=1.03\n"):
    """A statement's text from section texts."""
    return "1CClientBankExchange\n" + header + "".join(sections) + "КонецФайла\n"


def document(**fields):
    base = {"Номер": "17", "Дата": "05.03.2024", "Сумма": "1500.00", "ПлательщикСчет": "40702810900000000001",
            "ПлательщикИНН": "7701000001", "ПлательщикБИК": "044525225", "ПлательщикБанк1": "Банк",
            "ПолучательСчет": "40702810500000000002", "ПолучательИНН": "7702000002",
            "ПолучательБИК": "044525593", "ПолучательБанк1": "Банк 2", "НазначениеПлатежа": "Оплата"}
    lines = "".join(f"{k}={v}\n" for k, v in {**base, **fields}.items() if v is not None)
    return "СекцияДокумент=Платежное поручение\n" + lines + "КонецДокумента\n"


def account(number="40702810900000000001", **fields):
    base = {"ДатаНачала": "01.03.2024", "НачальныйОстаток": "100.00", "РасчСчет": number}
    lines = "".join(f"{k}={v}\n" for k, v in {**base, **fields}.items() if v is not None)
    return "СекцияРасчСчет\n" + lines + "КонецРасчСчет\n"
