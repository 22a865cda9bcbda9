"""One tool against another: the tool under test (a cross build, run through
MIRTLE_CLI_RUNNER) and the reference (MIRTLE_CLI_REFERENCE, the build
machine's own build) write the same bytes, messages and exit statuses for
the shipped samples and for generated statements of every form."""

import os
import subprocess
import sys

import pytest

from conftest import COMMAND, SRC, doc, statement

REFERENCE = os.environ.get("MIRTLE_CLI_REFERENCE")
pytestmark = pytest.mark.skipif(not REFERENCE, reason="MIRTLE_CLI_REFERENCE names no tool to compare with")

SHIPPED = sorted((SRC / "examples").glob("*.txt")) + sorted((SRC / "tests/core/data").glob("*.txt"))
# (encoding, newline): every form bench/gen_statement.py writes.
FORMS = [("cp1251", "crlf"), ("cp1251", "lf"), ("utf-8", "crlf"), ("utf-8", "lf")]
DAMAGED = [  # (statement, why)
    (statement(doc(Номер="1"), doc(Номер=None), ["abc"]), "an error after a warning"),
    (statement(doc(НазначениеПлатежа="a\x9b[2J\u202eb\x1a\x00 ₽")), "control characters, ^Z, NUL and a sign without a windows-1251 form"),
    (b"\xef\xbb\xbf" + statement(doc()), "UTF-8 with a byte-order mark"),
    (b"\xff\xfe" + statement(doc()).decode().encode("utf-16-le"), "UTF-16"),
    (statement(doc(), end=False), "no end"),
]

COMMANDS = [
    ["json"], ["json", "--lines"], ["json", "--raw"], ["csv"], ["csv", "--excel"], ["csv", "--accounts"],
    ["check"], ["check", "--strict"], ["show"],
    ["convert", "-o", "-"], ["convert", "-o", "-", "--encoding", "utf-8", "--newline", "lf"],
    ["convert", "-o", "-", "--encoding", "cp1251"],
]


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    """Every statement the module compares on, by name."""
    folder = tmp_path_factory.mktemp("inputs")
    found = {p.name: p for p in SHIPPED}
    for encoding, newline in FORMS:
        path = folder / f"gen_{encoding}_{newline}.txt"
        subprocess.run([sys.executable, SRC / "bench/gen_statement.py", "--documents", "700", "--seed", "11",
                        "--encoding", encoding, "--newline", newline, "-o", path], check=True)
        found[path.name] = path
    for i, (data, why) in enumerate(DAMAGED):
        path = folder / f"damaged{i}.txt"
        path.write_bytes(data)
        found[why] = path
    return found


NAMES = [p.name for p in SHIPPED] + [f"gen_{e}_{n}.txt" for e, n in FORMS] + [why for _, why in DAMAGED]


def both(args, **kwargs):
    """(status, stdout, stderr) of the tool under test and of the reference."""
    env = {**os.environ, "COLUMNS": "132"}  # show's width where standard output is no terminal
    runs = [subprocess.run([*tool, *map(str, args)], capture_output=True, timeout=120, env=env, **kwargs)
            for tool in (COMMAND, [REFERENCE])]
    return [(r.returncode, r.stdout, r.stderr) for r in runs]


@pytest.mark.parametrize("command", COMMANDS, ids=" ".join)
@pytest.mark.parametrize("name", NAMES)
def test_same_bytes(inputs, name, command):
    tested, reference = both([command[0], inputs[name], *command[1:]])
    assert tested == reference


@pytest.mark.parametrize("command", [["json"], ["csv"], ["check"], ["convert", "-o", "-", "--newline", "lf"]],
                         ids=" ".join)
def test_same_bytes_from_standard_input(inputs, command):
    """Standard input is read as bytes: CR LF, ^Z and NUL reach the parser unchanged."""
    for name in ("gen_cp1251_crlf.txt", DAMAGED[1][1]):
        tested, reference = both([command[0], "-", *command[1:]], input=inputs[name].read_bytes())
        assert tested == reference


@pytest.mark.parametrize("args", [["--encoding", "utf-8", "--newline", "lf"], ["--encoding", "cp1251"]],
                         ids=" ".join)
def test_same_converted_file(inputs, tmp_path, args):
    """convert writes the same file, and a file that was there is replaced."""
    for name in ("gen_utf-8_crlf.txt", "gen_cp1251_lf.txt"):
        outputs = [tmp_path / "tested.txt", tmp_path / "reference.txt"]
        for out in outputs:
            out.write_bytes(b"old")
        for tool, out in zip((COMMAND, [REFERENCE]), outputs):
            result = subprocess.run([*tool, "convert", inputs[name], "-o", out, *args], capture_output=True, timeout=120)
            assert result.returncode == 0, result.stderr
        assert outputs[0].read_bytes() == outputs[1].read_bytes() != b"old"
        assert sorted(tmp_path.iterdir()) == sorted(outputs)  # no temporary file left


FAILURES = [  # (arguments, with {dir} the test's folder and {src} a sound statement; why)
    (["json", "{dir}/missing.txt"], "a missing input"),
    (["csv", "{dir}"], "a folder as input"),
    (["check", "{src}", "{dir}/missing.txt", "{dir}", "-"], "check's report of each"),
    (["convert", "{src}", "-o", "{dir}/no/such/folder/out.txt"], "OUT in a missing folder"),
    (["convert", "{src}", "-o", "{dir}"], "OUT a folder"),
    (["json", "--frobnicate", "{src}"], "bad usage"),
]


@pytest.mark.parametrize("args,why", FAILURES, ids=[f[-1] for f in FAILURES])
def test_same_failures(write, tmp_path, args, why):
    src = write(statement(doc()))
    tested, reference = both([a.format(dir=tmp_path, src=src) for a in args], input=b"")
    assert tested == reference and tested[0] != 0
