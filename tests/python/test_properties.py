"""Properties: any input ends in a Statement or one of the module's errors, and
a statement rendered from a random model parses back to that model."""

import bisect
import datetime
from decimal import Decimal

import pytest

hypothesis = pytest.importorskip("hypothesis")
from hypothesis import assume, given, note  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

import mirtle_py  # noqa: E402
from conftest import (ACCOUNT, ATTR_OF, DOC_FIELDS, DOCUMENT_ATTRS, MINIMAL_DOC, REQUIRED_KEYS,  # noqa: E402
                      account, check_parse_error, doc, encode, interval_tuple, outcome, snapshot, statement)

MARKERS = ["1CClientBankExchange", "СекцияРасчСчет", "КонецРасчСчет", "СекцияДокумент=Платежное поручение",
           "СекцияДокумент=", "КонецДокумента", "КонецФайла"]
KEYS = [k for k, _ in DOC_FIELDS] + list(ACCOUNT) + ["", "Ключ"]


def check(data, hooks=None):
    """The parse ends in a well-formed Statement or in one of the module's errors."""
    try:
        stmt = mirtle_py.parse(data, hooks)
    except mirtle_py.ParseError as e:
        check_parse_error(e)
        repr(e.__dict__.get("detail"))
        return None
    assert type(stmt) is mirtle_py.Statement
    assert stmt.encoding in ("utf-8", "cp1251")
    snapshot(stmt)
    for a in stmt.accounts.values():
        repr(a), [repr(i) for i in a.intervals]
    return stmt


# --- arbitrary input ---------------------------------------------------------------

values = st.text(st.characters(exclude_characters="\n\r", exclude_categories=("Cs",)), max_size=12)
lines = st.one_of(
    st.sampled_from(MARKERS),
    st.builds(lambda k, v, pad: f"{k}{pad}={pad}{v}", st.sampled_from(KEYS), values, st.sampled_from(["", " ", "\t"])),
    st.builds(lambda k, v: f"{k}={v}", st.sampled_from(["Дата", "Сумма", "ДатаНачала", "НачальныйОстаток"]),
              st.from_regex(r"[-+]?[0-9._eE+\- ]{0,12}", fullmatch=True)),
    values,
)
texts = st.builds(lambda first, rest, eol: eol.join([first, *rest]),
                  st.sampled_from(["1CClientBankExchange", " 1CClientBankExchange", "\ufeff1CClientBankExchange"]),
                  st.lists(lines, max_size=25), st.sampled_from(["\n", "\r\n", "\r"]))


@given(st.binary(max_size=400))
def test_any_bytes(data):
    check(data)


@given(st.binary(max_size=300))
def test_any_bytes_after_the_marker(data):
    check(b"1CClientBankExchange\n" + data)
    check(b"\xff\xfe" + "1CClientBankExchange\n".encode("utf-16-le") + data)


@given(texts)
def test_line_soup(text):
    check(text)
    check(text.encode("utf-8"))
    try:
        raw = text.encode("cp1251")
    except UnicodeEncodeError:
        return
    check(raw)


@given(st.text(max_size=200), st.integers(0, 200), st.booleans())
def test_str_and_bytes_agree(text, position, with_surrogate):
    if with_surrogate:
        bad = text[:position] + "\udc9f" + text[position:]
        with pytest.raises(TypeError, match="^statement must be bytes or str$"):
            mirtle_py.parse(bad)
    assert outcome(text) == outcome(text.encode("utf-8"))


@given(texts)
def test_str_and_bytes_agree_on_statement_like_text(text):
    assert outcome(text) == outcome(text.encode("utf-8"))


def _hook_from(actions):
    def hook(section_type, attrs, header):
        for action, key, value in actions:
            if action == "set":
                attrs[key] = value
            elif action == "del":
                attrs.pop(key, None)
            elif action == "clear":
                attrs.clear()
            elif action == "bad":
                attrs[key] = 1
            elif action == "raise":
                raise ValueError(value)
            elif action == "header":
                header[key] = value
    return hook


hook_actions = st.lists(
    st.tuples(st.sampled_from(["set", "set", "del", "clear", "bad", "raise", "header"]),
              st.sampled_from(KEYS), values), max_size=4)


@given(texts, st.lists(hook_actions, max_size=3))
def test_line_soup_with_hooks(text, hook_lists):
    check(text, [_hook_from(a) for a in hook_lists])


# --- mutations of a valid statement --------------------------------------------

BASE_LINES = statement(account(), doc(), account({"ДатаНачала": "01.01.2024"}), doc(Номер=None)).split("\n")


@given(
    st.lists(st.tuples(st.sampled_from(["delete", "duplicate", "swap"]), st.integers(0, 10**6), st.integers(0, 10**6)),
             max_size=6),
    st.lists(st.tuples(st.integers(0, 10**6), st.integers(0, 255)), max_size=4),
    st.sampled_from(["utf-8", "cp1251"]),
)
def test_mutated_statements(edits, flips, enc):
    work = list(BASE_LINES)
    for op, i, j in edits:
        if not work:
            break
        i, j = i % len(work), j % len(work)
        if op == "delete":
            del work[i]
        elif op == "duplicate":
            work.insert(i, work[i])
        else:
            work[i], work[j] = work[j], work[i]
    data = bytearray(encode("\n".join(work), enc))
    for pos, byte in flips:
        if data:
            data[pos % len(data)] = byte
    check(bytes(data))
    check(bytes(data), [lambda t, a, h: None])


# --- round trip of a random model -------------------------------------------------

PLAIN = "abcxyzABCXYZ0123456789 .,;:!?()/-+_\"'№абвгдежзийклмнопрстуфхцчшщъыьэюяАБВЁЖЯё=<>"
text_values = st.text(st.sampled_from(PLAIN), max_size=20).map(lambda s: s.strip(" "))
word_keys = st.text(st.sampled_from(PLAIN.replace("=", "")), max_size=10).map(lambda s: s.strip(" ")).filter(
    lambda k: k != "СекцияДокумент")


@st.composite
def dates(draw, optional=False):
    if optional and draw(st.booleans()):
        return "", None  # a blank optional date is absent
    d = draw(st.dates(datetime.date(1, 1, 1), datetime.date(9999, 12, 31)))
    day = draw(st.sampled_from([str(d.day), f"{d.day:02}"]))
    month = draw(st.sampled_from([str(d.month), f"{d.month:02}"]))
    year = draw(st.sampled_from([str(d.year), f"{d.year:04}", f"+{d.year}"]))
    return f"{day}.{month}.{year}", f"{d.year:04}-{d.month:02}-{d.day:02}"


@st.composite
def amounts(draw):
    sign = draw(st.sampled_from(["", "", "-", "+"]))
    whole = draw(st.text("0123456789", max_size=18))
    frac = draw(st.none() | st.text("0123456789", max_size=10))
    assume(whole or frac)
    written = sign + whole + ("" if frac is None else "." + frac)
    value = Decimal(f"{whole or '0'}.{frac}" if frac else (whole or "0"))
    text = format(value, "f")
    if sign == "-" and value != 0:
        text, value = "-" + text, -value
    return written, text, value


@st.composite
def document_models(draw):
    fields = {}  # key -> (written, expected attribute value)
    for key, _ in DOC_FIELDS:
        if key == "СекцияДокумент":
            continue
        present = draw(st.integers(0, 40)) != 0 if key in REQUIRED_KEYS else draw(st.integers(0, 3)) == 0
        if not present:
            continue
        if key == "Дата":
            fields[key] = draw(dates())
        elif key in ("ДатаСписано", "ДатаПоступило"):
            fields[key] = draw(dates(optional=True))
        elif key == "Сумма":
            written, text, _ = draw(amounts())
            fields[key] = (written, text)
        else:
            v = draw(text_values)
            fields[key] = (v, v)
    doc_type = draw(text_values)
    order = draw(st.permutations(list(fields)))
    # a key may be written twice; the later value wins
    repeated = draw(st.lists(st.sampled_from(order), max_size=2, unique=True)) if order else []
    lines = [f"СекцияДокумент={doc_type}"]
    lines += [f"{k}={MINIMAL_DOC.get(k, 'старое')}" for k in repeated]
    lines += [f"{k}={fields[k][0]}" for k in order]
    lines.append("КонецДокумента")
    missing = [k for k in REQUIRED_KEYS if k != "СекцияДокумент" and k not in fields]
    if missing:
        expected = ("warning", f"missing field `{missing[0]}`")
    else:
        attrs = {a: None for a in DOCUMENT_ATTRS}
        attrs.update({ATTR_OF[k]: v for k, (_, v) in fields.items()})
        attrs["doc_type"] = doc_type
        expected = ("document", tuple(attrs[a] for a in DOCUMENT_ATTRS))
    return lines, expected


@st.composite
def account_models(draw):
    number = draw(st.sampled_from(["40702810900000000001", "40702810900000000002", "1", "1a"]))
    start_written, start = draw(dates())
    end_written, end = draw(dates(optional=True))
    opening = draw(amounts())
    optional = {k: draw(st.none() | amounts()) for k in ("КонечныйОстаток", "ВсегоПоступило", "ВсегоСписано")}
    fields = {"РасчСчет": number, "ДатаНачала": start_written, "НачальныйОстаток": opening[0]}
    if end_written or draw(st.booleans()):
        fields["ДатаКонца"] = end_written
    fields.update({k: a[0] for k, a in optional.items() if a is not None})
    order = draw(st.permutations(list(fields)))
    lines = ["СекцияРасчСчет", *(f"{k}={fields[k]}" for k in order), "КонецРасчСчет"]
    shown = (start, end if "ДатаКонца" in fields else None, opening[1],
             *(None if optional[k] is None else optional[k][1]
               for k in ("КонечныйОстаток", "ВсегоПоступило", "ВсегоСписано")))
    key = (start, shown[1], opening[2], *(None if optional[k] is None else optional[k][2]
                                          for k in ("КонечныйОстаток", "ВсегоПоступило", "ВсегоСписано")))
    return lines, ("account", number, shown, key)


@st.composite
def statement_models(draw):
    header = draw(st.lists(st.tuples(word_keys, text_values), max_size=5))
    sections = draw(st.lists(document_models() | account_models(), min_size=1, max_size=6))
    return header, sections, draw(st.sampled_from(["\n", "\r\n"])), draw(st.booleans())


def render(model):
    """The statement text and what parsing it must give."""
    header, sections, eol, padded = model
    pad = (lambda line: f"  {line}\t") if padded else (lambda line: line)
    out = ["1CClientBankExchange", *(pad(f"{k}={v}") for k, v in header)]
    documents, warnings, accounts = [], [], {}
    for lines, expected in sections:
        for line in lines:
            if padded:
                out.append("")
            out.append(pad(line))
        if expected[0] == "warning":
            warnings.append((len(out), expected[1]))
        elif expected[0] == "document":
            documents.append(expected[1])
        else:
            _, number, shown, key = expected
            filed = accounts.setdefault(number, [])
            starts = [k[0] for k, _ in filed]
            p = bisect.bisect_left(starts, key[0])
            q = bisect.bisect_right(starts, key[0])
            if not any(k == key for k, _ in filed[p:q]):
                filed.insert(q, (key, shown))
    out.append("КонецФайла")
    expected = (dict(header), [(n, [s for _, s in ivs]) for n, ivs in accounts.items()], documents, warnings)
    return eol.join(out) + eol, expected


@given(statement_models(), st.sampled_from(["str", "utf-8", "utf-8-bom", "cp1251"]))
def test_round_trip(model, enc):
    text, (header, accounts, documents, warnings) = render(model)
    note(text)
    stmt = mirtle_py.parse(text if enc == "str" else encode(text, enc))
    assert stmt.encoding == ("cp1251" if enc == "cp1251" else "utf-8")
    assert list(stmt.header.items()) == list(header.items())
    assert [(n, [interval_tuple(i) for i in a.intervals]) for n, a in stmt.accounts.items()] == accounts
    assert [a.number for a in stmt.accounts.values()] == list(stmt.accounts)
    assert [tuple(getattr(d, a) for a in DOCUMENT_ATTRS) for d in stmt.documents] == documents
    assert stmt.warnings == warnings


@given(statement_models())
def test_hooks_that_change_nothing_change_nothing(model):
    text, _ = render(model)
    seen = []

    def rewrite(section_type, attrs, header):
        seen.append(section_type)
        for k in list(attrs):
            attrs[k] = str(attrs[k])

    assert snapshot(mirtle_py.parse(text, [rewrite, rewrite])) == snapshot(mirtle_py.parse(text))
    assert len(seen) == 2 * len(model[1])
