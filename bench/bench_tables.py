#!/usr/bin/env python3.14
"""Times mirtle.documents_table against mirtle_py.parse, side by side.

    scripts/in-root python3.14 bench/bench_tables.py                  # 50 MB, both encodings
    scripts/in-root python3.14 bench/bench_tables.py --rss 200MB      # peak memory of one table
    scripts/in-root python3.14 bench/bench_tables.py --dask 16x4MB    # Dask, one and two workers
    scripts/in-root python3.14 bench/bench_tables.py --paths          # every path against parse, interleaved

Statements are generated into bench/data/ once.  Each time is the best of
--runs runs; MB means 10^6 bytes.  The table time includes pyarrow's import
of the Arrow stream, so it is what a caller of documents_table waits for.
"""

from __future__ import annotations

import argparse
import gc
import os
import subprocess
import sys
import time
import warnings

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "python"))
warnings.filterwarnings("ignore", message=".*dask-expr.*", category=FutureWarning)

import gen_statement  # noqa: E402


def statement_file(size: str, encoding: str, seed: int = 1) -> str:
    path = os.path.join(HERE, "data", f"statement_{size.lower()}_{encoding.replace('-', '')}_s{seed}.txt")
    if not os.path.exists(path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        gen_statement.main(["--size", size, "--encoding", encoding, "--seed", str(seed), "-o", path])
    return path


def best(runs: int, fn) -> float:
    times = []
    for _ in range(runs):
        gc.collect()
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return min(times)


def side_by_side(size: str, runs: int) -> None:
    import mirtle
    import mirtle_py
    print(f"{'statement':<28}{'parse MB/s':>12}{'table MB/s':>12}{'table/parse':>13}{'rows':>10}")
    for encoding in ("utf-8", "cp1251"):
        path = statement_file(size, encoding)
        with open(path, "rb") as f:
            data = f.read()
        rows = mirtle.documents_table(data).num_rows  # warm up; pyarrow imported here
        parse = best(runs, lambda: mirtle_py.parse(data))
        table = best(runs, lambda: mirtle.documents_table(data))
        mb = len(data) / 1e6
        print(f"{os.path.basename(path):<28}{mb / parse:>12.0f}{mb / table:>12.0f}{parse / table:>13.2f}{rows:>10}")


def paths_against_parse(size: str, runs: int) -> None:
    """Each path's speed as a share of parse's: the paths take turns, one
    run each, for --runs rounds, and each keeps its best time, so a slow
    stretch of the machine falls on all of them alike."""
    import mirtle
    import mirtle_py
    paths = {
        "parse": mirtle_py.parse,
        "sections": mirtle.sections,
        "documents_table": mirtle.documents_table,
        "intervals_table": mirtle.intervals_table,
    }
    print(f"{'statement':<28}" + "".join(f"{name:>17}" for name in paths))
    for encoding in ("utf-8", "cp1251"):
        path = statement_file(size, encoding)
        with open(path, "rb") as f:
            data = f.read()
        for call in paths.values():
            call(data)  # warm up; pyarrow imported here
        times = {name: float("inf") for name in paths}
        for _ in range(runs):
            for name, call in paths.items():
                times[name] = min(times[name], best(1, lambda: call(data)))
        mb = len(data) / 1e6
        cells = [f"{mb / times['parse']:>12.0f} MB/s"]
        cells += [f"{times['parse'] / times[name]:>17.2f}" for name in list(paths)[1:]]
        print(f"{os.path.basename(path):<28}" + "".join(cells))


def peak_memory(size: str) -> None:
    path = statement_file(size, "utf-8")
    code = ("import resource, sys, mirtle, pyarrow\n"
            "t = mirtle.documents_table(sys.argv[1])\n"
            "print(t.num_rows, t.nbytes, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)\n")
    base = ("import resource, pyarrow, mirtle, mirtle._native\n"
            "print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)\n")
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}
    rows, nbytes, peak = subprocess.run([sys.executable, "-c", code, path], env=env, capture_output=True,
                                        text=True, check=True).stdout.split()
    idle = subprocess.run([sys.executable, "-c", base], env=env, capture_output=True, text=True,
                          check=True).stdout.split()[0]
    mb = os.path.getsize(path) / 1e6
    print(f"{os.path.basename(path)}: {mb:.0f} MB, {rows} rows, table {int(nbytes) / 1e6:.0f} MB; "
          f"peak RSS {int(peak) / 1e3:.0f} MB ({int(idle) / 1e3:.0f} MB after imports alone)")


def dask_throughput(spec: str) -> None:
    import distributed
    import mirtle.dask
    count, size = spec.split("x")
    paths = [statement_file(size, ("utf-8", "cp1251")[i % 2], seed=i) for i in range(int(count))]
    mb = sum(map(os.path.getsize, paths)) / 1e6
    for workers in (1, 2):
        with distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                      dashboard_address=None) as cluster, distributed.Client(cluster):
            frame = mirtle.dask.read_documents(paths)
            frame.map_partitions(len).compute()  # workers import everything once
            elapsed = best(2, lambda: frame.map_partitions(len).compute())
        print(f"dask, {workers} worker(s), {count} files, {mb:.0f} MB: {mb / elapsed:.0f} MB/s")


def main() -> None:
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--size", default="50MB")
    p.add_argument("--runs", type=int, default=5)
    p.add_argument("--rss", metavar="SIZE", help="report the peak memory of one table of SIZE")
    p.add_argument("--dask", metavar="NxSIZE", help="Dask over N files of SIZE, one and two workers")
    p.add_argument("--paths", action="store_true", help="sections and both tables as shares of parse's speed")
    args = p.parse_args()
    if args.rss:
        peak_memory(args.rss)
    elif args.dask:
        dask_throughput(args.dask)
    elif args.paths:
        paths_against_parse(args.size, args.runs)
    else:
        side_by_side(args.size, args.runs)


if __name__ == "__main__":
    main()
