"""Any bytes: the toolkit answers with a value or one of the module's exceptions; no reference is leaked."""

import sys

import mirtle_py
import pytest

import mirtle

from conftest import SAMPLES, generated


def test_any_bytes_read_or_raise_a_parse_error():
    hypothesis = pytest.importorskip("hypothesis")
    st = hypothesis.strategies
    base = generated(3, "cp1251")[:1500]

    @hypothesis.given(st.binary(max_size=300), st.integers(0, 1500), st.booleans())
    def check(noise, at, splice):
        data = base[:at] + noise + base[at:] if splice else noise
        try:
            s = mirtle.sections(data)
        except mirtle_py.ParseError:
            return
        for x in s.sections:
            x.attributes
        try:
            out = mirtle.write(s, "utf-8", update_encoding_header=True)
        except mirtle.WriteError:
            return
        assert mirtle.write(mirtle.sections(out), "utf-8") == out

    check()


def run_everything():
    data = SAMPLES[1].read_bytes()
    stmt = mirtle.read(data)
    mirtle.to_json(stmt)
    mirtle.to_dict(stmt, typed=True)
    s = mirtle.sections(data)
    [x.attributes for x in s.sections]
    mirtle.write(stmt, "utf-8")
    mirtle.write(s, "utf-8")
    for bad in (b"1CClientBankExchange\nFoo\n", b""):
        with pytest.raises(mirtle_py.ParseError):
            mirtle.sections(bad)
    with pytest.raises(mirtle.WriteError):
        mirtle.write(s)  # Кодировка=UTF-8 into windows-1251


@pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"), reason="needs a debug interpreter")
def test_no_reference_leaks():
    run_everything()
    counts = []
    for _ in range(4):
        before = sys.gettotalrefcount()
        run_everything()
        counts.append(sys.gettotalrefcount() - before)
    assert min(counts) <= 0, counts  # one quiet round: interpreter caches may warm up in others


def test_threads_read_and_write_at_once():
    from concurrent.futures import ThreadPoolExecutor

    data = generated(1, "cp1251")

    def job(_):
        s = mirtle.sections(data)
        return [x.attributes for x in s.sections], mirtle.write(s)

    expected = job(0)
    with ThreadPoolExecutor(4) as pool:
        assert all(result == expected for result in pool.map(job, range(8)))
