"""The README's toolkit tour runs as written."""

import re
import shutil

import pytest

from conftest import REPO

HEADING = "## The `mirtle` toolkit: a tour"


def python_blocks(heading):
    text = (REPO / "README.md").read_text(encoding="utf-8")
    section = text.split(heading, 1)[1].split("\n## ", 1)[0]
    return re.findall(r"```python\n(.*?)```", section, re.S)


def test_the_tour_runs(tmp_path, monkeypatch, capsys):
    blocks = python_blocks(HEADING)
    assert len(blocks) == 6  # read, typed values, JSON, exports, extra keys, writing
    shutil.copy(REPO / "examples" / "statement_utf8.txt", tmp_path / "statement.txt")
    monkeypatch.chdir(tmp_path)
    namespace: dict = {}
    for block in blocks:
        exec(compile(block, "README.md", "exec"), namespace)
    out = capsys.readouterr().out
    assert out.startswith('Statement(encoding="utf-8", documents=[...')
    assert "СрокАкцепта" in out  # the bank's own keys were found
    assert "40702810395201156281 2024-03-16 25 True True 0.00" in out
    assert (tmp_path / "statement.xlsx").read_bytes().startswith(b"PK")


TABLES_HEADING = "## Tables: pyarrow, pandas and Dask"


def test_the_tables_section_runs(tmp_path, monkeypatch, capsys):
    pytest.importorskip("pandas")
    pytest.importorskip("dask.dataframe")
    blocks = python_blocks(TABLES_HEADING)
    assert len(blocks) == 2  # tables and pandas, Dask
    shutil.copy(REPO / "examples" / "statement_utf8.txt", tmp_path / "statement.txt")
    shutil.copy(REPO / "examples" / "statement_cp1251.txt", tmp_path / "other.txt")
    monkeypatch.chdir(tmp_path)
    namespace: dict = {}
    for block in blocks:
        exec(compile(block, "README.md", "exec"), namespace)
    printed = capsys.readouterr().out.splitlines()
    # Each print's output is the comment at the end of its line.
    promised = [line.split("#", 1)[1].strip() for block in blocks for line in block.splitlines()
                if line.startswith("print(")]
    assert printed == promised
