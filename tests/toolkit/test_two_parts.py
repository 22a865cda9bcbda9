"""A large statement is read in two parts at once, the second on a thread of its own; the sections
and the tables must be those of a read on one thread, errors included, wherever the cut falls and
whatever lies around it.  threads=2 cuts every statement, whatever its size; threads=1 never does."""

import pytest

from mirtle import _native

from conftest import generated

pa = pytest.importorskip("pyarrow")

CRLF_CUT = "\r\nСекцияДокумент="


def outcome(call):
    """What a call gives: its result, or its exception's class, text and line."""
    try:
        return "ok", call()
    except Exception as e:  # noqa: BLE001 - every exception is compared
        return type(e), str(e), getattr(e, "lineno", None)


def sections_shape(s):
    return s.encoding, s.header, [(x.kind, x.doc_type, x.start_line, x.end_line, x.attributes) for x in s.sections]


def table_shape(data):
    """The table with its batch boundaries: a caller sees those too."""
    table = pa.table(data)
    return table.schema, [batch.num_rows for batch in table.to_batches()], table.to_pylist()


READS = {
    "sections": lambda data, threads: sections_shape(_native.read_sections(data, threads)),
    "documents": lambda data, threads: table_shape(_native.documents(data, None, threads)),
    "intervals": lambda data, threads: table_shape(_native.intervals(data, None, threads)),
    "tables": lambda data, threads: [table_shape(t) for t in _native.tables(data, None, threads)],
}


def middle_document(text: str) -> int:
    """Where the reader cuts `text`: the first document start past its middle (in characters here,
    close enough to the bytes' middle for the damage to land around it)."""
    return text.index("СекцияДокумент=", len(text) // 2)


def damaged(text: str) -> dict[str, str]:
    """The statement with one fault each, at or near the cut."""
    cut = middle_document(text)
    before = text.rindex("КонецДокумента", 0, cut)
    after = text.index("КонецДокумента", cut)
    amount = text.index("Сумма=", cut)
    account = text.find("СекцияРасчСчет", cut)
    return {
        "intact": text,
        "open document across the cut": text[:before] + text[before + len("КонецДокумента"):],
        "open document after the cut": text[:after] + text[after + len("КонецДокумента"):],
        "stray line before the cut": text[:before] + "мусор\r\n" + text[before:],
        "stray line after the cut": text[:after] + "мусор\r\n" + text[after:],
        "end of file before the cut": text[:cut] + "КонецФайла\r\n" + text[cut:],
        "no end of file": text[:text.rindex("КонецФайла")],
        "line after the end": text + "позже\r\n",
        "bad amount after the cut": text[:amount] + "Сумма=12,3.4" + text[text.index("\r\n", amount):],
        "amount of many digits after the cut": text[:amount] + "Сумма=1." + "1" * 30 + text[text.index("\r\n", amount):],
        "account section after the cut without its number": (
            text if account < 0 else text[:account] + "СекцияРасчСчет\r\nКонецРасчСчет\r\n" + text[account:]),
        "blank lines at the cut": text[:cut] + "\r\n  \r\n\r\n" + text[cut:],
        "a header line past the middle": text[:text.index("СекцияДокумент")] + "Получатель=x\r\n" * 900
                                         + text[text.index("СекцияДокумент"):],
    }


def statements():
    """Generated statements of both encodings, cut at different documents."""
    for seed, encoding, documents in [(1, "utf-8", 40), (2, "cp1251", 41), (3, "utf-8", 57), (4, "cp1251", 60)]:
        text = generated(seed, encoding, documents=documents, accounts=3, periods=3).decode(encoding)
        for why, variant in damaged(text).items():
            yield f"{seed}-{encoding}-{why}", variant.encode(encoding)
    # Non-UTF-8 bytes on either side of the cut of a UTF-8 statement.
    text = generated(5, "utf-8", documents=50).decode()
    cut = middle_document(text)
    for at in (cut - 40, cut + 40):
        yield f"byte not UTF-8 at {at - cut:+}", text[:at].encode() + b"\xe9" + text[at:].encode()


CASES = dict(statements())


@pytest.mark.parametrize("read", READS)
@pytest.mark.parametrize("name", CASES)
def test_two_parts_give_what_one_thread_gives(read, name):
    data = CASES[name]
    one = outcome(lambda: READS[read](data, 1))
    assert outcome(lambda: READS[read](data, 2)) == one
    assert outcome(lambda: READS[read](data, None)) == one


@pytest.mark.parametrize("read", READS)
def test_the_cut_found_at_every_document(read):
    """Statements that grow a document at a time put the cut at each document in turn."""
    text = generated(6, "cp1251", documents=30).decode("cp1251")
    first = text.index("СекцияДокумент")
    section = text[first:text.index("КонецДокумента", first) + len("КонецДокумента\r\n")]
    for extra in range(0, 12):
        data = (text[:first] + section * extra + text[first:]).encode("cp1251")
        assert outcome(lambda: READS[read](data, 2)) == outcome(lambda: READS[read](data, 1)), extra


@pytest.mark.parametrize("threads", [-1, 3, 2**70])
def test_threads_beyond_two_are_refused(threads):
    with pytest.raises((ValueError, OverflowError)):
        _native.read_sections(b"", threads)
    with pytest.raises((ValueError, OverflowError)):
        _native.documents(b"", None, threads)


def test_threads_must_be_an_int():
    with pytest.raises(TypeError, match="threads must be an int or None, not str"):
        _native.tables(b"", None, "2")


@pytest.mark.parametrize("threads", [1, 2])
def test_sections_of_bytes_are_those_of_any_buffer(threads):
    """The texts of a bytes input stay in it, those of other buffers are copied: the same sections,
    and a section outlives every other reference to its bytes."""
    for name in ("1-utf-8-intact", "2-cp1251-intact", "3-utf-8-blank lines at the cut"):
        data = CASES[name]
        copied = sections_shape(_native.read_sections(bytearray(data), threads))
        assert sections_shape(_native.read_sections(data, threads)) == copied
        last = _native.read_sections(bytes(data), threads).sections[-1]  # its bytes referenced by it alone
        assert (last.kind, last.doc_type, last.start_line, last.end_line, last.attributes) == copied[2][-1]


def test_sections_of_any_size_are_kept_whole():
    """Sections that outgrow the memory made for them, with keys repeated from the section before
    and changed from it, a long document type and long values: the copies equal the text."""
    sections = []
    for n, (lines, width) in enumerate([(1, 1), (70, 3), (20000, 20), (5, 200000), (20000, 1), (3, 0)]):
        keys = [f"Ключ{i % (7 + n)}" for i in range(lines)]
        body = "".join(f"{k}={'ж' * width}{i}\n" for i, k in enumerate(keys))
        sections.append(f"СекцияДокумент={'Т' * (70000 if n == 3 else n)}\n{body}КонецДокумента\n")
    text = "1CClientBankExchange\nВерсияФормата=1.03\n" + "".join(sections) + "КонецФайла\n"
    for encoding in ("utf-8", "cp1251"):
        data = text.encode(encoding)
        expected = sections_shape(_native.read_sections(data, 1))
        assert [len(s[4]) for s in expected[2]] == [1, 70, 20000, 5, 20000, 3]
        assert expected[2][2][4][-1] == (20000 + 70 + 5 + 3, "Ключ1", "ж" * 20 + "19999")
        for threads in (1, 2):
            assert sections_shape(_native.read_sections(bytearray(data), threads)) == expected
