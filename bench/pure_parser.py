"""A straightforward pure-Python reader of "1CClientBankExchange" statements.

It is the yardstick for the extension module in bench_parse.py: the way
one would write the parser in plain Python, with the same results in the
same text forms (dates as YYYY-MM-DD, amounts as decimal text that keeps
the written scale), without trying to be clever.  It follows the format's
main rules but is not a reference for the edge cases.

    statement = parse(data)
    statement["documents"][0]["amount"]  ->  "148500.00"
"""

from __future__ import annotations

import datetime
import decimal
import re

# key -> (field name, kind); kinds: t text, o optional text, d date,
# od optional date, a amount.  The order is the record's own order.
DOCUMENT_FIELDS = {
    "Номер": ("doc_number", "t"),
    "СекцияДокумент": ("doc_type", "t"),
    "ВидОплаты": ("payment_type", "o"),
    "Дата": ("doc_date", "d"),
    "НазначениеПлатежа": ("purpose", "t"),
    "Очередность": ("ordering", "o"),
    "Сумма": ("amount", "a"),
    "ПлательщикИНН": ("counterparty_inn", "t"),
    "ПлательщикКПП": ("counterparty_kpp", "o"),
    "ПлательщикБИК": ("counterparty_bic", "t"),
    "ПлательщикБанк1": ("counterparty_bank1", "t"),
    "ПлательщикСчет": ("counterparty_account", "t"),
    "Плательщик": ("counterparty", "o"),
    "Плательщик1": ("counterparty_1", "o"),
    "ДатаСписано": ("outcome_date", "od"),
    "ПлательщикРасчСчет": ("counterparty_ras_account", "o"),
    "ПлательщикКорсчет": ("counterparty_cor_account", "o"),
    "ПолучательИНН": ("payee_inn", "t"),
    "Получатель": ("payee", "o"),
    "ПолучательСчет": ("payee_account", "t"),
    "ПолучательКПП": ("payee_kpp", "o"),
    "ПолучательБИК": ("payee_bic", "t"),
    "ПолучательБанк1": ("payee_bank1", "t"),
    "ПолучательРасчСчет": ("payee_ras_account", "o"),
    "ПолучательКорсчет": ("payee_cor_account", "o"),
    "ДатаПоступило": ("income_date", "od"),
    "Плательщик2": ("counterparty_2", "o"),
    "Плательщик3": ("counterparty_3", "o"),
    "Плательщик4": ("counterparty_4", "o"),
    "ПлательщикБанк2": ("counterparty_bank2", "o"),
    "Получатель1": ("payee_1", "o"),
    "Получатель2": ("payee_2", "o"),
    "Получатель3": ("payee_3", "o"),
    "Получатель4": ("payee_4", "o"),
    "ПолучательБанк2": ("payee_bank2", "o"),
    "ВидПлатежа": ("payment_kind", "o"),
    "СрокПлатежа": ("payment_deadline", "o"),
    "Код": ("uin", "o"),
    "КодНазПлатежа": ("purpose_code", "o"),
    "НазначениеПлатежа1": ("purpose_1", "o"),
    "НазначениеПлатежа2": ("purpose_2", "o"),
    "НазначениеПлатежа3": ("purpose_3", "o"),
    "НазначениеПлатежа4": ("purpose_4", "o"),
    "НазначениеПлатежа5": ("purpose_5", "o"),
    "НазначениеПлатежа6": ("purpose_6", "o"),
    "СтатусСоставителя": ("compiler_status", "o"),
    "ПоказательКБК": ("kbk", "o"),
    "ОКАТО": ("okato", "o"),
    "ПоказательОснования": ("tax_basis", "o"),
    "ПоказательПериода": ("tax_period", "o"),
    "ПоказательНомера": ("tax_number", "o"),
    "ПоказательДаты": ("tax_date", "o"),
    "ПоказательТипа": ("tax_type", "o"),
}
REQUIRED = [k for k, (_, kind) in DOCUMENT_FIELDS.items() if kind in ("t", "d", "a")]

INTERVAL_FIELDS = {
    "ДатаНачала": ("date_start", "d"),
    "ДатаКонца": ("date_end", "od"),
    "НачальныйОстаток": ("start_amount", "a"),
    "КонечныйОстаток": ("end_amount", "a"),
    "ВсегоПоступило": ("total_income", "a"),
    "ВсегоСписано": ("total_expense", "a"),
}

_DATE = re.compile(r"\s*(\d{1,2})\.\s*(\d{1,2})\.\s*(\d{1,4})")
_AMOUNT = re.compile(r"[+-]?(?:\d[\d_]*\.?\d*|\.\d+)(?:[eE][+-]?\d+)?")


class StatementError(Exception):
    """The input is not a well-formed statement."""


class FieldError(ValueError):
    pass


def parse_date(text: str) -> str:
    m = _DATE.fullmatch(text)
    if not m:
        raise FieldError("empty string is not a valid date" if not text.strip() else "bad date")
    day, month, year = (int(g) for g in m.groups())
    try:
        return datetime.date(year, month, day).isoformat()
    except ValueError:
        raise FieldError("input is out of range") from None


def parse_amount(text: str) -> str:
    if not _AMOUNT.fullmatch(text):
        raise FieldError(f"invalid value: string {text!r}")
    value = decimal.Decimal(text)
    if value == 0:
        value = abs(value)
    return format(value, "f")


def convert(kind: str, value: str) -> str | None:
    if kind == "d":
        return parse_date(value)
    if kind == "od":
        return parse_date(value) if value.strip() else None
    if kind == "a":
        return parse_amount(value)
    return value


def build_document(attrs: dict[str, str], doc_type: str) -> dict[str, str | None]:
    record: dict[str, str | None] = {}
    for key, value in [*attrs.items(), ("СекцияДокумент", doc_type)]:
        spec = DOCUMENT_FIELDS.get(key)
        if spec is None:
            continue
        name, kind = spec
        if name in record:
            raise FieldError(f"duplicate field `{key}`")
        record[name] = convert(kind, value)
    for key in REQUIRED:
        if DOCUMENT_FIELDS[key][0] not in record:
            raise FieldError(f"missing field `{key}`")
    for name, _ in DOCUMENT_FIELDS.values():
        record.setdefault(name, None)
    return record


def build_interval(attrs: dict[str, str]) -> dict[str, str | None]:
    interval: dict[str, str | None] = {name: None for name, _ in INTERVAL_FIELDS.values()}
    for key, value in attrs.items():
        spec = INTERVAL_FIELDS.get(key)
        if spec is not None:
            interval[spec[0]] = convert(spec[1], value)
    for key in ("ДатаНачала", "НачальныйОстаток"):
        if key not in attrs:
            raise FieldError(f"missing field `{key}`")
    return interval


def decode(data: bytes) -> tuple[str, str]:
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    try:
        return data.decode("utf-8"), "utf-8"
    except UnicodeDecodeError:
        return data.decode("cp1251", errors="replace"), "cp1251"


def parse(data: bytes | str) -> dict:
    if isinstance(data, str):
        data = data.encode("utf-8")
    if not data.strip():
        raise StatementError("Input is empty")
    text, encoding = decode(data)
    header: dict[str, str] = {}
    accounts: dict[str, list[dict]] = {}
    documents: list[dict] = []
    warnings: list[tuple[int, str]] = []

    state = "init"
    attrs: dict[str, str] = {}
    doc_type = ""
    for lineno, raw in enumerate(text.split("\n"), 1):
        line = raw.strip()
        if not line:
            continue
        if state == "init":
            if line != "1CClientBankExchange":
                raise StatementError("not a statement")
            state = "header"
            continue
        key, eq, value = line.partition("=")
        key, value = key.strip(), value.strip()
        if key == "СекцияДокумент" and eq:
            if state not in ("header", "between"):
                raise StatementError(f"line {lineno}: unexpected section")
            state, attrs, doc_type = "document", {}, value
        elif line == "СекцияРасчСчет":
            if state not in ("header", "between"):
                raise StatementError(f"line {lineno}: unexpected section")
            state, attrs = "account", {}
        elif line == "КонецДокумента" and state == "document":
            try:
                documents.append(build_document(attrs, doc_type))
            except FieldError as e:
                warnings.append((lineno, str(e)))
            state = "between"
        elif line == "КонецРасчСчет" and state == "account":
            try:
                interval = build_interval(attrs)
            except FieldError as e:
                raise StatementError(f"line {lineno}: {e}") from None
            number = attrs.get("РасчСчет")
            if number is None:
                raise StatementError(f"line {lineno}: missing field `РасчСчет`")
            intervals = accounts.setdefault(number, [])
            if interval not in intervals:
                intervals.append(interval)
                intervals.sort(key=lambda i: i["date_start"])
            state = "between"
        elif line == "КонецФайла" and state == "between":
            state = "finished"
        elif eq and state in ("header", "account", "document"):
            (header if state == "header" else attrs)[key] = value
        else:
            raise StatementError(f"line {lineno}: unexpected line {line!r}")
    if state != "finished":
        raise StatementError("Statement is not finished")
    return {"encoding": encoding, "header": header, "accounts": accounts,
            "documents": documents, "warnings": warnings}
