#!/usr/bin/env python3.14
"""A parse with a no-op hook against the same parse without hooks.

    scripts/in-root python3.14 bench/bench_hooks.py bench/data/statement_*mb_*.txt

Both are timed in turn, best of --runs each, so that the machine's drift
touches both alike; the ratio is the hooked parse's speed over the plain one's.
"""

import argparse
import time

import mirtle_py


def noop(section_type, attrs, header):
    return None


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("files", nargs="+")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    for path in args.files:
        with open(path, "rb") as f:
            data = f.read()
        best = {"plain": float("inf"), "hook": float("inf")}
        for _ in range(args.runs):
            for name, hooks in (("plain", None), ("hook", [noop])):
                start = time.perf_counter()
                mirtle_py.parse(data, hooks=hooks)
                best[name] = min(best[name], time.perf_counter() - start)
        rates = {name: len(data) / seconds / 1e6 for name, seconds in best.items()}
        print(f"{path}: plain {rates['plain']:.0f} MB/s, no-op hook {rates['hook']:.0f} MB/s, "
              f"ratio {best['plain'] / best['hook']:.3f}")


if __name__ == "__main__":
    main()
