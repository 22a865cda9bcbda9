#!/usr/bin/env python3.14
"""Times mirtle_py.parse against a pure-Python parser and against the floor.

The floor is what any Python reader of the file pays at least:
``data.decode(encoding).splitlines()``.  Each case is the best of N runs.

    scripts/in-root python3.14 bench/bench_parse.py                 # bench/data/*.txt
    scripts/in-root python3.14 bench/bench_parse.py f1.txt --runs 3 --png out.png
    scripts/in-root python3.14 bench/bench_parse.py --rss bench/data/statement_50mb_utf8.txt

Columns: mirtle MB/s and documents/s, pure-Python MB/s, ratio (how many
times faster mirtle is than pure Python) and floor ratio (mirtle's time
over the floor's time: 1.0 would mean parsing costs no more than
decoding and cutting lines).  MB means 10^6 bytes.
"""

from __future__ import annotations

import argparse
import gc
import glob
import os
import resource
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import pure_parser  # noqa: E402

try:
    import mirtle_py
except ImportError as e:  # the module is built separately (scripts/build)
    mirtle_py = None
    _import_error = e


def best_of(runs: int, fn, *args) -> tuple[float, object]:
    best, result = float("inf"), None
    for _ in range(runs):
        result = None  # the previous result is freed before the next run, untimed
        gc.collect()
        t0 = time.perf_counter()
        result = fn(*args)
        best = min(best, time.perf_counter() - t0)
    return best, result


def floor(data: bytes, encoding: str) -> list[str]:
    return data.decode(encoding).splitlines()


def bench_file(path: str, runs: int, pure_runs: int) -> dict:
    with open(path, "rb") as f:
        data = f.read()
    row = {"file": os.path.basename(path), "mb": len(data) / 1e6}

    t, st = best_of(runs, mirtle_py.parse, data)
    row["mirtle_s"], row["docs"], row["warnings"] = t, len(st.documents), len(st.warnings)
    encoding = st.encoding
    del st

    row["floor_s"], _ = best_of(runs, floor, data, encoding)
    if pure_runs > 0:
        t, ref = best_of(pure_runs, pure_parser.parse, data)
        row["pure_s"] = t
        if (len(ref["documents"]), len(ref["warnings"])) != (row["docs"], row["warnings"]):
            print(f"note: {row['file']}: pure parser found {len(ref['documents'])} documents and "
                  f"{len(ref['warnings'])} warnings, mirtle {row['docs']} and {row['warnings']}",
                  file=sys.stderr)
        del ref
    return row


def print_table(rows: list[dict]) -> None:
    head = ("file", "size MB", "mirtle MB/s", "docs/s", "pure-py MB/s", "ratio", "floor ratio")
    lines = []
    for r in rows:
        mbs = r["mb"] / r["mirtle_s"]
        pure = r["mb"] / r["pure_s"] if "pure_s" in r else None
        lines.append((
            r["file"], f"{r['mb']:.2f}", f"{mbs:.1f}", f"{r['docs'] / r['mirtle_s']:,.0f}",
            f"{pure:.1f}" if pure else "-",
            f"{r['pure_s'] / r['mirtle_s']:.1f}x" if pure else "-",
            f"{r['mirtle_s'] / r['floor_s']:.2f}",
        ))
    widths = [max(len(h), *(len(l[i]) for l in lines)) for i, h in enumerate(head)]
    fmt = "  ".join(f"{{:<{w}}}" if i == 0 else f"{{:>{w}}}" for i, w in enumerate(widths))
    print(fmt.format(*head))
    print(fmt.format(*("-" * w for w in widths)))
    for l in lines:
        print(fmt.format(*l))


def write_png(rows: list[dict], path: str) -> None:
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not available: no chart written", file=sys.stderr)
        return
    names = [r["file"] for r in rows]
    series = [("mirtle_py", "mirtle_s"), ("floor: decode + splitlines", "floor_s"),
              ("pure Python", "pure_s")]
    fig, ax = plt.subplots(figsize=(max(6, 1.8 * len(rows)), 4))
    width = 0.8 / len(series)
    for i, (label, key) in enumerate(series):
        values = [r["mb"] / r[key] if key in r else 0 for r in rows]
        ax.bar([x + i * width for x in range(len(rows))], values, width, label=label)
    ax.set_xticks([x + width for x in range(len(rows))], names, rotation=15, fontsize=8)
    ax.set_ylabel("MB/s (higher is better)")
    ax.set_title("Statement parsing throughput")
    ax.legend()
    fig.tight_layout()
    fig.savefig(path, dpi=120)
    print(f"chart written to {path}", file=sys.stderr)


_RSS_CHILD = """
import resource, sys
sys.path.insert(0, sys.argv[3])
data = open(sys.argv[2], 'rb').read()
what = sys.argv[1]
if what == 'mirtle':
    import mirtle_py
    result = mirtle_py.parse(data)
elif what == 'pure':
    import pure_parser
    result = pure_parser.parse(data)
else:
    result = None
print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)
"""


def report_rss(path: str, with_pure: bool) -> None:
    size = os.path.getsize(path) / 1e6
    print(f"peak RSS parsing {path} ({size:.2f} MB):")
    base = None
    for what in ("read-only", "mirtle", *(["pure"] if with_pure else [])):
        out = subprocess.run([sys.executable, "-c", _RSS_CHILD, what, path, HERE],
                             check=True, capture_output=True, text=True).stdout
        mb = int(out.split()[-1]) / 1024  # ru_maxrss is in KiB on Linux
        if base is None:
            base = mb
            print(f"  {what:<10} {mb:8.1f} MiB  (interpreter + file bytes)")
        else:
            extra = mb - base
            print(f"  {what:<10} {mb:8.1f} MiB  (+{extra:.1f} MiB, {extra * 1.048576 / size:.2f}x the file)")


def main() -> int:
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("files", nargs="*", help="statements (default bench/data/*.txt)")
    p.add_argument("--runs", type=int, default=5, help="runs per case, best is kept (default 5)")
    p.add_argument("--pure-runs", type=int, default=2,
                   help="runs of the pure-Python parser (default 2; 0 skips it)")
    p.add_argument("--png", help="write a bar chart (needs matplotlib)")
    p.add_argument("--rss", metavar="FILE", help="report the peak RSS of parsing FILE and stop")
    args = p.parse_args()

    if mirtle_py is None:
        print(f"cannot import mirtle_py ({_import_error}); build it with scripts/build and run "
              "this through scripts/in-root", file=sys.stderr)
        return 1
    if args.rss:
        report_rss(args.rss, args.pure_runs > 0)
        return 0

    files = args.files or sorted(glob.glob(os.path.join(HERE, "data", "*.txt")),
                                 key=os.path.getsize)
    if not files:
        print("no input files: run bench/run_core.sh or bench/gen_statement.py first",
              file=sys.stderr)
        return 1
    rows = [bench_file(f, args.runs, args.pure_runs) for f in files]
    print_table(rows)
    if args.png:
        write_png(rows, args.png)
    return 0


if __name__ == "__main__":
    sys.exit(main())
