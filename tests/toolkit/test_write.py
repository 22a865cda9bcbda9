"""mirtle.write and mirtle.write_documents: exact round trips, and refusals that name the place."""

import datetime
import decimal
from decimal import Decimal

import mirtle_py
import pytest

import mirtle

from conftest import SAMPLES, other_digits
from tables_support import document, statement

FORMATS = [(e, n) for e in ("cp1251", "utf-8") for n in ("\r\n", "\n")]
FORMAT_IDS = [f"{e}-{'crlf' if n == chr(13) + chr(10) else 'lf'}" for e, n in FORMATS]


def records(stmt):
    return stmt.documents, list(stmt.accounts.values()), list(stmt.accounts)


def without_encoding(pairs):
    return [(k, v) for k, v in pairs if k != "Кодировка"]


@pytest.mark.parametrize("encoding, newline", FORMATS, ids=FORMAT_IDS)
def test_statement_round_trip(statement_bytes, encoding, newline):
    stmt = mirtle_py.parse(statement_bytes)
    out = mirtle.write(stmt, encoding, newline, update_encoding_header=True)
    back = mirtle_py.parse(out)
    assert records(back) == records(stmt) and back.warnings == []
    assert without_encoding(back.header.items()) == without_encoding(stmt.header.items())
    assert back.encoding == encoding and (b"\r\n" in out) == (newline == "\r\n")
    assert mirtle.write(back, encoding, newline) == out


@pytest.mark.parametrize("encoding, newline", FORMATS, ids=FORMAT_IDS)
def test_stream_round_trip(statement_bytes, encoding, newline):
    def lines(s):
        return (without_encoding((k, v) for _, k, v in s.header),
                [(x.kind, x.doc_type, [(k, v) for _, k, v in x.attributes]) for x in s.sections])

    s = mirtle.sections(statement_bytes)
    out = mirtle.write(s, encoding, newline, update_encoding_header=True)
    again = mirtle.sections(out)
    assert lines(again) == lines(s) and again.encoding == encoding
    assert mirtle.write(again, encoding, newline) == out




def test_kodirovka_naming_another_encoding_is_refused_unless_asked():
    stmt = mirtle_py.parse(SAMPLES[0].read_bytes())  # Кодировка=Windows
    assert stmt.header["Кодировка"] == "Windows"
    with pytest.raises(mirtle.WriteError) as info:
        mirtle.write(stmt, "utf-8")
    assert info.value.key == "Кодировка" and info.value.section is None
    assert mirtle_py.parse(mirtle.write(stmt, "utf-8", update_encoding_header=True)).header["Кодировка"] == "UTF-8"
    assert mirtle_py.parse(mirtle.write(stmt)).header["Кодировка"] == "Windows"


def test_a_statement_whose_documents_all_failed_is_refused():
    text = ("1CClientBankExchange\nСекцияДокумент=Платежное поручение\nНомер=1\nКонецДокумента\n"
            "КонецФайла\n")
    stmt = mirtle_py.parse(text)
    assert stmt.warnings and not stmt.documents
    with pytest.raises(mirtle.WriteError):
        mirtle.write(stmt)


@pytest.mark.parametrize("encoding, newline, error", [
    ("koi8-r", "\n", "encoding"), ("utf-16", "\n", "encoding"), ("cp1251", "\r", "newline"),
    ("cp1251", "", "newline")])
def test_options_are_checked(encoding, newline, error):
    with pytest.raises(ValueError, match=error):
        mirtle.write(mirtle_py.parse(SAMPLES[1].read_bytes()), encoding, newline)




def test_changed_statement_containers_are_checked():
    stmt = mirtle_py.parse(SAMPLES[1].read_bytes())
    stmt.documents.append("not a document")
    with pytest.raises(TypeError, match=r"documents\[\d+\]"):
        mirtle.write(stmt, "utf-8")


# --- write_documents ---------------------------------------------------------------------------------------------

ORDER = {
    "doc_number": "17", "doc_date": datetime.date(2024, 3, 5), "amount": Decimal("1500.00"),
    "purpose": "Оплата по счёту №42, без НДС", "counterparty_inn": "7701000001", "counterparty_bic": "044525225",
    "counterparty_bank1": "ПАО Банк г. Москва", "counterparty_account": "40702810900000000001",
    "payee_inn": "7702000002", "payee_account": "40702810500000000002", "payee_bic": "044525593",
    "payee_bank1": "АО «Банк» г. Москва", "payee_kpp": "", "ordering": "5",
}


@pytest.mark.parametrize("encoding, newline", FORMATS, ids=FORMAT_IDS)
def test_documents_of_statements_are_written_back_exactly(statement_bytes, encoding, newline):
    stmt = mirtle_py.parse(statement_bytes)
    for typed in (False, True):
        docs = mirtle.to_dict(stmt, typed=typed)["documents"]
        back = mirtle_py.parse(mirtle.write_documents(docs, encoding=encoding, newline=newline))
        assert back.documents == stmt.documents and back.warnings == [] and not back.accounts


def test_a_payment_order_from_plain_data():
    out = mirtle.write_documents([ORDER, {**ORDER, "doc_number": "18", "doc_type": "Платежное требование"}])
    text = out.decode("cp1251")
    assert text.startswith("1CClientBankExchange\r\nВерсияФормата=1.03\r\nКодировка=Windows\r\n"
                           "Документ=Платежное поручение\r\nДокумент=Платежное требование\r\n"
                           "СекцияДокумент=Платежное поручение\r\nНомер=17\r\n")
    assert "ПолучательКПП=\r\n" in text and text.endswith("КонецДокумента\r\nКонецФайла\r\n")
    back = mirtle_py.parse(out)
    assert [(d.doc_number, d.doc_type, d.doc_date, d.amount, d.payee_kpp, d.payee) for d in back.documents] == [
        ("17", "Платежное поручение", "2024-03-05", "1500.00", "", None),
        ("18", "Платежное требование", "2024-03-05", "1500.00", "", None)]


@pytest.mark.parametrize("header, expected", [
    ({"ВерсияФормата": "1.03"}, {"ВерсияФормата": "1.03"}),
    ([("Документ", "А"), ("Документ", "Б")], {"Документ": "Б"}),
    ([], {}),
], ids=["mapping", "repeated keys", "empty"])
def test_the_header_is_written_as_given(header, expected):
    assert mirtle_py.parse(mirtle.write_documents([ORDER], header)).header == expected


def test_file_keys_and_text_values_are_accepted():
    by_key = {"Номер": "1", "Дата": "05.03.2024", "Сумма": "10", **{k: v for k, v in ORDER.items() if k not in (
        "doc_number", "doc_date", "amount")}}
    (doc,) = mirtle_py.parse(mirtle.write_documents([by_key])).documents
    assert (doc.doc_number, doc.doc_date, doc.amount) == ("1", "2024-03-05", "10")


@pytest.mark.parametrize("changes, error, words", [
    ({"doc_number": None}, ValueError, "document 1: missing required field 'doc_number'"),
    ({"sum": "1"}, ValueError, "document 1: unknown field 'sum'"),
    ({"Номер": "2"}, ValueError, "document 1: field 'doc_number' given twice"),
    ({"amount": 1.5}, TypeError, "document 1, field 'amount': expected decimal.Decimal"),
    ({"amount": "1,50"}, ValueError, "document 1, field 'amount'"),
    ({"amount": Decimal("NaN")}, ValueError, "document 1, field 'amount'"),
    ({"amount": Decimal("1e-29")}, ValueError, "more than 28 decimal places"),
    ({"amount": Decimal(2**96)}, ValueError, "too large"),
    ({"doc_date": "31.02.2024"}, ValueError, "document 1, field 'doc_date'"),
    ({"doc_date": datetime.datetime(2024, 1, 1)}, TypeError, "document 1, field 'doc_date'"),
    ({"purpose": 5}, TypeError, "document 1, field 'purpose': expected str"),
    ({"purpose": "две\nстроки"}, mirtle.WriteError, "document 1, field 'purpose'"),
    ({"purpose": " пробел"}, mirtle.WriteError, "document 1, field 'purpose'"),
    ({"payee": "100 ₽"}, mirtle.WriteError, "document 1, field 'payee'"),
], ids=["missing", "unknown", "twice", "float amount", "comma amount", "NaN", "scale", "too large", "bad date",
        "datetime", "int text", "line feed", "space", "no windows-1251 form"])
def test_bad_documents_name_their_position_and_field(changes, error, words):
    with pytest.raises(error) as info:
        mirtle.write_documents([ORDER, {**ORDER, **changes}])
    assert str(info.value).startswith(words) or words in str(info.value)


def test_the_rouble_sign_is_written_in_utf8():
    (doc,) = mirtle_py.parse(mirtle.write_documents([{**ORDER, "payee": "100 ₽"}], encoding="utf-8")).documents
    assert doc.payee == "100 ₽"


def test_a_negative_zero_is_written_as_zero():
    (doc,) = mirtle_py.parse(mirtle.write_documents([{**ORDER, "amount": Decimal("-0.00")}])).documents
    assert doc.amount == "0.00"


# --- digits: 0-9 only, as a reader takes them --------------------------------------------------------------------

def without(field):
    """ORDER without the field a key names, whichever name it is given by."""
    name = mirtle.DOCUMENT_KEYS.get(field, field)
    return {k: v for k, v in ORDER.items() if k != name}, name


@pytest.mark.parametrize("encoding", ["cp1251", "utf-8"])
@pytest.mark.parametrize("field, value, digit", [
    ("doc_date", "05.03.٢٠٢٤", "'٢' (U+0662)"),
    ("doc_date", "٢٠٢٤-٠٣-٠٥", "'٢' (U+0662)"),
    ("income_date", "0５.03.2024", "'５' (U+FF15)"),
    ("amount", "１２３.４５", "'１' (U+FF11)"),
    ("Сумма", "१००", "'१' (U+0967)"),
], ids=["Arabic-Indic year", "Arabic-Indic ISO", "full-width day", "full-width amount", "Devanagari amount"])
def test_digits_of_other_scripts_are_refused_naming_document_and_field(field, value, digit, encoding):
    order, name = without(field)
    with pytest.raises(ValueError) as info:
        mirtle.write_documents([ORDER, {**order, field: value}], encoding=encoding)
    message = str(info.value)
    assert message.startswith(f"document 1, field {name!r}: {value!r} is not a ") and type(info.value) is ValueError
    assert message.endswith(f", digit {digit} is not one of 0-9")


def test_a_date_or_amount_is_written_exactly_when_its_digits_are_0_to_9():
    hypothesis = pytest.importorskip("hypothesis")
    st = hypothesis.strategies
    other = other_digits()

    @st.composite
    def spelled(draw, text):
        """``text``, or the same with some digits in other scripts."""
        if not draw(st.booleans()):
            return text
        chars = [draw(st.sampled_from(other[int(c)])) if "0" <= c <= "9" and draw(st.booleans()) else c
                 for c in text]
        return "".join(chars)

    dates = st.dates().flatmap(lambda d: st.sampled_from(
        [(d, d.isoformat()), (d, f"{d.day:02}.{d.month:02}.{d.year:04}")]))
    amounts = st.decimals(min_value=-10**15, max_value=10**15, places=2).map(lambda a: format(a, "f"))

    @hypothesis.settings(max_examples=300, deadline=None)
    @hypothesis.given(dates.flatmap(lambda d: st.tuples(st.just(d[0]), spelled(d[1]))),
                      amounts.flatmap(lambda a: st.tuples(st.just(a), spelled(a))),
                      st.sampled_from(["cp1251", "utf-8"]))
    def check(date, amount, encoding):
        (when, date_text), (amount_ascii, amount_text) = date, amount
        order = {**ORDER, "doc_date": date_text, "amount": amount_text}
        if not (date_text + amount_text).isascii():
            with pytest.raises(ValueError, match=r"^document 0, field '(doc_date|amount)': .* is not one of 0-9$"):
                mirtle.write_documents([order], encoding=encoding)
            return
        back = mirtle_py.parse(mirtle.write_documents([order], encoding=encoding))
        assert back.warnings == [] and len(back.documents) == 1
        (doc,) = back.documents
        assert doc.doc_date == when.isoformat()
        assert doc.amount == (amount_ascii.lstrip("-") if Decimal(amount_ascii).is_zero() else amount_ascii)

    check()


# --- amounts: written exactly when a reader gives back the same text ---------------------------------------------

LARGEST = 2**96 - 1  # a reader's largest mantissa: 79228162514264337593543950335

# The decision must not depend on the caller's decimal context.
CONTEXTS = {
    "default": decimal.Context(),
    "ROUND_DOWN": decimal.Context(rounding=decimal.ROUND_DOWN),
    "every trap": decimal.Context(traps=[decimal.Clamped, decimal.DivisionByZero, decimal.Inexact,
                                         decimal.InvalidOperation, decimal.Overflow, decimal.Rounded,
                                         decimal.Subnormal, decimal.Underflow, decimal.FloatOperation]),
    "precision 1, small exponents": decimal.Context(prec=1, rounding=decimal.ROUND_UP, Emin=-5, Emax=5),
}

WRITTEN = [  # (amount, the text written and read back, why)
    (Decimal(LARGEST), "79228162514264337593543950335", "the largest mantissa"),
    (LARGEST, "79228162514264337593543950335", "the largest mantissa as int"),
    (Decimal("7.9228162514264337593543950335"), "7.9228162514264337593543950335", "the largest at scale 28"),
    (Decimal("7.9228162514264337593543950335E+28"), "79228162514264337593543950335", "the largest, exponent form"),
    (Decimal("1E-28"), "0.0000000000000000000000000001", "28 places"),
    (Decimal("-0E-28"), "0.0000000000000000000000000000", "a negative zero of 28 places"),
    (Decimal("0E+1000000"), "0", "a zero with a huge exponent"),
]

REFUSED = [  # (amount, words of the message, why)
    (Decimal(LARGEST + 1), "is too large", "one past the largest mantissa"),
    (LARGEST + 1, "is too large", "one past, as int"),
    (Decimal("7.9228162514264337593543950336"), "is too large", "one past at scale 28"),
    (Decimal("8E+28"), "is too large", "a positive exponent past the largest"),
    (Decimal("1E+1000000"), "is too large", "a huge exponent"),
    (Decimal(10**5000), "is too large", "5001 digits"),
    (Decimal("1E-29"), "has more than 28 decimal places", "29 places"),
    (Decimal("0E-29"), "has more than 28 decimal places", "a zero of 29 places"),
    (Decimal("1E-1000000"), "has more than 28 decimal places", "a tiny exponent"),
    (Decimal("NaN"), "is not a finite amount", "NaN"),
    (Decimal("-Infinity"), "is not a finite amount", "negative infinity"),
]


def written_amount(amount):
    """The amount text of write_documents' second document, as mirtle_py reads it back."""
    back = mirtle_py.parse(mirtle.write_documents([ORDER, {**ORDER, "amount": amount}]))
    assert back.warnings == [] and len(back.documents) == 2
    return back.documents[1].amount


@pytest.mark.parametrize("context", CONTEXTS.values(), ids=CONTEXTS.keys())
@pytest.mark.parametrize("amount, text, why", WRITTEN, ids=[w for *_, w in WRITTEN])
def test_amounts_a_reader_keeps_are_written_in_any_context(amount, text, why, context):
    with decimal.localcontext(context):
        assert written_amount(amount) == text, why


@pytest.mark.parametrize("context", CONTEXTS.values(), ids=CONTEXTS.keys())
@pytest.mark.parametrize("amount, words, why", REFUSED, ids=[w for *_, w in REFUSED])
def test_amounts_a_reader_changes_are_refused_in_any_context(amount, words, why, context):
    with decimal.localcontext(context), pytest.raises(ValueError) as info:
        mirtle.write_documents([ORDER, {**ORDER, "amount": amount}])
    assert type(info.value) is ValueError, why  # not decimal.Overflow or another signal
    assert str(info.value).startswith("document 1, field 'amount': ") and words in str(info.value), why


def reader_gives_back(text):
    """Whether a reader takes "Сумма=<text>" and gives back exactly that text."""
    back = mirtle_py.parse(statement(document(Сумма=text)))
    return back.warnings == [] and back.documents[0].amount == text


def test_an_amount_is_written_exactly_when_a_reader_gives_back_its_text():
    hypothesis = pytest.importorskip("hypothesis")
    st = hypothesis.strategies
    near = [LARGEST, LARGEST + 1, 10**28, 10**29 - 1, 10**29]
    mantissas = st.one_of(st.integers(0, 10**31), st.integers(LARGEST - 10**4, LARGEST + 10**4),
                          st.sampled_from(near), st.sampled_from(near).flatmap(
                              lambda m: st.integers(0, 30).map(lambda k: m // 10**k)))
    amounts = st.builds(lambda sign, m, e: Decimal((sign, tuple(map(int, str(m))), e)),
                        st.integers(0, 1), mantissas, st.integers(-40, 40))

    @hypothesis.settings(max_examples=400, deadline=None)
    @hypothesis.given(amounts, st.sampled_from(list(CONTEXTS.values())))
    def check(amount, context):
        text = format(amount.copy_abs() if amount.is_zero() else amount, "f")
        with decimal.localcontext(context):
            try:
                written = mirtle.write_documents([{**ORDER, "amount": amount}])
            except ValueError as error:
                assert str(error).startswith("document 0, field 'amount': ")
                written = None
        if written is None:
            assert not reader_gives_back(text)
        else:
            (doc,) = mirtle_py.parse(written).documents
            assert doc.amount == text and reader_gives_back(text)

    check()
