"""convert's output: what it replaces and what it writes in place, its
temporary file, and the Кодировка values it renames."""

import json
import os
import resource
import shutil
import stat
import subprocess
import tempfile
import threading

import pytest

from conftest import COMMAND, TOOL, WINDOWS, doc, posix_only, run, statement


def converted(tmp_path, src, *args, stdin=b""):
    """The converted text, as written to a new regular file."""
    reference = tmp_path.parent / f"{tmp_path.name}-reference"
    assert run("convert", src, "-o", reference, *args, stdin=stdin).returncode == 0
    return reference.read_bytes()


def test_a_planted_link_is_not_followed(write, tmp_path):
    src, victim, out = write(statement(doc())), tmp_path / "victim", tmp_path / "out.txt"
    victim.write_bytes(b"precious")
    links = [tmp_path / name for name in ("out.txt.mirtle-tmp", ".out.txt.mirtle-tmp")]
    for link in links:
        link.symlink_to(victim)
    assert run("convert", src, "-o", out).returncode == 0
    assert victim.read_bytes() == b"precious" and out.read_bytes() == converted(tmp_path, src)
    assert sorted(tmp_path.iterdir()) == sorted([src, victim, out, *links])


def test_two_converts_to_one_output(generated, tmp_path):
    """Each writes a file of its own: both succeed, and the output is one of them, whole."""
    out = tmp_path / "out.txt"
    expected = {converted(tmp_path, generated, "--newline", n) for n in ("lf", "crlf")}
    for _ in range(8):
        both = [subprocess.Popen([*COMMAND, "convert", generated, "-o", out, "--newline", n]) for n in ("lf", "crlf")]
        assert [p.wait() for p in both] == [0, 0]
        assert out.read_bytes() in expected and list(tmp_path.iterdir()) == [out]


def fifo(path):
    """A FIFO with a reader; returns what the reader got."""
    os.mkfifo(path)
    got = []
    reader = threading.Thread(target=lambda: got.append(path.read_bytes()), daemon=True)
    reader.start()
    return lambda: (reader.join(30), got[0])[1]


def device(path):
    if os.geteuid() != 0:
        pytest.skip("mknod needs root")
    os.mknod(path, stat.S_IFCHR | 0o666, os.stat("/dev/null").st_rdev)


def existing(mode, link=False):
    def setup(path):
        target = path.with_name("target.txt") if link else path
        target.write_bytes(b"old")
        target.chmod(mode)
        if link:
            path.symlink_to(target.name)
    return setup


# (set-up of OUT, the kind OUT still is, its mode after, whether it holds the statement, why)
OUTPUTS = [
    (fifo, stat.S_ISFIFO, None, True, "a FIFO is written in place"),
    (device, stat.S_ISCHR, None, False, "a device node stays a device"),
    (existing(0o600), stat.S_ISREG, 0o600, True, "a replaced file keeps its mode"),
    (existing(0o604, link=True), stat.S_ISLNK, 0o604, True, "a link keeps leading to its target, which is replaced"),
    (lambda path: None, stat.S_ISREG, 0o640, True, "a new file has the mode the umask gives"),
]


@posix_only("FIFOs, device nodes, modes and the umask (test_windows.py has NUL and read-only files)")
@pytest.mark.parametrize("setup,kind,mode,holds,why", OUTPUTS, ids=[o[-1] for o in OUTPUTS])
def test_convert_output_kinds(write, tmp_path, setup, kind, mode, holds, why):
    src, out = write(statement(doc())), tmp_path / "out.txt"
    read = setup(out) or out.read_bytes
    result = subprocess.run([*COMMAND, "convert", src, "-o", out], timeout=60, preexec_fn=lambda: os.umask(0o027))
    assert result.returncode == 0 and kind(os.lstat(out).st_mode)
    assert mode is None or stat.S_IMODE(os.stat(out).st_mode) == mode
    assert not holds or read() == converted(tmp_path, src)
    assert not [p for p in tmp_path.iterdir() if p.name.startswith(".")]  # no temporary file left


def as_user():
    """As root, runs the tool as the user nobody (wine keeps its prefix to its owner)."""
    if os.geteuid() == 0 and not WINDOWS:
        os.setgid(65534)
        os.setuid(65534)


@pytest.fixture
def user_command():
    """The tool's command for the user nobody: as root, a copy of the tool in a folder anyone may enter,
    since the checkout may lie below one only root can (mktemp -d makes such)."""
    if os.geteuid() != 0 or WINDOWS:
        yield COMMAND
        return
    folder = tempfile.mkdtemp()
    try:
        os.chmod(folder, 0o755)
        tool = shutil.copy(TOOL, folder)
        os.chmod(tool, 0o755)
        yield [*COMMAND[:-1], tool]
    finally:
        shutil.rmtree(folder)


@pytest.mark.parametrize("target", ["-", pytest.param("/dev/stdout", marks=posix_only("/dev/stdout"))])
def test_convert_to_standard_output(tmp_path, user_command, target):
    """As an ordinary user too: /dev/stdout is written through, never replaced."""
    data = statement(doc())
    result = subprocess.run([*user_command, "convert", "-", "-o", target], input=data, capture_output=True,
                            timeout=60, preexec_fn=as_user)
    assert (result.returncode, result.stdout) == (0, converted(tmp_path, "-", stdin=data))


@posix_only("file size limits (test_windows.py makes the replacement fail instead)")
def test_a_failed_write_leaves_out_as_it_was(tmp_path):
    """A file size limit makes the write fail: the error names OUT, and no temporary file stays."""
    out = tmp_path / "out.txt"
    out.write_bytes(b"old")
    result = subprocess.run([*COMMAND, "convert", "-", "-o", out], input=statement(doc()), capture_output=True, timeout=60,
                            preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (100, 100)))
    assert (result.returncode, result.stderr.decode()) == (1, f"mirtle: {out}: File too large\n")
    assert list(tmp_path.iterdir()) == [out] and out.read_bytes() == b"old"


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
