"""mirtle xlsx read back with openpyxl and compared with mirtle_py's values;
the balance checks of `check --balances`, `show` and the workbook against
a computation of the test's own."""

import io
import json
import re
import subprocess
import sys

import pytest

from conftest import SRC, account, doc, run, statement

mirtle_py = pytest.importorskip("mirtle_py")
openpyxl = pytest.importorskip("openpyxl")

sys.path.insert(0, str(SRC / "tests/support"))
from export_model import check_accounts_sheet, check_documents_sheet, expected_balances  # noqa: E402

SAMPLES = sorted((SRC / "examples").glob("*.txt")) + sorted((SRC / "tests/core/data").glob("*.txt"))


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


def raw_sections(path):
    return [(s["kind"], s["start_line"], s["attributes"]) for s in raw_of(path)["sections"]]


def document_lines(path, stmt):
    """The closing line of each built document: every document section's, less those of warnings."""
    warned = {line for line, _ in stmt.warnings}
    return [s["end_line"] for s in raw_of(path)["sections"] if s["kind"] == "document" and s["end_line"] not in warned]


@pytest.mark.parametrize("names", [False, True], ids=["keys", "names"])
@pytest.mark.parametrize("path", SAMPLES + ["generated", "generated_utf8"], ids=lambda p: getattr(p, "name", p))
def test_xlsx_holds_the_module_values(tmp_path, generated, generated_utf8, path, names):
    path = {"generated": generated, "generated_utf8": generated_utf8}.get(path, path)
    stmt = mirtle_py.parse(path.read_bytes())
    out, wb = xlsx(path, tmp_path, *(["--names"] if names else []))
    assert wb.sheetnames == ["Documents", "Accounts", "Header", "Warnings"]
    check_documents_sheet(wb["Documents"], stmt, document_lines(path, stmt), names)
    check_accounts_sheet(wb["Accounts"], expected_balances(stmt, raw_sections(path)), names)
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
    expected = expected_balances(stmt, raw_sections(path))
    out = run("check", "--balances", path).stdout.decode().splitlines()
    marked = []
    for e in expected:
        if e["arithmetic_ok"] is False or e["continuity_ok"] is False:
            marked.append((e["lineno"], "error"))
        marked += [(e["lineno"], "warning")] * sum(bool(e[k]) for k in ("income_difference", "expense_difference"))
    reported = [(int(line.split(":")[1]), line.split(": ")[1]) for line in out if "account" in line]
    assert sorted(reported) == sorted(marked)


# --- the tool and the toolkit: one writer each ----------------------------------------------------------------

CSV_FLAGS = [[], ["--excel"], ["--accounts"], ["--accounts", "--excel"]]


@pytest.mark.parametrize("path", SAMPLES + ["generated", "generated_utf8"], ids=lambda p: getattr(p, "name", p))
def test_the_toolkit_writes_what_the_tool_writes(tmp_path, generated, generated_utf8, path):
    mirtle = pytest.importorskip("mirtle")
    path = {"generated": generated, "generated_utf8": generated_utf8}.get(path, path)
    stmt = mirtle.read(path)
    assert run("json", path).stdout == (mirtle.to_json(stmt) + "\n").encode()
    for flags in CSV_FLAGS:
        options = {"accounts": "--accounts" in flags, "excel": "--excel" in flags}
        assert run("csv", *flags, path).stdout == mirtle.to_csv(path, **options) == mirtle.to_csv(stmt, **options)
    # Both build the workbook with libxlsxwriter, perhaps not the same version: compared cell by cell.
    _, from_tool = xlsx(path, tmp_path)
    from_toolkit = openpyxl.load_workbook(io.BytesIO(mirtle.to_xlsx(path)))
    for sheet in from_tool.sheetnames:
        assert list(from_tool[sheet].values) == list(from_toolkit[sheet].values), sheet
