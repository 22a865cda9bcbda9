#!/usr/bin/env python3.14
"""Times the mirtle toolkit against mirtle_py.parse on one statement, one run each.

    scripts/in-root python3.14 bench/bench_toolkit.py bench/data/statement_50mb_cp1251.txt

Reports MB/s (10^6 bytes of input per second) for parse, sections (the stream
as Python objects; attributes built on first read), sections with every
section's attributes read, to_dict, and write (records and stream, windows-1251).
"""

import sys
import time

import mirtle
import mirtle_py


def timed(label, size, call):
    start = time.perf_counter()
    result = call()
    seconds = time.perf_counter() - start
    print(f"{label:<34} {seconds:7.3f} s {size / 1e6 / seconds:8.0f} MB/s")
    return result


def main(path):
    data = open(path, "rb").read()
    n = len(data)
    print(f"{path}: {n / 1e6:.1f} MB")
    stmt = timed("mirtle_py.parse", n, lambda: mirtle_py.parse(data))
    s = timed("mirtle.sections", n, lambda: mirtle.sections(data))
    timed("mirtle.sections + every attributes", n,
          lambda: [x.attributes for x in mirtle.sections(data).sections])
    timed("mirtle.to_dict", n, lambda: mirtle.to_dict(stmt))
    timed("mirtle.write(statement)", n, lambda: mirtle.write(stmt, update_encoding_header=True))
    timed("mirtle.write(sections)", n, lambda: mirtle.write(s, update_encoding_header=True))


if __name__ == "__main__":
    main(sys.argv[1])
