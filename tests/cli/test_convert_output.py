"""convert's output: the Кодировка values it renames."""

import json

import pytest

from conftest import doc, run, statement

# (input's encoding, Кодировка value, output's encoding, the value written or None for a refusal, why)
ENCODING_HEADERS = [
    ("cp1251", "CP1251", "cp1251", "CP1251", "same encoding: its own name kept"),
    ("cp1251", "KOI8-R", "cp1251", "KOI8-R", "same encoding: an unknown name kept"),
    ("cp1251", "", "cp1251", "", "same encoding: an empty value kept"),
    ("utf-8", "utf8", "utf-8", "utf8", "same encoding, UTF-8"),
    ("cp1251", "windows-1251", "utf-8", "UTF-8", "new encoding: the old one's name renamed"),
    ("cp1251", "KOI8-R", "utf-8", "KOI8-R", "new encoding: an unknown name kept"),
    ("cp1251", "", "utf-8", "", "new encoding: an empty value kept"),
    ("utf-8", "UTF8", "cp1251", "Windows", "to windows-1251"),
    ("cp1251", "DOS", "cp1251", None, "a third encoding is refused, not renamed"),
]


@pytest.mark.parametrize("source,value,target,written,why", ENCODING_HEADERS, ids=[e[-1] for e in ENCODING_HEADERS])
def test_convert_renames_only_the_old_encodings_name(write, tmp_path, source, value, target, written, why):
    src, out = write(statement(doc(), header={"Кодировка": value}).decode().encode(source)), tmp_path / "out.txt"
    result = run("convert", src, "-o", out, "--encoding", target)
    if written is None:
        assert result.returncode == 1 and b"cannot be written" in result.stderr and not out.exists()
        return
    assert result.returncode == 0
    header = json.loads(run("json", "--raw", out).stdout)["header"]
    assert [v for _, k, v in header if k == "Кодировка"] == [written]
    assert len(result.stderr.splitlines()) == (written != value)
