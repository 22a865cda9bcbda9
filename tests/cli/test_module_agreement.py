"""The tool and the Python module agree: `check` prints the module's exception
messages, `json` prints the module's values, for the same statements."""

import json

import pytest

from conftest import account, doc, run, shown, statement

mirtle_py = pytest.importorskip("mirtle_py")

DOCUMENT_ATTRS = [
    "doc_number", "doc_type", "doc_date", "amount", "purpose", "payment_type", "ordering", "counterparty_inn",
    "counterparty_kpp", "counterparty_bic", "counterparty_bank1", "counterparty_account", "counterparty",
    "counterparty_1", "counterparty_ras_account", "counterparty_cor_account", "outcome_date", "payee_inn", "payee",
    "payee_account", "payee_kpp", "payee_bic", "payee_bank1", "payee_ras_account", "payee_cor_account",
    "income_date", "counterparty_2", "counterparty_3", "counterparty_4", "counterparty_bank2", "payee_1", "payee_2",
    "payee_3", "payee_4", "payee_bank2", "payment_kind", "payment_deadline", "uin", "purpose_code", "purpose_1",
    "purpose_2", "purpose_3", "purpose_4", "purpose_5", "purpose_6", "compiler_status", "kbk", "okato",
    "tax_basis", "tax_period", "tax_number", "tax_date", "tax_type"]
INTERVAL_ATTRS = ["date_start", "date_end", "start_amount", "end_amount", "total_income", "total_expense"]

# Damaged statements, one per kind of error the reader reports.
DAMAGED = [
    (b"", "empty input"),
    (b" \t\r\n\x0c", "only white space"),
    (b"\xff\xfe1\x00C\x00", "UTF-16"),
    (b"1CClientBankExchange2\n", "wrong marker"),
    (statement(doc(), end=False), "no end"),
    (statement(doc()) + b"abc\n", "text after the end"),
    (statement(["Номер 5"]), "line without ="),
    (statement(["КонецДокумента"]), "end of a section never opened"),
    (statement(doc()[:-1], doc()), "section opened inside a section"),
    (statement(doc(), header={}) + b"x=y\n", "attribute after the end"),
    (statement(account(РасчСчет=None)), "account without number"),
    (statement(account(НачальныйОстаток="1,5")), "bad balance"),
    (statement(account(ДатаНачала="31.02.2024")), "impossible date"),
    (statement(["СекцияРасчСчет", "КонецФайла"]), "file ends in a section"),
    (statement(doc(Сумма="abc"), doc(Номер=None), doc(Дата="")), "documents that cannot be built"),
    (statement(["a\x9b[2J\u202eb\tc\rd\x1b\x7f\u2066 ё\xa0€"]), "control and bidi characters in the line"),
    (statement(doc(Сумма="1\x9b")), "a C1 control in a value"),
    ("1CClientBankExchange\nКлюч=Значение ё\nСекцияДокумент=Х\nНомер=1\nКонецДокумента\nКонецФайла\n"
     .encode("cp1251"), "cp1251"),
]


def expected_check_output(name, data):
    try:
        stmt = mirtle_py.parse(data)
    except mirtle_py.SyntaxError as e:
        return f"{name}:{e.detail.lineno}: error: {e}\n"
    except mirtle_py.ParseError as e:
        return f"{name}: error: {e}\n"
    return "".join(f"{name}:{line}: warning: {message}\n" for line, message in stmt.warnings)


@pytest.mark.parametrize("data,why", DAMAGED, ids=[d[1] for d in DAMAGED])
def test_check_prints_the_module_messages(write, data, why):
    path = write(data)
    result = run("check", path)
    expected = expected_check_output(str(path), data)
    assert result.stdout.decode() == "".join(shown(line) + "\n" for line in expected.split("\n")[:-1])


def as_plain(stmt):
    """The statement as the tool's JSON object, built from the module's values."""
    return {
        "encoding": stmt.encoding,
        "header": stmt.header,
        "accounts": {n: [{k: getattr(i, k) for k in INTERVAL_ATTRS} for i in a.intervals]
                     for n, a in stmt.accounts.items()},
        "documents": [{k: getattr(d, k) for k in DOCUMENT_ATTRS} for d in stmt.documents],
        "warnings": [{"lineno": line, "message": message} for line, message in stmt.warnings],
    }


LAYOUTS = [  # statements whose documents come before, between or without account sections
    (statement(doc(), account(), doc(Номер="2"), account(ДатаНачала="01.02.2024")), "accounts after documents"),
    (statement(doc(НазначениеПлатежа="СекцияРасчСчет"), account()), "the account keyword inside a value"),
    (statement(doc(), account(), account()).decode().encode("cp1251"), "windows-1251, repeated interval"),
    (statement(doc(Номер=None), doc(Сумма="1,5")), "only warnings"),
    (b"\xff\xfe" + statement(account(), doc(), account(ДатаНачала="01.02.2024")).decode().encode("utf-16-le"),
     "UTF-16, little-endian"),
    (b"\xfe\xff" + statement(doc(), account()).decode().encode("utf-16-be"), "UTF-16, big-endian"),
]


@pytest.mark.parametrize("data,why", LAYOUTS + [("generated", "generated")], ids=[x[1] for x in LAYOUTS] + ["gen"])
def test_json_is_the_module_statement(write, generated, data, why):
    path = generated if data == "generated" else write(data)
    expected = as_plain(mirtle_py.parse(path.read_bytes()))
    text = json.dumps(expected, ensure_ascii=False, separators=(",", ":")) + "\n"
    assert run("json", path).stdout.decode() == text

