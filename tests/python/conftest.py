"""Shared helpers of the mirtle_py tests: statement builders and snapshots.

Statements are built from plain dicts of key -> value, rendered as text and
encoded as UTF-8, UTF-8 with a byte-order mark, CP1251 or UTF-16LE.  Results
and exceptions are reduced to plain tuples so that two parses can be compared
field by field.
"""

from __future__ import annotations

import os
import sys
from collections.abc import Iterable, Mapping

import pytest

try:
    from hypothesis import HealthCheck, settings
except ImportError:  # the property tests skip themselves then
    settings = None
else:
    settings.register_profile(
        "mirtle",
        deadline=None,
        max_examples=150,
        suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
    )
    settings.register_profile("mirtle-long", parent=settings.get_profile("mirtle"), max_examples=2000)
    settings.load_profile(os.environ.get("MIRTLE_HYPOTHESIS_PROFILE", "mirtle"))

import mirtle_py  # noqa: E402  (the tests need the built module on sys.path)


def pytest_configure(config):
    config.addinivalue_line("markers", "slow: takes seconds rather than milliseconds")


# --- document keys -----------------------------------------------------------

# The 53 keys a document knows, with their attribute names, in the record's own
# order: the order in which missing required keys are looked for.
DOC_FIELDS = (
    ("Номер", "doc_number"),
    ("СекцияДокумент", "doc_type"),
    ("ВидОплаты", "payment_type"),
    ("Дата", "doc_date"),
    ("НазначениеПлатежа", "purpose"),
    ("Очередность", "ordering"),
    ("Сумма", "amount"),
    ("ПлательщикИНН", "counterparty_inn"),
    ("ПлательщикКПП", "counterparty_kpp"),
    ("ПлательщикБИК", "counterparty_bic"),
    ("ПлательщикБанк1", "counterparty_bank1"),
    ("ПлательщикСчет", "counterparty_account"),
    ("Плательщик", "counterparty"),
    ("Плательщик1", "counterparty_1"),
    ("ДатаСписано", "outcome_date"),
    ("ПлательщикРасчСчет", "counterparty_ras_account"),
    ("ПлательщикКорсчет", "counterparty_cor_account"),
    ("ПолучательИНН", "payee_inn"),
    ("Получатель", "payee"),
    ("ПолучательСчет", "payee_account"),
    ("ПолучательКПП", "payee_kpp"),
    ("ПолучательБИК", "payee_bic"),
    ("ПолучательБанк1", "payee_bank1"),
    ("ПолучательРасчСчет", "payee_ras_account"),
    ("ПолучательКорсчет", "payee_cor_account"),
    ("ДатаПоступило", "income_date"),
    ("Плательщик2", "counterparty_2"),
    ("Плательщик3", "counterparty_3"),
    ("Плательщик4", "counterparty_4"),
    ("ПлательщикБанк2", "counterparty_bank2"),
    ("Получатель1", "payee_1"),
    ("Получатель2", "payee_2"),
    ("Получатель3", "payee_3"),
    ("Получатель4", "payee_4"),
    ("ПолучательБанк2", "payee_bank2"),
    ("ВидПлатежа", "payment_kind"),
    ("СрокПлатежа", "payment_deadline"),
    ("Код", "uin"),
    ("КодНазПлатежа", "purpose_code"),
    ("НазначениеПлатежа1", "purpose_1"),
    ("НазначениеПлатежа2", "purpose_2"),
    ("НазначениеПлатежа3", "purpose_3"),
    ("НазначениеПлатежа4", "purpose_4"),
    ("НазначениеПлатежа5", "purpose_5"),
    ("НазначениеПлатежа6", "purpose_6"),
    ("СтатусСоставителя", "compiler_status"),
    ("ПоказательКБК", "kbk"),
    ("ОКАТО", "okato"),
    ("ПоказательОснования", "tax_basis"),
    ("ПоказательПериода", "tax_period"),
    ("ПоказательНомера", "tax_number"),
    ("ПоказательДаты", "tax_date"),
    ("ПоказательТипа", "tax_type"),
)
ATTR_OF = dict(DOC_FIELDS)
KEY_OF = {attr: key for key, attr in DOC_FIELDS}

# Required keys in record order; the first one missing names the warning.
REQUIRED_KEYS = (
    "Номер", "СекцияДокумент", "Дата", "НазначениеПлатежа", "Сумма",
    "ПлательщикИНН", "ПлательщикБИК", "ПлательщикБанк1", "ПлательщикСчет",
    "ПолучательИНН", "ПолучательСчет", "ПолучательБИК", "ПолучательБанк1",
)
DATE_KEYS = ("Дата", "ДатаСписано", "ДатаПоступило")

# The attribute order of the Document class, which is not the record order.
DOCUMENT_ATTRS = (
    "doc_number", "doc_type", "doc_date", "amount", "purpose", "payment_type",
    "ordering", "counterparty_inn", "counterparty_kpp", "counterparty_bic",
    "counterparty_bank1", "counterparty_account", "counterparty",
    "counterparty_1", "counterparty_ras_account", "counterparty_cor_account",
    "outcome_date", "payee_inn", "payee", "payee_account", "payee_kpp",
    "payee_bic", "payee_bank1", "payee_ras_account", "payee_cor_account",
    "income_date", "counterparty_2", "counterparty_3", "counterparty_4",
    "counterparty_bank2", "payee_1", "payee_2", "payee_3", "payee_4",
    "payee_bank2", "payment_kind", "payment_deadline", "uin", "purpose_code",
    "purpose_1", "purpose_2", "purpose_3", "purpose_4", "purpose_5",
    "purpose_6", "compiler_status", "kbk", "okato", "tax_basis", "tax_period",
    "tax_number", "tax_date", "tax_type",
)
INTERVAL_ATTRS = ("date_start", "date_end", "start_amount", "end_amount", "total_income", "total_expense")

DOC_TYPE = "Платежное поручение"

HEADER = {
    "ВерсияФормата": "1.03",
    "Кодировка": "Windows",
    "Отправитель": "Бухгалтерия предприятия",
    "Получатель": "",
    "ДатаСоздания": "05.03.2024",
    "ВремяСоздания": "10:15:00",
    "ДатаНачала": "01.03.2024",
    "ДатаКонца": "31.03.2024",
    "РасчСчет": "40702810900000000001",
}

# Only the required keys, besides the type which comes from the section line.
MINIMAL_DOC = {
    "Номер": "17",
    "Дата": "05.03.2024",
    "Сумма": "1500.00",
    "ПлательщикСчет": "40702810900000000001",
    "ПлательщикИНН": "7701000001",
    "ПлательщикБИК": "044525225",
    "ПлательщикБанк1": "ПАО СБЕРБАНК г. Москва",
    "ПолучательСчет": "40702810500000000002",
    "ПолучательИНН": "7702000002",
    "ПолучательБИК": "044525593",
    "ПолучательБанк1": "АО \"АЛЬФА-БАНК\" г. Москва",
    "НазначениеПлатежа": "Оплата по счёту №42 от 01.03.2024, без НДС",
}

ACCOUNT = {
    "ДатаНачала": "01.03.2024",
    "ДатаКонца": "31.03.2024",
    "РасчСчет": "40702810900000000001",
    "НачальныйОстаток": "100000.00",
    "ВсегоПоступило": "1500.00",
    "ВсегоСписано": "250.50",
    "КонечныйОстаток": "101249.50",
}


def _merge(base: Mapping[str, str], fields: Mapping[str, str | None] | None, changes: Mapping[str, str | None]):
    out = dict(base)
    for extra in (fields or {}), changes:
        for key, value in extra.items():
            if value is None:
                out.pop(key, None)
            else:
                out[key] = value
    return out


def attr_lines(fields: Mapping[str, str] | Iterable[tuple[str, str]]) -> list[str]:
    items = fields.items() if isinstance(fields, Mapping) else fields
    return [f"{k}={v}" for k, v in items]


def doc(fields: Mapping[str, str | None] | None = None, *, doc_type: str = DOC_TYPE, base=MINIMAL_DOC,
        **changes: str | None) -> list[str]:
    """Lines of one document section; a value of None leaves the key out."""
    return [f"СекцияДокумент={doc_type}", *attr_lines(_merge(base, fields, changes)), "КонецДокумента"]


def account(fields: Mapping[str, str | None] | None = None, *, base=ACCOUNT, **changes: str | None) -> list[str]:
    """Lines of one account section; a value of None leaves the key out."""
    return ["СекцияРасчСчет", *attr_lines(_merge(base, fields, changes)), "КонецРасчСчет"]


def statement(*sections: list[str], header: Mapping[str, str] | Iterable[tuple[str, str]] = HEADER,
              end: bool = True, eol: str = "\n") -> str:
    """A statement text: marker, header, the sections in order and the end line."""
    lines = ["1CClientBankExchange", *attr_lines(header)]
    for sec in sections:
        lines.extend(sec)
    if end:
        lines.append("КонецФайла")
    return eol.join(lines) + eol


def encode(text: str, encoding: str) -> bytes:
    if encoding == "utf-8":
        return text.encode("utf-8")
    if encoding == "utf-8-bom":
        return b"\xef\xbb\xbf" + text.encode("utf-8")
    if encoding == "cp1251":
        return text.encode("cp1251")
    if encoding == "utf-16le-bom":
        return b"\xff\xfe" + text.encode("utf-16-le")
    raise ValueError(encoding)


def lineno_of(text: str, line: str, nth: int = 1) -> int:
    """1-based number of the nth line whose trimmed text is `line`."""
    seen = 0
    for number, piece in enumerate(text.split("\n"), 1):
        if piece.strip() == line:
            seen += 1
            if seen == nth:
                return number
    raise LookupError(line)


# --- snapshots -----------------------------------------------------------------

def doc_tuple(d) -> tuple:
    return tuple(getattr(d, a) for a in DOCUMENT_ATTRS)


def interval_tuple(i) -> tuple:
    return tuple(getattr(i, a) for a in INTERVAL_ATTRS)


def snapshot(stmt) -> tuple:
    """Everything a Statement shows, as nested plain values."""
    return (
        stmt.encoding,
        list(stmt.header.items()),
        [(k, a.number, [interval_tuple(i) for i in a.intervals]) for k, a in stmt.accounts.items()],
        [doc_tuple(d) for d in stmt.documents],
        list(stmt.warnings),
        repr(stmt),
    )


def detail_tuple(d) -> tuple:
    return (type(d).__name__, *d.__getnewargs__())


def outcome(data, hooks=None) -> tuple:
    """("ok", snapshot) or ("error", type, args, detail) for one parse."""
    try:
        stmt = mirtle_py.parse(data, hooks)
    except mirtle_py.ParseError as e:
        detail = e.__dict__.get("detail")
        return ("error", type(e), e.args, None if detail is None else detail_tuple(detail))
    return ("ok", snapshot(stmt))


PARSE_ERRORS = (
    mirtle_py.ParseError,
    mirtle_py.SyntaxError,
    mirtle_py.NotStatementError,
    mirtle_py.EmptyInputError,
    mirtle_py.UnfinishedError,
)
DETAIL_CLASSES = (
    mirtle_py.UnexpectedSection,
    mirtle_py.UnexpectedAttribute,
    mirtle_py.UnrecognizedLine,
    mirtle_py.MissingField,
    mirtle_py.AccountParseError,
    mirtle_py.DocumentParseError,
    mirtle_py.HookError,
)


def check_parse_error(e: BaseException) -> None:
    """A failed parse raises exactly one of the module's exceptions, well formed."""
    assert type(e) in PARSE_ERRORS, repr(e)
    assert len(e.args) == 1 and type(e.args[0]) is str
    assert e.__cause__ is None
    if type(e) is mirtle_py.SyntaxError:
        assert type(e.detail) in DETAIL_CLASSES
        assert type(e.detail.lineno) is int and e.detail.lineno >= 1
    else:
        assert not hasattr(e, "detail")


@pytest.fixture
def mp():
    return mirtle_py


@pytest.fixture
def sample_text() -> str:
    """Two accounts (one with two periods), two documents and one bad document."""
    return statement(
        account(),
        account({"ДатаНачала": "01.02.2024", "ДатаКонца": "29.02.2024", "КонечныйОстаток": "100000.00"}),
        account({"РасчСчет": "40702810900000000099", "ВсегоПоступило": None, "ВсегоСписано": None}),
        doc(),
        doc({"Номер": None}),
        doc({"Номер": "18", "Сумма": "250.50", "ПолучательКПП": "770201001", "ДатаСписано": "06.03.2024"},
            doc_type="Банковский ордер"),
    )


def is_debug_build() -> bool:
    return hasattr(sys, "gettotalrefcount")
