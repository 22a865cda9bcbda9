"""mirtle xlsx read back with openpyxl and compared with mirtle_py's values;
the balance checks of `check --balances`, `show` and the workbook against
a computation of the test's own."""

import datetime as dt
import json
import re
import subprocess
import sys
from decimal import Decimal

import pytest

from conftest import SRC, account, doc, run, statement

mirtle_py = pytest.importorskip("mirtle_py")
openpyxl = pytest.importorskip("openpyxl")

from test_module_agreement import DOCUMENT_ATTRS  # noqa: E402

SAMPLES = sorted((SRC / "examples").glob("*.txt")) + sorted((SRC / "tests/core/data").glob("*.txt"))
DATES = {"doc_date", "outcome_date", "income_date"}
ACCOUNT_HEADERS = ["РасчСчет", "ДатаНачала", "ДатаКонца", "Строка", "НачальныйОстаток", "ВсегоПоступило",
                   "ВсегоСписано", "КонечныйОстаток", "arithmetic_ok", "continuity_ok", "documents_income",
                   "documents_expense", "income_difference", "expense_difference"]
ACCOUNT_NAMES = ["account", "date_start", "date_end", "lineno", "opening", "income", "expense", "closing",
                 *ACCOUNT_HEADERS[8:]]


@pytest.fixture(scope="session")
def generated_utf8(tmp_path_factory):
    path = tmp_path_factory.mktemp("gen") / "gen-utf8.txt"
    subprocess.run([sys.executable, SRC / "bench/gen_statement.py", "--documents", "1200", "--encoding", "utf-8",
                    "--newline", "lf", "--seed", "5", "-o", path], check=True)
    return path


def xlsx(path, tmp_path, *flags):
    out = tmp_path / (path.stem + ".xlsx")
    result = run("xlsx", path, "-o", out, *flags)
    assert result.returncode == 0, result.stderr
    assert result.stdout == b""
    return out, openpyxl.load_workbook(out)


def raw_of(path):
    return json.loads(run("json", "--raw", path).stdout)


def document_lines(path, stmt):
    """The closing line of each built document: every document section's, less those of warnings."""
    warned = {line for line, _ in stmt.warnings}
    return [s["end_line"] for s in raw_of(path)["sections"] if s["kind"] == "document" and s["end_line"] not in warned]


def statement_date(iso):
    """An ISO date as the statement writes it, dd.mm.yyyy."""
    year, month, day = iso.rsplit("-", 2)
    return f"{day}.{month}.{year}"


def check_date(cell, iso):
    """A date within Excel's calendar is a date cell shown dd.mm.yyyy; any other stays text."""
    if iso is None:
        assert cell.value is None
        return
    year = int(iso.rsplit("-", 2)[0])
    if 1900 <= year <= 9999:
        assert cell.value == dt.datetime.combine(dt.date.fromisoformat(iso), dt.time())
        assert cell.number_format == "dd.mm.yyyy"
    else:
        assert cell.value == statement_date(iso)


def check_amount(cell, text):
    """A number that gives back the amount at its scale, shown with its scale and grouped thousands; else the
    amount's text, and then only where no double gives it back exactly as the file stores numbers."""
    if text is None:
        assert cell.value is None
        return
    scale = len(text.partition(".")[2])
    if isinstance(cell.value, str):
        assert cell.value == text
        value = float(text)
        assert f"{value:.{scale}f}" != text or float(f"{value:.16G}") != value
    else:
        assert isinstance(cell.value, (int, float)) and not isinstance(cell.value, bool)
        assert f"{cell.value:.{scale}f}" == text
        assert cell.number_format == "#,##0" + ("." + "0" * scale if scale else "")


def check_documents_sheet(ws, stmt, lines, names):
    rows = list(ws.iter_rows())
    keys = [c.value for c in rows[0]]
    # The file's keys are checked by test_xlsx_headers_are_the_file_keys.
    assert keys == (DOCUMENT_ATTRS + ["lineno"] if names else keys[:53] + ["Строка"])
    assert len(rows) == len(stmt.documents) + 1
    assert ws.freeze_panes == "A2" and ws.auto_filter.ref == f"A1:BB{len(rows)}"
    for row, document, line in zip(rows[1:], stmt.documents, lines):
        for cell, attr in zip(row, DOCUMENT_ATTRS):
            value = getattr(document, attr)
            if attr in DATES:
                check_date(cell, value)
            elif attr == "amount":
                check_amount(cell, value)
            else:  # an empty text leaves the cell empty, as an absent one does
                assert cell.value == (value or None)
        assert row[53].value == line


# --- the balance checks, computed here ------------------------------------------------------------------------

def next_day(iso):
    return (dt.date.fromisoformat(iso) + dt.timedelta(days=1)).isoformat()


def expected_balances(path, stmt):
    """One row per interval in the module's account order: the checks made with Decimal, lines from the raw
    sections (a repeated interval named by its first section)."""
    first_line = {}
    for s in raw_of(path)["sections"]:
        if s["kind"] == "account":
            values = {k: v for _, k, v in s["attributes"]}
            key = (values.get("РасчСчет"), values.get("ДатаНачала"), values.get("ДатаКонца") or None,
                   *(Decimal(values[k].replace(" ", "")) if values.get(k) else None
                     for k in ("НачальныйОстаток", "ВсегоПоступило", "ВсегоСписано", "КонечныйОстаток")))
            first_line.setdefault(key, s["start_line"])
    rows = []
    for number, acct in stmt.accounts.items():
        previous = None
        for i in acct.intervals:
            amounts = [Decimal(x) if x is not None else None
                       for x in (i.start_amount, i.total_income, i.total_expense, i.end_amount)]
            opening, income, expense, closing = amounts
            key = (number, statement_date(i.date_start), statement_date(i.date_end) if i.date_end else None, *amounts)
            within = (lambda d, i=i: d is not None and i.date_start <= d and (i.date_end is None or d <= i.date_end))
            credited = sum((Decimal(d.amount) for d in stmt.documents
                            if d.payee_account == number and within(d.income_date)), Decimal(0))
            debited = sum((Decimal(d.amount) for d in stmt.documents
                           if d.counterparty_account == number and within(d.outcome_date)), Decimal(0))
            touches = previous is not None and previous.date_end and next_day(previous.date_end) == i.date_start \
                and previous.end_amount is not None
            rows.append({
                "account": number, "date_start": i.date_start, "date_end": i.date_end,
                "lineno": first_line[key],
                "arithmetic_ok": None if None in amounts else opening + income - expense == closing,
                "continuity_ok": Decimal(previous.end_amount) == opening if touches else None,
                "documents_income": credited, "documents_expense": debited,
                "income_difference": None if income is None else income - credited,
                "expense_difference": None if expense is None else expense - debited,
                "amounts": amounts})
            previous = i
    return rows


def check_accounts_sheet(ws, expected, names):
    rows = list(ws.iter_rows())
    assert [c.value for c in rows[0]] == (ACCOUNT_NAMES if names else ACCOUNT_HEADERS)
    assert len(rows) == len(expected) + 1 and ws.freeze_panes == "A2"
    for row, e in zip(rows[1:], expected):
        assert row[0].value == e["account"]
        check_date(row[1], e["date_start"])
        check_date(row[2], e["date_end"])
        assert row[3].value == e["lineno"]
        for cell, amount in zip(row[4:8], e["amounts"]):
            assert (cell.value is None) == (amount is None)
            if amount is not None:
                assert Decimal(str(cell.value)) == amount
        assert (row[8].value, row[9].value) == (e["arithmetic_ok"], e["continuity_ok"])
        for cell, key in zip(row[10:14], ["documents_income", "documents_expense", "income_difference",
                                          "expense_difference"]):
            assert (None if cell.value is None else Decimal(str(cell.value))) == e[key]
    assert len(ws._charts) == (1 if expected else 0)


@pytest.mark.parametrize("names", [False, True], ids=["keys", "names"])
@pytest.mark.parametrize("path", SAMPLES + ["generated", "generated_utf8"], ids=lambda p: getattr(p, "name", p))
def test_xlsx_holds_the_module_values(tmp_path, generated, generated_utf8, path, names):
    path = {"generated": generated, "generated_utf8": generated_utf8}.get(path, path)
    stmt = mirtle_py.parse(path.read_bytes())
    out, wb = xlsx(path, tmp_path, *(["--names"] if names else []))
    assert wb.sheetnames == ["Documents", "Accounts", "Header", "Warnings"]
    check_documents_sheet(wb["Documents"], stmt, document_lines(path, stmt), names)
    check_accounts_sheet(wb["Accounts"], expected_balances(path, stmt), names)
    header = list(wb["Header"].iter_rows(values_only=True))
    assert header[1:] == [(k, v or None) for k, v in stmt.header.items()]
    warnings = list(wb["Warnings"].iter_rows(values_only=True))
    assert warnings[1:] == list(stmt.warnings)
    # The same statement gives the same bytes.
    again = tmp_path / "again.xlsx"
    assert run("xlsx", path, "-o", again, *(["--names"] if names else [])).returncode == 0
    assert again.read_bytes() == out.read_bytes()


LIMITS = [  # (amount or date field, value, why)
    ("Сумма", "1234567890123.45", "15 significant digits: a number"),
    ("Сумма", "12345678901234.56", "16 digits the double gives back: a number"),
    ("Сумма", "1234567890123456.7", "17 digits: text"),
    ("Сумма", "98765432109876543210.12", "22 digits: text"),
    ("Сумма", "0.000000059604644775390625", "2^-24: its 16-digit form reads back as another double: text"),
    ("Сумма", "1.5e3", "exponent form, scale 0"),
    ("Сумма", "-0.0001", "negative, scale 4"),
    ("Дата", "31.12.1899", "the day before Excel's calendar: text"),
    ("Дата", "01.01.0001", "year 1: text"),
    ("Дата", "01.01.1900", "Excel's first day"),
    ("Дата", "28.02.1900", "before the day Excel's calendar adds"),
    ("Дата", "01.03.1900", "after it"),
    ("ДатаСписано", "31.12.9999", "Excel's last day"),
    ("ДатаПоступило", "15.07.1850", "an optional date before 1900: text"),
]


@pytest.mark.parametrize("key,value,why", LIMITS, ids=[w for *_, w in LIMITS])
def test_xlsx_cells_at_the_limits(write, tmp_path, key, value, why):
    path = write(statement(doc(**{key: value})))
    stmt = mirtle_py.parse(path.read_bytes())
    _, wb = xlsx(path, tmp_path)
    check_documents_sheet(wb["Documents"], stmt, document_lines(path, stmt), False)


def test_xlsx_headers_are_the_file_keys(write, tmp_path):
    """Each text column's header is the key that fills it: a document giving every such key a value of its own
    shows each value under its key."""
    _, wb = xlsx(write(statement(doc())), tmp_path)
    keys = [c.value for c in next(wb["Documents"].iter_rows())][:53]
    assert len(set(keys)) == 53 and {"Номер", "Дата", "Сумма", "НазначениеПлатежа", "ДатаСписано"} <= set(keys)
    typed = {"СекцияДокумент", "Дата", "Сумма", "ДатаСписано", "ДатаПоступило"}
    values = {k: f"v {k}" for k in keys if k not in typed}
    _, wb = xlsx(write(statement(doc(**values))), tmp_path)
    row = [c.value for c in list(wb["Documents"].iter_rows())[1]]
    assert {k: v for k, v in zip(keys, row) if k in values} == values
    assert row[keys.index("СекцияДокумент")] == "Платежное поручение"


def test_xlsx_cuts_a_text_longer_than_a_cell_with_a_note(write, tmp_path):
    """A cell holds 32,767 characters: the rest is cut, and the Warnings sheet says so in line order."""
    data = statement(doc(Номер=None), doc(НазначениеПлатежа="ё" * 40000), doc(Номер=None))
    path = write(data)
    stmt = mirtle_py.parse(data)
    _, wb = xlsx(path, tmp_path)
    assert wb["Documents"]["E2"].value == "ё" * 32767
    (first, _), (second, _) = stmt.warnings
    line = document_lines(path, stmt)[0]
    assert list(wb["Warnings"].iter_rows(min_row=2, values_only=True)) == [
        (first, "missing field `Номер`"), (line, "the value of НазначениеПлатежа is cut to 32767 characters"),
        (second, "missing field `Номер`")]


def test_xlsx_errors_leave_the_output_alone(write, tmp_path):
    out = tmp_path / "kept.xlsx"
    out.write_bytes(b"before")
    path = write(statement(["abc"]))
    result = run("xlsx", path, "-o", out)
    assert (result.returncode, result.stderr.decode()) == (1, f"{path}:6: error: Unrecognized line: 'abc'\n")
    assert out.read_bytes() == b"before" and sorted(p.name for p in tmp_path.iterdir()) == ["kept.xlsx", path.name]
    assert run("xlsx", path).returncode == 2  # -o is required
    result = run("xlsx", write(statement(doc())), "-o", tmp_path / "missing" / "x.xlsx")
    assert result.returncode == 1 and b"No such file or directory" in result.stderr


def test_xlsx_to_standard_output(write, tmp_path):
    path = write(statement(doc(), account()))
    result = run("xlsx", path, "-o", "-")
    file, _ = xlsx(path, tmp_path)
    assert result.returncode == 0 and result.stdout == file.read_bytes()


# --- check --balances and show ---------------------------------------------------------------------------------

CREDIT = {"ПолучательСчет": "40702810900000000001", "ПлательщикСчет": "40702810500000000002",
          "ДатаПоступило": "05.03.2024", "Сумма": "1500.00"}
DEBIT = {"ДатаСписано": "06.03.2024", "Сумма": "250.50"}
APRIL = {"ДатаНачала": "01.04.2024", "ДатаКонца": "30.04.2024", "НачальныйОстаток": "101249.50",
         "ВсегоПоступило": "0", "ВсегоСписано": "0", "КонечныйОстаток": "101249.50"}
WHERE = "account 40702810900000000001, {}"
MARCH, APRIL_PERIOD = "01.03.2024–31.03.2024", "01.04.2024–30.04.2024"

BALANCES = [  # (sections, [(account section index, severity, message)], show statuses, why)
    ([account(), doc(**CREDIT), doc(**DEBIT)], [], ["ok"], "sound"),
    ([account(), account(**APRIL), doc(**CREDIT), doc(**DEBIT)], [], ["ok", "ok"], "two periods that follow on"),
    ([account(КонечныйОстаток="101249.00"), doc(**CREDIT), doc(**DEBIT)],
     [(0, "error", "НачальныйОстаток 100000.00 + ВсегоПоступило 1500.00 - ВсегоСписано 250.50 = 101249.50, "
                   "not КонечныйОстаток 101249.00")], ["does not add up"], "arithmetic"),
    ([account(), account(**{**APRIL, "НачальныйОстаток": "101000.00", "КонечныйОстаток": "101000.00"}),
      doc(**CREDIT), doc(**DEBIT)],
     [(1, "error", "НачальныйОстаток 101000.00 is not the previous period's КонечныйОстаток 101249.50")],
     ["ok", "does not follow on"], "continuity"),
    ([account(), account(**{**APRIL, "ДатаНачала": "02.04.2024", "НачальныйОстаток": "7", "КонечныйОстаток": "7"}),
      doc(**CREDIT), doc(**DEBIT)], [], ["ok", "ok"], "a gap between periods: continuity not checked"),
    ([account(), doc(**CREDIT)],
     [(0, "warning", "ВсегоСписано 250.50, but the documents debited from it sum to 0.00 (difference 250.50)")],
     ["documents differ"], "a document missing"),
    ([account(), doc(**CREDIT), doc(**DEBIT), doc(**{**CREDIT, "ДатаПоступило": "01.04.2024"})], [], ["ok"],
     "a document credited after the period"),
    ([account(), doc(**CREDIT), doc(**{**CREDIT, "Сумма": "0.5"}), doc(**DEBIT)],
     [(0, "warning", "ВсегоПоступило 1500.00, but the documents credited to it sum to 1500.50 (difference -0.50)")],
     ["documents differ"], "a document too many"),
    ([account(НачальныйОстаток="0.1", ВсегоПоступило="0.2", ВсегоСписано="0", КонечныйОстаток="0.3")],
     [(0, "warning", "ВсегоПоступило 0.2, but the documents credited to it sum to 0.0 (difference 0.2)")],
     ["documents differ"], "decimal arithmetic: 0.1 + 0.2 is 0.3"),
    ([account(ВсегоПоступило=None), doc(**DEBIT)], [], ["not checked"], "no income total: nothing to check"),
    ([account(КонечныйОстаток="1"), account(КонечныйОстаток="1"), doc(**CREDIT), doc(**DEBIT)],
     [(0, "error", "НачальныйОстаток 100000.00 + ВсегоПоступило 1500.00 - ВсегоСписано 250.50 = 101249.50, "
                   "not КонечныйОстаток 1")], ["does not add up"], "a repeat: reported once, at its first section"),
]


def account_lines(data):
    lines = data.decode().split("\n")
    return [n + 1 for n, line in enumerate(lines) if line == "СекцияРасчСчет"]


@pytest.mark.parametrize("sections,findings,statuses,why", BALANCES, ids=[b[-1] for b in BALANCES])
def test_check_balances(write, sections, findings, statuses, why):
    data = statement(*sections)
    path = write(data)
    starts = account_lines(data)
    periods = [MARCH, APRIL_PERIOD]
    expected = "".join(f"{path}:{starts[i]}: {severity}: {WHERE.format(periods[i])}: {message}\n"
                       for i, severity, message in findings)
    result = run("check", "--balances", path)
    assert result.stdout.decode() == expected
    errors = any(severity == "error" for _, severity, _ in findings)
    assert result.returncode == (1 if errors else 0)
    assert run("check", "--balances", "--strict", path).returncode == (1 if findings else 0)
    assert run("check", path).stdout == b""  # without --balances nothing is checked
    shown = [line.rsplit("  ", 1)[1] for line in run("show", path).stdout.decode().splitlines()
             if re.match(r"  \d\d\.\d\d\.\d{4}–", line)]
    assert shown == statuses


def test_check_balances_in_line_order_with_the_warnings(write):
    """Balance findings and the reader's warnings come in line order."""
    data = statement(doc(Номер=None), account(КонечныйОстаток="1"), doc(Номер=None))
    path = write(data)
    lines = run("check", "--balances", path).stdout.decode().splitlines()
    assert [int(line.split(":")[1]) for line in lines] == sorted(int(line.split(":")[1]) for line in lines)
    assert len(lines) == 5 and sum(": error: " in line for line in lines) == 1


@pytest.mark.parametrize("path", SAMPLES + ["generated"], ids=lambda p: getattr(p, "name", p))
def test_check_balances_agrees_with_the_tests_sums(tmp_path, generated, path):
    """check names each interval the sums made here find wrong, at its line, with its severity."""
    path = generated if path == "generated" else path
    stmt = mirtle_py.parse(path.read_bytes())
    expected = expected_balances(path, stmt)
    out = run("check", "--balances", path).stdout.decode().splitlines()
    marked = []
    for e in expected:
        if e["arithmetic_ok"] is False or e["continuity_ok"] is False:
            marked.append((e["lineno"], "error"))
        marked += [(e["lineno"], "warning")] * sum(bool(e[k]) for k in ("income_difference", "expense_difference"))
    reported = [(int(line.split(":")[1]), line.split(": ")[1]) for line in out if "account" in line]
    assert sorted(reported) == sorted(marked)
