"""to_json, to_csv, to_xlsx and balances: read back and compared with mirtle_py's values and with
computations of the test's own; the outputs (paths, files, bytes) and their failures."""

import csv
import io
import json
import os
import re
import stat
import sys
import threading

import pytest

import mirtle
import mirtle_py
from conftest import REPO, SAMPLES, generated
from mirtle._dict import DOCUMENT_FIELDS, INTERVAL_FIELDS

sys.path.insert(0, str(REPO / "tests/support"))
from export_model import check_accounts_sheet, check_documents_sheet, expected_balances  # noqa: E402

BOM = b"\xef\xbb\xbf"


def raw_sections(data):
    return [(s.kind, s.start_line, s.attributes) for s in mirtle.sections(data).sections]


def document_lines(data, stmt):
    """The closing line of each built document: every document section's, less those of warnings."""
    warned = {line for line, _ in stmt.warnings}
    return [end for kind, end in ((s.kind, s.end_line) for s in mirtle.sections(data).sections)
            if kind == "document" and end not in warned]


# --- damaged statements: each breaks one balance check of a generated statement -------------------------------

def replace_nth(text, key, n, new_value):
    """The n-th (0-based) "key=value" line given another value."""
    matches = list(re.finditer(rf"^{key}=(.*)$", text, flags=re.M))
    start, end = matches[n].span(1)
    return text[:start] + new_value + text[end:]


def drop_first_document(text):
    start = text.index("СекцияДокумент=")
    end = text.index("КонецДокумента", start) + len("КонецДокумента")
    return text[:start] + text[end:].lstrip("\r\n")


BREAKERS = {
    "as generated": lambda text: text,
    "closing off by a kopeck": lambda text: replace_nth(text, "КонечныйОстаток", 0, "0.01"),
    "the next opening not the closing": lambda text: replace_nth(text, "НачальныйОстаток", 1, "1.00"),
    "a document missing": drop_first_document,
    "no totals": lambda text: re.sub(r"^Всего(Поступило|Списано)=.*\r?\n", "", text, count=2, flags=re.M),
}


BALANCE_INPUTS = [pytest.param(name, encoding, make, id=f"{name}-{encoding}")
                  for name, make in sorted(BREAKERS.items()) for encoding in ("cp1251", "utf-8")]


@pytest.mark.parametrize("name,encoding,make", BALANCE_INPUTS)
def test_balances_agree_with_the_tests_sums(name, encoding, make):
    data = make(generated(11, encoding, documents=200, accounts=2, periods=3).decode(encoding)).encode(encoding)
    stmt = mirtle_py.parse(data)
    expected = expected_balances(stmt, raw_sections(data))
    assert expected, "the generated statement has intervals"
    for source, lined in ((data, True), (stmt, False)):
        rows = mirtle.balances(source)
        assert len(rows) == len(expected)
        for row, e in zip(rows, expected):
            assert row.account == e["account"]
            assert (row.date_start.isoformat(), row.date_end and row.date_end.isoformat()) == (e["date_start"],
                                                                                            e["date_end"])
            assert row.lineno == (e["lineno"] if lined else None)
            assert [row.opening, row.income, row.expense, row.closing] == e["amounts"]
            assert (row.arithmetic_ok, row.continuity_ok) == (e["arithmetic_ok"], e["continuity_ok"])
            for key in ("documents_income", "documents_expense", "income_difference", "expense_difference"):
                assert getattr(row, key) == e[key], key
    broken = {"closing off by a kopeck": ("arithmetic_ok", False), "the next opening not the closing":
              ("continuity_ok", False), "no totals": ("arithmetic_ok", None)}
    if name in broken:
        field, value = broken[name]
        assert any(getattr(row, field) is value for row in rows)


@pytest.mark.parametrize("path", SAMPLES, ids=lambda p: p.name)
def test_balances_of_the_samples(path):
    stmt = mirtle.read(path)
    expected = expected_balances(stmt, raw_sections(path))
    rows = mirtle.balances(path)
    assert [(r.lineno, r.arithmetic_ok, r.continuity_ok, r.income_difference, r.expense_difference) for r in rows] \
        == [(e["lineno"], e["arithmetic_ok"], e["continuity_ok"], e["income_difference"], e["expense_difference"])
            for e in expected]


def test_balances_name_a_date_outside_datetimes_range():
    text = ("1CClientBankExchange\nСекцияРасчСчет\nДатаНачала=01.01.0\nРасчСчет=1\nНачальныйОстаток=0\n"
            "КонецРасчСчет\nКонецФайла\n").encode()
    with pytest.raises(ValueError, match="0000-01-01"):
        mirtle.balances(text)


# --- JSON and CSV -------------------------------------------------------------------------------------------

def test_to_json_follows_a_changed_header():
    """The JSON is of the Statement object as it is now: its header dict may have been changed."""
    stmt = mirtle.read(SAMPLES[0])
    stmt.header["Программа"] = 'a "quoted"\nvalue'
    assert json.loads(mirtle.to_json(stmt))["header"]["Программа"] == 'a "quoted"\nvalue'


def csv_rows(out, excel):
    assert out.startswith(BOM) == excel
    text = out[len(BOM) if excel else 0:].decode("utf-8")
    assert "\n" not in text.replace("\r\n", "") or '"' in text  # CR LF between rows; bare LF only inside quotes
    return list(csv.reader(io.StringIO(text, newline=""), delimiter=";" if excel else ","))


def cells(values):
    return ["" if v is None else v for v in values]


@pytest.mark.parametrize("excel", [False, True], ids=["plain", "excel"])
@pytest.mark.parametrize("accounts", [False, True], ids=["documents", "accounts"])
def test_csv_reads_back_as_the_module_values(statement_bytes, accounts, excel):
    stmt = mirtle_py.parse(statement_bytes)
    out = mirtle.to_csv(statement_bytes, accounts=accounts, excel=excel)
    assert mirtle.to_csv(stmt, accounts=accounts, excel=excel) == out
    rows = csv_rows(out, excel)
    if accounts:
        assert rows[0] == ["account", *INTERVAL_FIELDS]
        assert rows[1:] == [[number, *cells(getattr(i, f) for f in INTERVAL_FIELDS)]
                            for number, acct in stmt.accounts.items() for i in acct.intervals]
    else:
        assert rows[0] == list(DOCUMENT_FIELDS)
        assert rows[1:] == [cells(getattr(d, f) for f in DOCUMENT_FIELDS) for d in stmt.documents]


# --- XLSX ---------------------------------------------------------------------------------------------------

@pytest.mark.parametrize("names", [False, True], ids=["keys", "names"])
@pytest.mark.parametrize("name,data", [(p.name, p.read_bytes) for p in SAMPLES] + [
    ("gen-cp1251", lambda: generated(7, "cp1251", documents=300)),
    ("gen-utf-8", lambda: generated(8, "utf-8", "lf", documents=300))], ids=lambda v: v if isinstance(v, str) else "")
def test_xlsx_holds_the_module_values(tmp_path, name, data, names):
    openpyxl = pytest.importorskip("openpyxl")
    data = data()
    stmt = mirtle_py.parse(data)
    from_bytes = tmp_path / "bytes.xlsx"
    assert mirtle.to_xlsx(data, from_bytes, names=names) is None
    returned = mirtle.to_xlsx(stmt, names=names)
    for out, lines, sections in ((from_bytes, document_lines(data, stmt), raw_sections(data)),
                                 (io.BytesIO(returned), None, None)):
        wb = openpyxl.load_workbook(out)
        assert wb.sheetnames == ["Documents", "Accounts", "Header", "Warnings"]
        check_documents_sheet(wb["Documents"], stmt, lines, names)
        check_accounts_sheet(wb["Accounts"], expected_balances(stmt, sections), names)
        assert list(wb["Header"].iter_rows(min_row=2, values_only=True)) == [
            (k, v or None) for k, v in stmt.header.items()]
        assert list(wb["Warnings"].iter_rows(min_row=2, values_only=True)) == list(stmt.warnings)


# --- where the bytes go ---------------------------------------------------------------------------------------

EXPORTERS = {
    "csv": lambda source, out=None: mirtle.to_csv(source, out),
    "xlsx": lambda source, out=None: mirtle.to_xlsx(source, out),
}


@pytest.fixture(params=sorted(EXPORTERS))
def export(request):
    return EXPORTERS[request.param]


@pytest.fixture
def sample():
    return SAMPLES[0].read_bytes()


def test_outputs_get_the_same_bytes(export, sample, tmp_path):
    expected = export(sample)
    path = tmp_path / "out"
    export(sample, path)
    export(sample, str(path))  # over the first, as a str
    buffered = io.BytesIO()
    export(sample, buffered)
    with open(tmp_path / "raw", "wb", buffering=0) as raw:
        export(sample, raw)
    assert path.read_bytes() == buffered.getvalue() == (tmp_path / "raw").read_bytes() == expected
    assert sorted(p.name for p in tmp_path.iterdir()) == ["out", "raw"]  # nothing left beside them


class ShortWrites(io.RawIOBase):
    """A raw file that takes at most 1000 bytes a call."""

    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, block):
        taken = bytes(block[:1000])
        self.data += taken
        return len(taken)


def test_a_raw_file_taking_part_of_a_block_gets_all(export, sample):
    file = ShortWrites()
    export(sample, file)
    assert bytes(file.data) == export(sample)


@pytest.mark.skipif(os.name == "nt", reason="POSIX modes")
def test_a_replaced_file_keeps_its_mode_and_a_link_its_target(export, sample, tmp_path):
    target = tmp_path / "target"
    target.write_bytes(b"old")
    target.chmod(0o640)
    link = tmp_path / "link"
    link.symlink_to(target)
    export(sample, link)
    assert link.is_symlink() and target.read_bytes() == export(sample)
    assert stat.S_IMODE(target.stat().st_mode) == 0o640
    fresh = tmp_path / "fresh"
    export(sample, fresh)
    umask = os.umask(0)
    os.umask(umask)
    assert stat.S_IMODE(fresh.stat().st_mode) == 0o666 & ~umask


@pytest.mark.skipif(not hasattr(os, "mkfifo"), reason="FIFOs")
def test_a_fifo_is_written_in_place(export, sample, tmp_path):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    got = []
    reader = threading.Thread(target=lambda: got.append(fifo.read_bytes()))
    reader.start()
    export(sample, fifo)
    reader.join(timeout=30)
    assert got == [export(sample)] and stat.S_ISFIFO(fifo.stat().st_mode)


def test_a_failure_leaves_the_output_alone(export, sample, tmp_path):
    out = tmp_path / "kept"
    out.write_bytes(b"kept")
    damaged = sample[:len(sample) // 2]  # cut off in a document
    with pytest.raises(mirtle_py.ParseError) as raised:
        export(damaged, out)
    with pytest.raises(type(raised.value)) as again:
        mirtle_py.parse(damaged)
    assert str(raised.value) == str(again.value)
    assert out.read_bytes() == b"kept" and sorted(p.name for p in tmp_path.iterdir()) == ["kept"]


class Refusing(io.BytesIO):
    def write(self, block):
        raise OSError(28, "No space left on device")


def test_an_error_of_the_file_comes_through(export, sample, tmp_path):
    with pytest.raises(OSError, match="No space left"):
        export(sample, Refusing())
    with pytest.raises(OSError, match="No space left"):
        export(mirtle_py.parse(sample), Refusing())


@pytest.mark.parametrize("out,error", [
    (io.StringIO(), "open it in binary mode"),
    (42, "out must be a path"),
], ids=["text file", "number"])
def test_outputs_refused(export, sample, out, error):
    with pytest.raises(TypeError, match=error):
        export(sample, out)


@pytest.mark.parametrize("call", [
    lambda: mirtle.to_json(b"bytes"),
    lambda: mirtle.to_csv(42),
    lambda: mirtle.to_xlsx(42),
    lambda: mirtle.balances(3.5),
], ids=["json of bytes", "csv of a number", "xlsx of a number", "balances of a float"])
def test_sources_refused(call):
    with pytest.raises(TypeError):
        call()
