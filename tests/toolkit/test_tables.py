"""documents_table and intervals_table against mirtle_py's records."""

import datetime
import decimal

import pytest

pa = pytest.importorskip("pyarrow")

import mirtle  # noqa: E402
import mirtle_py  # noqa: E402
from conftest import SAMPLES, generated  # noqa: E402
from tables_support import (DOCUMENT_ATTRS, account, closing_lines, document, expected_documents,  # noqa: E402
                            expected_intervals, statement)

GENERATED = {f"{enc}-{nl}-seed{seed}": generated(seed, enc, nl, documents=300, accounts=3, periods=3)
             for seed, enc, nl in [(1, "utf-8", "lf"), (2, "cp1251", "crlf"), (3, "cp1251", "lf")]}
SOURCES = {**GENERATED, **{path.name: path.read_bytes() for path in SAMPLES}}


def amount_scale(table, column="amount"):
    return table.schema.field(column).type.scale


@pytest.mark.parametrize("data", SOURCES.values(), ids=SOURCES.keys())
class TestAgainstParse:
    def test_every_cell(self, data):
        table = mirtle.documents_table(data)
        assert table.column_names == [*DOCUMENT_ATTRS, "lineno"]
        rows = table.drop_columns(["lineno"]).to_pylist()
        assert rows == expected_documents(data)

    def test_amounts_share_the_largest_written_scale(self, data):
        table = mirtle.documents_table(data)
        written = [-decimal.Decimal(d.amount).as_tuple().exponent for d in mirtle_py.parse(data).documents]
        assert amount_scale(table) == max(written)
        assert {-a.as_tuple().exponent for a in table.column("amount").to_pylist()} == {max(written)}

    def test_lineno_is_the_closing_line(self, data):
        assert mirtle.documents_table(data).column("lineno").to_pylist() == closing_lines(data)

    def test_intervals(self, data):
        assert mirtle.intervals_table(data).to_pylist() == expected_intervals(data)

    def test_sources_and_consumers_agree(self, data, tmp_path):
        path = tmp_path / "s.txt"
        path.write_bytes(data)
        from mirtle import _native
        reference = mirtle.documents_table(data)
        assert mirtle.documents_table(str(path)).equals(reference)
        assert mirtle.documents_table(memoryview(bytearray(data))).equals(reference)
        exported = _native.documents(data)
        # Each export is independent: the same object serves several readers.
        assert pa.RecordBatchReader.from_stream(exported).read_all().equals(reference)
        assert pa.table(exported).equals(reference)
        assert exported.num_rows == reference.num_rows


def test_no_documents_gives_the_full_schema():
    table = mirtle.documents_table(statement(account()).encode())
    assert table.num_rows == 0
    assert table.column_names == [*DOCUMENT_ATTRS, "lineno"]
    types = {str(f.type) for f in table.schema}
    assert types == {"string", "date32[day]", "decimal128(38, 0)", "int64"}
    required = {f.name for f in table.schema if not f.nullable}
    assert required == {"doc_number", "doc_type", "doc_date", "amount", "purpose", "counterparty_inn",
                        "counterparty_bic", "counterparty_bank1", "counterparty_account", "payee_inn",
                        "payee_account", "payee_bic", "payee_bank1", "lineno"}
    intervals = mirtle.intervals_table(statement(document()).encode())
    assert intervals.num_rows == 0 and intervals.column_names[0] == "account"


AMOUNTS = [  # written amounts, the table's values, why
    (["1", "0.5", "-2.25"], ["1.00", "0.50", "-2.25"], "rescaled to the largest scale, exactly"),
    (["1.2e3", "15e-1"], ["1200.0", "1.5"], "exponent forms keep the scale they give"),
    (["-0.00", "7"], ["0.00", "7.00"], "zero has no sign"),
    (["79228162514264337593543950335", "0.000000001"],
     ["79228162514264337593543950335.000000000", "0.000000001"], "2^96-1 at scale 9 still fits 38 digits"),
    (["9999999999", "0.0000000000000000000000000001"],
     ["9999999999.0000000000000000000000000000", "0.0000000000000000000000000001"], "38 digits exactly"),
]


@pytest.mark.parametrize("written, values, why", AMOUNTS, ids=[a[2] for a in AMOUNTS])
def test_amounts(written, values, why):
    data = statement(*(document(Сумма=a) for a in written)).encode()
    assert mirtle.documents_table(data).column("amount").to_pylist() == [decimal.Decimal(v) for v in values]


def test_an_amount_beyond_38_digits_names_its_document():
    data = statement(document(Сумма="0.0000000001"), document(Номер="8", Сумма="79228162514264337593543950335"))
    with pytest.raises(ValueError, match=r'^document "8" closed at line \d+: an amount does not fit '
                                         r"decimal128\(38, 10\)$"):
        mirtle.documents_table(data.encode())
    data = statement(account(ВсегоПоступило="0.0000000001"),
                     account("2", ДатаНачала="02.03.2024", НачальныйОстаток="79228162514264337593543950335"))
    with pytest.raises(ValueError, match=r'^interval of account "2" starting 2024-03-02: an amount does not fit '):
        mirtle.intervals_table(data.encode())


DATES = [  # written date, days since 1970-01-01, why
    ("01.01.1970", 0, "the epoch"),
    ("29.02.2024", 19782, "a leap day"),
    ("01.03.1900", -25508, "1900 is no leap year"),
    ("01.01.0", -719528, "year 0 exists and is a leap year"),
    ("31.12.9999", 2932896, "the last four-digit year"),
    ("01.01.+262142", 95025872, "the latest year the reader accepts still fits date32"),  # 2142 + 650 eras
    ("01.01.-262143", -96465292, "and the earliest"),  # 1857 - 660 eras of 146097 days
]


@pytest.mark.parametrize("written, days, why", DATES, ids=[d[2] for d in DATES])
def test_dates(written, days, why):
    table = mirtle.documents_table(statement(document(Дата=written, ДатаСписано=written)).encode())
    for column in ("doc_date", "outcome_date"):
        assert table.column(column).cast(pa.int32()).to_pylist() == [days]
    assert table.column("income_date").to_pylist() == [None]


def test_days_agree_with_the_python_calendar():
    dates = [datetime.date(1, 1, 1) + datetime.timedelta(days=d) for d in range(0, 3_652_059, 9973)]
    data = statement(*(document(Дата=d.strftime("%d.%m.%Y").lstrip("0") if d.year >= 1000 else
                                f"{d.day}.{d.month}.{d.year}") for d in dates)).encode()
    assert mirtle.documents_table(data).column("doc_date").to_pylist() == dates


BAD_INPUTS = {  # input: why
    b"": "empty",
    b"   \n": "blank",
    b"not a statement\n": "no marker",
    statement(document()).encode()[:-12]: "unfinished",
    statement(document(), "garbage\n").encode(): "unrecognized line",
    statement(account(НачальныйОстаток=None)).encode(): "a bad account ends the parse",
    statement(document(), account(РасчСчет=None)).encode(): "missing account number",
    b"1CClientBankExchange\n\xff\xfe\x00garbage=\x80\n": "binary garbage",
}


@pytest.mark.parametrize("data", BAD_INPUTS, ids=BAD_INPUTS.values())
@pytest.mark.parametrize("build", [mirtle.documents_table, mirtle.intervals_table], ids=["documents", "intervals"])
def test_errors_are_those_of_parse(build, data):
    with pytest.raises(mirtle_py.ParseError) as expected:
        mirtle_py.parse(data)
    with pytest.raises(mirtle_py.ParseError) as raised:
        build(data)
    assert type(raised.value) is type(expected.value)
    assert repr(raised.value) == repr(expected.value)
    assert repr(getattr(raised.value, "detail", None)) == repr(getattr(expected.value, "detail", None))


def test_a_warning_leaves_the_document_out():
    data = statement(document(Номер="1"), document(Номер="2", Дата="31.02.2024"), document(Номер="3")).encode()
    assert mirtle.documents_table(data).column("doc_number").to_pylist() == ["1", "3"]


class TestHooks:
    def test_rows_follow_the_hooks(self):
        data = GENERATED["utf-8-lf-seed1"]
        seen = []

        def hook(section, attrs, header):
            seen.append(section)
            if section is mirtle_py.SectionType.Document:
                attrs["Сумма"] = attrs.get("Сумма", "0") + "5"
                attrs.pop("ПлательщикКПП", None)
        table = mirtle.documents_table(data, hooks=[hook])
        assert table.drop_columns(["lineno"]).to_pylist() == expected_documents(data, [hook])
        assert set(map(type, seen)) == {mirtle_py.SectionType}

    def test_a_failing_hook_raises_as_parse_does(self):
        def hook(section, attrs, header):
            raise KeyError("boom")
        data = statement(document()).encode()
        with pytest.raises(mirtle_py.SyntaxError) as raised:
            mirtle.documents_table(data, hooks=(hook,))
        assert repr(raised.value.detail) == 'HookError(lineno=16, message="KeyError: \'boom\'")'

    @pytest.mark.parametrize("hooks, error", [("abc", TypeError), (5, TypeError), ([None], mirtle_py.SyntaxError)])
    def test_bad_hooks(self, hooks, error):
        with pytest.raises(error):
            mirtle.documents_table(statement(document()).encode(), hooks=hooks)


def test_pandas_types():
    table = mirtle.documents_table(SOURCES["statement_utf8.txt"])
    frame = table.to_pandas()
    assert isinstance(frame["amount"].iloc[0], decimal.Decimal)
    assert type(frame["doc_date"].iloc[0]) is datetime.date
    assert frame["lineno"].dtype == "int64"
    assert frame["payment_deadline"].iloc[0] is None
    as_datetimes = table.to_pandas(date_as_object=False)
    assert str(as_datetimes["doc_date"].dtype) == "datetime64[ms]"
    assert list(as_datetimes["doc_date"].dt.date) == list(frame["doc_date"])


def test_missing_pyarrow_is_explained(monkeypatch):
    import mirtle.tables
    monkeypatch.setitem(__import__("sys").modules, "pyarrow", None)
    with pytest.raises(ImportError, match=r"^mirtle.documents_table needs pyarrow, which is not installed"):
        mirtle.tables.documents_table(b"")


def test_import_stays_light():
    import subprocess
    import sys
    code = "import sys, mirtle; print(sorted(m for m in ('pyarrow', 'pandas', 'dask') if m in sys.modules))"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True,
                         env={**__import__("os").environ, "PYTHONPATH": ":".join(sys.path)})
    assert out.stdout.strip() == "[]"
