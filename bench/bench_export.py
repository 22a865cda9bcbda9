"""Times the tool's export commands, two builds interleaved in one sitting.

    python3 bench/bench_export.py --tool old=/tmp/before/b/cli/mirtle --tool new=build/host/cli/mirtle \
        bench/data/statement_50mb_utf8.txt bench/data/statement_50mb_cp1251.txt

Each command runs `--runs` times per tool, the tools taking turns, output to
/dev/null (xlsx: to a file in a temporary directory); prints the best and
median wall time, MB/s of statement, and the peak RSS of the runs.  A tool
that lacks a command (xlsx before it existed) is skipped for it.
"""

import argparse
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

COMMANDS = {
    "json": lambda f, out: ["json", f],
    "json --lines": lambda f, out: ["json", "--lines", f],
    "csv": lambda f, out: ["csv", f],
    "xlsx": lambda f, out: ["xlsx", f, "-o", out],
    "check --balances": lambda f, out: ["check", "--balances", f],
}


def run_once(tool, args):
    """Wall seconds and peak RSS (MiB) of one run in a child of its own."""
    code = ("import resource, subprocess, sys, time; t = time.perf_counter(); "
            "r = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL); "
            "t = time.perf_counter() - t; "
            "print(r.returncode, t, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
    out = subprocess.run([sys.executable, "-c", code, tool, *args], capture_output=True, text=True, check=True)
    rc, seconds, rss_kib = out.stdout.split()
    return int(rc), float(seconds), int(rss_kib) / 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tool", action="append", required=True, help="NAME=PATH, in the order they take turns")
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--commands", default="json,csv", help="comma-separated, from: " + ", ".join(COMMANDS))
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    tools = [t.split("=", 1) for t in args.tool]
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.xlsx")
        for path in args.files:
            mb = os.path.getsize(path) / 1e6
            for command in args.commands.split(","):
                times = {name: [] for name, _ in tools}
                rss = {name: 0.0 for name, _ in tools}
                for _ in range(args.runs):
                    for name, tool in tools:
                        rc, seconds, peak = run_once(tool, COMMANDS[command](path, out))
                        if rc != 0:
                            times[name] = None
                            continue
                        if times[name] is not None:
                            times[name].append(seconds)
                            rss[name] = max(rss[name], peak)
                for name, _ in tools:
                    t = times[name]
                    if not t:
                        continue
                    best = min(t)
                    print(f"{os.path.basename(path)}  {command:<16} {name:<6} best {best * 1000:7.1f} ms "
                          f"median {statistics.median(t) * 1000:7.1f} ms  {mb / best:6.0f} MB/s  "
                          f"peak RSS {rss[name]:6.1f} MiB")


if __name__ == "__main__":
    main()
