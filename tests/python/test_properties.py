"""Properties: any input gives a Statement or one error; str and bytes agree; a random model parses back."""

from decimal import Decimal

import pytest

hypothesis = pytest.importorskip("hypothesis")
from hypothesis import given, note, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

import mirtle_py  # noqa: E402
from conftest import (ACCOUNT, DETAILS, DOC_KEYS, DOCUMENT_ATTRS, REQUIRED_KEYS, account, doc, encode,  # noqa: E402
                      interval_tuple, outcome, snapshot, statement)

ERRORS = (mirtle_py.ParseError, *mirtle_py.ParseError.__subclasses__())


def check(data, hooks=None):
    """The parse gives a well-formed Statement or raises exactly one well-formed error of the module."""
    try:
        snapshot(stmt := mirtle_py.parse(data, hooks))
        assert type(stmt) is mirtle_py.Statement and stmt.encoding in ("utf-8", "cp1251")
    except mirtle_py.ParseError as e:
        d = e.__dict__.get("detail")
        assert type(e) in ERRORS and e.__cause__ is None and len(e.args) == 1 and type(e.args[0]) is str
        assert (type(d) in DETAILS and d.lineno >= 1 and repr(d)) if type(e) is mirtle_py.SyntaxError else d is None


MARKERS = ["1CClientBankExchange", "СекцияРасчСчет", "КонецРасчСчет", "СекцияДокумент=Платежное поручение",
           "СекцияДокумент=", "КонецДокумента", "КонецФайла"]
KEYS = [*DOC_KEYS.values(), *ACCOUNT, "", "Ключ"]
values = st.text(st.characters(exclude_characters="\n\r", exclude_categories=("Cs",)), max_size=12)
lines = st.one_of(st.sampled_from(MARKERS), values, st.builds("{}{}={}".format, st.sampled_from(KEYS),
                  st.sampled_from(["", " "]), values | st.from_regex(r"[-+]?[0-9._eE+\- ]{0,12}", fullmatch=True)))
texts = st.builds(lambda first, rest, eol: eol.join([first, *rest]),
                  st.sampled_from(["", " ", "\ufeff"]).map("{}1CClientBankExchange".format),
                  st.lists(lines, max_size=25), st.sampled_from(["\n", "\r\n", "\r"]))
BLOBS = [b"\0" * 10**6, bytes(range(256)) * 4000, b"\xff" * 10**6]  # and large binary garbage
BASE = statement(account(), doc(), account(ДатаНачала="01.01.2024"), doc(Номер=None)).split("\n")
PLAIN = "abcxyzABC0123456789 .,;:!?()/-+_\"'№абвгдеёжзийклмнопрстуфхцчшщъыьэюяАБВЁЖЯ=<>"
words, keys = (st.text(st.sampled_from(p), max_size=16).map(str.strip) for p in (PLAIN, PLAIN.replace("=", "")))
dates = st.builds(lambda d, w, y: (f"{d.day:0{w}}.{d.month:0{w}}.{y.format(d.year)}", d.isoformat()), st.dates(),
                  st.sampled_from([1, 2]), st.sampled_from(["{}", "{:04}", "+{}"]))
dates |= st.sampled_from([  # the longest
    ("1.2.+262142", "+262142-02-01"), ("1.1.-262143", "-262143-01-01"), ("1.2.-5", "-0005-02-01")])
optional_dates = dates | st.just(("", None))  # a blank optional date is absent
amounts = st.builds(lambda *p: "".join(p), st.sampled_from(["", "-", "+"]), st.text("0123456789", max_size=18),
                    st.just("") | st.text("0123456789", max_size=10).map(".".__add__)).filter(lambda w: w.strip("+-."))
amounts |= st.sampled_from(["-79228162514264337593543950335", "-5e-28", "1e28"])  # the longest
amounts = amounts.map(lambda w: (w, format(Decimal(w), "f").lstrip("-" if Decimal(w) == 0 else ""), Decimal(w)))


@st.composite
def section(draw):
    """The lines of a document or an account section, and what it gives."""
    if draw(st.booleans()):
        number = draw(st.sampled_from(["40702810900000000001", "1", "1a"]))
        (start, start_iso), (end, end_iso) = draw(dates), draw(optional_dates)
        sums = [draw(amounts)] + [draw(st.none() | amounts) for _ in range(3)]
        fields = {"РасчСчет": number, "ДатаНачала": start, "ДатаКонца": end} | {
            k: a[0] for k, a in zip(list(ACCOUNT)[3:], sums) if a}
        shown = (start_iso, end_iso, *(a and a[1] for a in [sums[0], sums[3], sums[1], sums[2]]))
        key = (start_iso, end_iso, *(a and a[2] for a in sums))  # equal intervals are equal in value
        kind, expected = ("СекцияРасчСчет", "КонецРасчСчет"), (number, key, shown)
    else:
        fields, shown = {}, {"СекцияДокумент": draw(words)}
        for key in DOC_KEYS.values():  # a required key is rarely missing, an optional one mostly is
            if key != "СекцияДокумент" and (draw(st.integers(0, 40 if key in REQUIRED_KEYS else 3)) == 0) != (
                    key in REQUIRED_KEYS):
                written, shown[key] = (draw(dates if key == "Дата" else optional_dates) if key.startswith("Дата") else
                                       draw(amounts)[:2] if key == "Сумма" else (draw(words),) * 2)
                fields[key] = written
        missing = [k for k in REQUIRED_KEYS if k not in shown]
        expected = f"missing field `{missing[0]}`" if missing else tuple(shown.get(DOC_KEYS[a]) for a in DOCUMENT_ATTRS)
        kind = (f"СекцияДокумент={shown['СекцияДокумент']}", "КонецДокумента")
    return [kind[0], *(f"{k}={fields[k]}" for k in draw(st.permutations(list(fields)))), kind[1]], expected


@st.composite
def models(draw):
    """A statement text and what parsing it must give."""
    header = draw(st.lists(st.tuples(keys, words), max_size=5))
    out, documents, warnings, accounts = ["1CClientBankExchange", *(f"{k}={v}" for k, v in header)], [], [], {}
    for lines, expected in draw(st.lists(section(), min_size=1, max_size=6)):
        out += lines
        if type(expected) is str:
            warnings.append((len(out), expected))
        elif len(expected) == 3:  # an interval; the first of equal ones stays
            accounts.setdefault(expected[0], {}).setdefault(expected[1], expected[2])
        else:
            documents.append(expected)
    eol, start = draw(st.sampled_from(["\n", "\r\n"])), lambda kv: (int(kv[0][0][:-6]), kv[0][0][-5:])
    # intervals sorted by their start, in file order within one start
    accounts = [(n, [s for _, s in sorted(v.items(), key=start)]) for n, v in accounts.items()]
    return eol.join([*out, "КонецФайла"]) + eol, (dict(header), accounts, documents, warnings)


class TestProperties:
    @given(st.binary(max_size=400) | st.sampled_from(BLOBS), st.sampled_from([b"", b"1CClientBankExchange\n",
                                                     b"\xff\xfe" + "1CClientBankExchange\n".encode("utf-16-le")]))
    def test_any_bytes(self, data, prefix):
        check(prefix + data)

    @given(texts | st.text(max_size=200), st.integers(0, 200))
    def test_any_text_and_its_bytes_agree(self, text, position):
        for data in (text, text.encode("cp1251", "replace"), text.encode("utf-16-le")):
            check(data)
        assert outcome(text) == outcome(text.encode())
        with pytest.raises(TypeError, match="^statement must be bytes or str$"):
            mirtle_py.parse(text[:position] + "\udc9f" + text[position:])

    @given(st.lists(st.tuples(st.integers(0, 2), st.integers(0, 99), st.integers(0, 99)), max_size=6),
           st.lists(st.tuples(st.integers(0, 10**6), st.integers(0, 255)), max_size=4),
           st.sampled_from(["utf-8", "cp1251"]))
    def test_mutated_statements(self, edits, flips, enc):
        work = list(BASE)
        for copies, i, j in edits:  # line i deleted, moved to j, or duplicated there
            line = work.pop(i % len(work))
            k = j % (len(work) + 1)
            work[k:k] = [line] * (copies or not work)
        data = bytearray(encode("\n".join(work), enc))
        for pos, byte in flips:
            data[pos % len(data)] = byte
        check(bytes(data))
        check(bytes(data), [lambda t, a, h: None])

    @given(models(), st.sampled_from(["str", "utf-8", "utf-8-bom", "cp1251", "utf-16le-bom"]))
    def test_round_trip(self, model, enc):
        text, (header, accounts, documents, warnings) = model
        note(text)
        stmt = mirtle_py.parse(text if enc == "str" else encode(text, enc))
        assert stmt.encoding == ("utf-8" if enc.startswith(("s", "utf-8")) else "cp1251") and stmt.warnings == warnings
        assert (list(stmt.header.items()), [tuple(getattr(d, a) for a in DOCUMENT_ATTRS) for d in stmt.documents]) == (
            list(header.items()), documents)
        assert [(n, a.number, [interval_tuple(i) for i in a.intervals]) for n, a in stmt.accounts.items()] == [
            (n, n, v) for n, v in accounts]
        seen = []  # hooks that change nothing change nothing
        rewrite = lambda t, a, h: seen.append(t) or a.update((k, str(v)) for k, v in list(a.items()))  # noqa: E731
        assert snapshot(mirtle_py.parse(text, [rewrite, rewrite])) == snapshot(mirtle_py.parse(text))
        assert len(seen) == 2 * sum(x in ("КонецДокумента", "КонецРасчСчет") for x in text.splitlines())

    @settings(max_examples=10, deadline=None)
    @given(st.lists(st.tuples(st.integers(0, 2), st.integers(0, 10**9), st.integers(0, 10**9)), max_size=4),
           st.lists(st.tuples(st.integers(0, 10**9), st.integers(0, 255)), max_size=3),
           st.sampled_from(["utf-8", "cp1251"]))
    def test_large_statements_read_in_two_parts(self, edits, flips, enc):
        """From 4 MiB, a statement without hooks is read in two parts at once; a hook keeps it on one
        thread.  Lines moved, repeated or dropped and bytes changed anywhere, the two readings agree."""
        head = BASE.index("СекцияРасчСчет")
        end = BASE.index("КонецФайла")
        work = BASE[:head] + BASE[head:end] * 6000 + BASE[end:]
        for copies, i, j in edits:
            line = work.pop(i % len(work))
            k = j % (len(work) + 1)
            work[k:k] = [line] * copies
        data = bytearray(encode("\n".join(work), enc))
        assert len(data) >= 4 << 20
        for pos, byte in flips:
            data[pos % len(data)] = byte
        assert outcome(bytes(data)) == outcome(bytes(data), [lambda t, a, h: None])
