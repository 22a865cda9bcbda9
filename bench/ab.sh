#!/usr/bin/env bash
# Compares the core parser of two revisions on a machine whose speed drifts:
#
#   bench/ab.sh BEFORE AFTER [FILE...]
#
# BEFORE and AFTER are git revisions, or "." for the working tree.  Each
# one's core is built as a shared library (g++ -O3, as a release build);
# then, for each statement (default: bench/data/statement_*.txt), the two
# parses alternate call by call with the floor, without and with a no-op
# hook (ab/ab_driver.cpp).  Read the ratio column: per-round ratios are
# steady where minimums and medians of separate runs are not.  Parses are
# held to one thread; AB_THREADS=default gives each core its default (a
# large statement on two threads).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(dirname "$here")
[[ $# -ge 2 ]] || { echo "usage: bench/ab.sh BEFORE AFTER [FILE...]" >&2; exit 2; }
before=$1 after=$2
shift 2
if [[ $# -eq 0 ]]; then  # the generated statements, made when missing as by run_core.sh
  mkdir -p "$top/bench/data"
  for size in 1mb 50mb; do
    for enc in utf8 cp1251; do
      out="$top/bench/data/statement_${size}_${enc}.txt"
      [[ -s $out ]] || python3 "$top/bench/gen_statement.py" --size "${size^^}" --encoding "${enc/utf8/utf-8}" \
        --seed 1 -o "$out"
    done
  done
  set -- "$top"/bench/data/statement_*.txt
fi
files=()
for file in "$@"; do
  [[ -f $file && -r $file ]] || { echo "bench/ab.sh: cannot read $file" >&2; exit 1; }
  files+=("$(realpath "$file")")
done
for revision in "$before" "$after"; do
  [[ $revision == . ]] || git -C "$top" rev-parse --verify --quiet "$revision^{commit}" >/dev/null ||
    { echo "bench/ab.sh: $revision is not a revision of $top" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

build() {  # REVISION NAME
  local src="$work/src-$2"
  mkdir -p "$src"
  if [[ $1 == . ]]; then
    cp -r "$top/core" "$src/"
  else
    git -C "$top" archive "$1" core | tar -x -C "$src" || return 1
  fi
  # A core that can parse on two threads is held to one, the per-line work
  # being what is compared, unless AB_THREADS=default asks for its default.
  # The core's layout: one folder of headers and one of sources, or (since
  # the stages became libraries) a pair for each stage.
  local includes=() sources=()
  if [[ -d $src/core/include ]]; then
    # floor.hpp names the decoder by its public name of today.
    mkdir -p "$src/shim/mirtle"
    echo '#include "text/decode.hpp"' >"$src/shim/mirtle/decode.hpp"
    includes=(-I"$src/core/include" -I"$src/core/src" -I"$src/shim")
    sources=("$src"/core/src/*.cpp "$src"/core/src/*/*.cpp "$src"/core/src/*/*/*.cpp)
  else
    for stage in "$src"/core/*/; do includes+=(-I"$stage/include" -I"$stage/src"); done
    sources=("$src"/core/*/src/*.cpp)
  fi
  local one_thread=()
  [[ ${AB_THREADS:-one} != default ]] && grep -rqs 'struct ParseOptions' "$src/core" &&
    one_thread=(-DAB_ONE_THREAD)
  g++ -std=c++20 -O3 -DNDEBUG -fPIC -shared -fvisibility=hidden -pthread "${one_thread[@]}" \
      "${includes[@]}" "${sources[@]}" "$here/ab/ab_library.cpp" -o "$work/$2.so"
}

echo "building $before and $after ..." >&2
build "$before" before &
before_job=$!
build "$after" after &
after_job=$!
built=1
wait "$before_job" || built=0
wait "$after_job" || built=0
(( built )) || { echo "bench/ab.sh: the build failed" >&2; exit 1; }
g++ -std=c++20 -O2 "$here/ab/ab_driver.cpp" -o "$work/ab_driver" -ldl

cd "$work"
for file in "${files[@]}"; do
  big=$(( $(stat -c %s "$file") >= 10000000 ))
  echo "== $(basename "$file"): $before -> $after"
  ./ab_driver "$file" $(( big ? 30 : 300 )) ./after.so@floor ./before.so ./after.so
  ./ab_driver "$file" $(( big ? 8 : 100 )) ./before.so@hook ./after.so@hook
done
