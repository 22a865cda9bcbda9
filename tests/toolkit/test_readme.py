"""The README's toolkit tour runs as written."""

import re
import shutil

from conftest import REPO

HEADING = "## The `mirtle` toolkit: a tour"


def tour_blocks():
    text = (REPO / "README.md").read_text(encoding="utf-8")
    section = text.split(HEADING, 1)[1].split("\n## ", 1)[0]
    return re.findall(r"```python\n(.*?)```", section, re.S)


def test_the_tour_runs(tmp_path, monkeypatch, capsys):
    blocks = tour_blocks()
    assert len(blocks) == 5  # read, typed values, JSON, extra keys, writing
    shutil.copy(REPO / "examples" / "statement_utf8.txt", tmp_path / "statement.txt")
    monkeypatch.chdir(tmp_path)
    namespace: dict = {}
    for block in blocks:
        exec(compile(block, "README.md", "exec"), namespace)
    out = capsys.readouterr().out
    assert out.startswith('Statement(encoding="utf-8", documents=[...')
    assert "СрокАкцепта" in out  # the bank's own keys were found
