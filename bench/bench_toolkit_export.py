"""Times the toolkit's exporters on statements in memory, in one sitting.

    scripts/in-root python3.14 bench/bench_toolkit_export.py bench/data/statement_50mb_utf8.txt ...

For each file: mirtle_py.parse for reference; to_json of a parsed statement
beside json.dumps of to_dict (the pure-Python form of the same text); to_csv,
to_xlsx and balances streamed from the bytes.  Best of --runs, the cases
taking turns; MB/s of statement.
"""

import argparse
import json
import sys
import tempfile
import time
from pathlib import Path

import mirtle
import mirtle_py


def cases(data, out):
    stmt = mirtle_py.parse(data)
    return {
        "parse": lambda: mirtle_py.parse(data),
        "to_json(stmt)": lambda: mirtle.to_json(stmt),
        "json.dumps(to_dict(stmt))": lambda: json.dumps(mirtle.to_dict(stmt), ensure_ascii=False,
                                                        separators=(",", ":")),
        "to_csv(bytes)": lambda: mirtle.to_csv(data),
        "to_xlsx(bytes, path)": lambda: mirtle.to_xlsx(data, out),
        "balances(bytes)": lambda: mirtle.balances(data),
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("files", nargs="+", type=Path)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        for path in args.files:
            data = path.read_bytes()
            todo = cases(data, Path(folder) / "out.xlsx")
            best = dict.fromkeys(todo, float("inf"))
            for _ in range(args.runs):
                for name, call in todo.items():
                    start = time.perf_counter()
                    call()
                    best[name] = min(best[name], time.perf_counter() - start)
            print(f"{path.name} ({len(data) / 1e6:.1f} MB)")
            for name, seconds in best.items():
                print(f"  {name:28} {seconds * 1e3:9.1f} ms  {len(data) / 1e6 / seconds:8.1f} MB/s")
            sys.stdout.flush()


if __name__ == "__main__":
    main()
