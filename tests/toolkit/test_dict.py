"""to_dict and to_json: the JSON form of the command-line tool, plain or typed."""

import datetime
import json
import os
import shutil
import subprocess
from decimal import Decimal

import mirtle_py
import pytest

import mirtle

from conftest import REPO

INTERVAL_KEYS = ["date_start", "date_end", "start_amount", "end_amount", "total_income", "total_expense"]


def test_members_order_and_values(statement_bytes):
    stmt = mirtle_py.parse(statement_bytes)
    d = mirtle.to_dict(stmt)
    assert list(d) == ["encoding", "header", "accounts", "documents", "warnings"]
    assert d["encoding"] == stmt.encoding and list(d["header"].items()) == list(stmt.header.items())
    assert list(d["accounts"]) == list(stmt.accounts)
    for number, intervals in d["accounts"].items():
        assert [list(i) for i in intervals] == [INTERVAL_KEYS] * len(intervals)
        assert [tuple(i.values()) for i in intervals] == [
            tuple(getattr(i, k) for k in INTERVAL_KEYS) for i in stmt.accounts[number].intervals]
    names = [n for n in vars(mirtle_py.Document) if not n.startswith("_")]
    assert len(names) == 53
    assert [list(x.items()) for x in d["documents"]] == [
        [(n, getattr(doc, n)) for n in names] for doc in stmt.documents]
    assert d["warnings"] == [{"lineno": n, "message": m} for n, m in stmt.warnings]


def test_typed_values_are_decimal_and_date_of_the_same_texts(statement_bytes):
    stmt = mirtle_py.parse(statement_bytes)
    plain, typed = mirtle.to_dict(stmt), mirtle.to_dict(stmt, typed=True)
    for p, t in zip(plain["documents"], typed["documents"]):
        for key in p:
            if key in ("doc_date", "outcome_date", "income_date"):
                assert t[key] is None if p[key] is None else t[key].isoformat() == p[key]
            elif key == "amount":
                assert isinstance(t[key], Decimal) and str(t[key]) == p[key]
            else:
                assert t[key] == p[key]
    for number, intervals in typed["accounts"].items():
        for p, t in zip(plain["accounts"][number], intervals):
            assert isinstance(t["date_start"], datetime.date)
            assert {k: None if v is None else str(v) for k, v in t.items() if "amount" in k or "total" in k} == {
                k: v for k, v in p.items() if "amount" in k or "total" in k}


def test_typed_refuses_a_date_outside_datetimes_range():
    text = ("1CClientBankExchange\nСекцияРасчСчет\nДатаНачала=01.01.0\nРасчСчет=1\nНачальныйОстаток=0\n"
            "КонецРасчСчет\nКонецФайла\n")
    stmt = mirtle_py.parse(text)
    assert mirtle.to_dict(stmt)["accounts"]["1"][0]["date_start"] == "0000-01-01"
    with pytest.raises(ValueError, match="0000-01-01"):
        mirtle.to_dict(stmt, typed=True)


def test_to_json_is_compact_json_of_to_dict(statement_bytes):
    stmt = mirtle_py.parse(statement_bytes)
    text = mirtle.to_json(stmt)
    assert text == json.dumps(mirtle.to_dict(stmt), ensure_ascii=False, separators=(",", ":"))
    assert json.loads(text) == mirtle.to_dict(stmt)




def cli_binary():
    """A built tool that runs here: one built on the host may need libraries this interpreter's system lacks."""
    for candidate in (os.environ.get("MIRTLE_CLI"), shutil.which("mirtle"),
                      *(str(p) for p in sorted(REPO.glob("build/*/cli/mirtle")))):
        if candidate and os.access(candidate, os.X_OK) and _starts(candidate):
            return candidate
    return None


def _starts(tool):
    try:
        return subprocess.run([tool, "--version"], capture_output=True, timeout=60).returncode == 0
    except OSError:
        return False


@pytest.mark.skipif(cli_binary() is None, reason="the mirtle command-line tool is not built")
def test_the_command_line_json_agrees(statement_bytes, tmp_path):
    path = tmp_path / "s.txt"
    path.write_bytes(statement_bytes)
    out = subprocess.run([cli_binary(), "json", str(path)], capture_output=True, check=True).stdout
    assert out.decode("utf-8") == mirtle.to_json(mirtle_py.parse(statement_bytes)) + "\n"
