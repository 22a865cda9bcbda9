"""Shared helpers: statement builders and plain snapshots of results and errors."""

import os

try:
    from hypothesis import HealthCheck, settings
except ImportError:  # the property tests skip themselves then
    pass
else:
    settings.register_profile("mirtle", deadline=None, max_examples=150,
                              suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
    settings.load_profile(os.environ.get("MIRTLE_HYPOTHESIS_PROFILE", "mirtle"))

import mirtle_py  # noqa: E402


# Document attributes in the class's order, each with the key that feeds it.
DOC_KEYS = dict(zip(*[iter("""
doc_number Номер doc_type СекцияДокумент doc_date Дата amount Сумма purpose НазначениеПлатежа payment_type ВидОплаты
ordering Очередность counterparty_inn ПлательщикИНН counterparty_kpp ПлательщикКПП counterparty_bic ПлательщикБИК
counterparty_bank1 ПлательщикБанк1 counterparty_account ПлательщикСчет counterparty Плательщик counterparty_1
Плательщик1 counterparty_ras_account ПлательщикРасчСчет counterparty_cor_account ПлательщикКорсчет outcome_date
ДатаСписано payee_inn ПолучательИНН payee Получатель payee_account ПолучательСчет payee_kpp ПолучательКПП payee_bic
ПолучательБИК payee_bank1 ПолучательБанк1 payee_ras_account ПолучательРасчСчет payee_cor_account ПолучательКорсчет
income_date ДатаПоступило counterparty_2 Плательщик2 counterparty_3 Плательщик3 counterparty_4 Плательщик4
counterparty_bank2 ПлательщикБанк2 payee_1 Получатель1 payee_2 Получатель2 payee_3 Получатель3 payee_4 Получатель4
payee_bank2 ПолучательБанк2 payment_kind ВидПлатежа payment_deadline СрокПлатежа uin Код purpose_code КодНазПлатежа
purpose_1 НазначениеПлатежа1 purpose_2 НазначениеПлатежа2 purpose_3 НазначениеПлатежа3 purpose_4 НазначениеПлатежа4
purpose_5 НазначениеПлатежа5 purpose_6 НазначениеПлатежа6 compiler_status СтатусСоставителя kbk ПоказательКБК okato
ОКАТО tax_basis ПоказательОснования tax_period ПоказательПериода tax_number ПоказательНомера tax_date ПоказательДаты
tax_type ПоказательТипа""".split())] * 2))
DOCUMENT_ATTRS = tuple(DOC_KEYS)
INTERVAL_ATTRS = ("date_start", "date_end", "start_amount", "end_amount", "total_income", "total_expense")
interval_tuple = lambda i: tuple(getattr(i, n) for n in INTERVAL_ATTRS)  # noqa: E731
# In record order: the first one missing names the warning.
REQUIRED_KEYS = ("Номер СекцияДокумент Дата НазначениеПлатежа Сумма ПлательщикИНН ПлательщикБИК ПлательщикБанк1 "
                 "ПлательщикСчет ПолучательИНН ПолучательСчет ПолучательБИК ПолучательБанк1").split()
HEADER = {"ВерсияФормата": "1.03", "Кодировка": "Windows", "Получатель": "", "ДатаНачала": "01.03.2024"}
MINIMAL_DOC = {  # only the required keys; the type comes from the section line
    "Номер": "17", "Дата": "05.03.2024", "Сумма": "1500.00", "ПлательщикСчет": "40702810900000000001",
    "ПлательщикИНН": "7701000001", "ПлательщикБИК": "044525225", "ПлательщикБанк1": "ПАО Банк г. Москва",
    "ПолучательСчет": "40702810500000000002", "ПолучательИНН": "7702000002", "ПолучательБИК": "044525593",
    "ПолучательБанк1": "АО \"Банк\" г. Москва", "НазначениеПлатежа": "Оплата по счёту №42, без НДС"}
ACCOUNT = {"ДатаНачала": "01.03.2024", "ДатаКонца": "31.03.2024", "РасчСчет": "40702810900000000001",
           "НачальныйОстаток": "100000.00", "ВсегоПоступило": "1500.00", "ВсегоСписано": "250.50",
           "КонечныйОстаток": "101249.50"}


def doc(doc_type="Платежное поручение", base=MINIMAL_DOC, **changes):
    """The lines of a document section: `base` updated by `changes`, where None leaves a key out."""
    return [f"СекцияДокумент={doc_type}", *(f"{k}={v}" for k, v in {**base, **changes}.items() if v is not None),
            "КонецДокумента"]


def account(**changes):
    return ["СекцияРасчСчет", *doc(base=ACCOUNT, **changes)[1:-1], "КонецРасчСчет"]


def statement(*sections, header=HEADER, end=True):
    items = header.items() if isinstance(header, dict) else header
    lines = ["1CClientBankExchange", *(f"{k}={v}" for k, v in items), *(x for s in sections for x in s)]
    return "\n".join(lines + ["КонецФайла"] * end) + "\n"


def encode(text, encoding):
    bom = {"utf-8-bom": b"\xef\xbb\xbf", "utf-16le-bom": b"\xff\xfe"}.get(encoding, b"")
    return bom + text.encode({"utf-8-bom": "utf-8", "utf-16le-bom": "utf-16-le"}.get(encoding, encoding))


def snapshot(stmt):
    """Everything a Statement shows, as nested plain values."""
    return (stmt.encoding, list(stmt.header.items()),
            [(k, a.number, repr(a), [(interval_tuple(i), repr(i)) for i in a.intervals]) for k, a in
             stmt.accounts.items()], [(tuple(getattr(d, n) for n in DOCUMENT_ATTRS), repr(d)) for d in stmt.documents],
            stmt.warnings, repr(stmt))


def outcome(data, hooks=None):
    """("ok", snapshot) or ("error", type, args, detail) for one parse."""
    try:
        return ("ok", snapshot(mirtle_py.parse(data, hooks)))
    except mirtle_py.ParseError as e:
        d = e.__dict__.get("detail")
        return ("error", type(e), e.args, None if d is None else (type(d), *d.__getnewargs__()))


DETAILS = {getattr(mirtle_py, name): tuple(fields.split()) for name, fields in [  # detail class: its texts after lineno
    ("UnexpectedSection", "found context"), ("UnexpectedAttribute", "key value"), ("UnrecognizedLine", "line"),
    ("MissingField", "field context"), ("AccountParseError", "message"), ("DocumentParseError", "message"),
    ("HookError", "message")]}
