#!/usr/bin/env bash
# Generates the benchmark inputs (once) and runs the core benchmark from a
# release build in build/bench.  Arguments go to the benchmark binary, e.g.
#   bench/run_core.sh --benchmark_filter='50mb' --benchmark_repetitions=3
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

data="${MIRTLE_BENCH_DATA:-$MIRTLE_SRC/bench/data}"
build="$MIRTLE_SRC/build/bench"
mkdir -p "$data"

# Regenerated only when missing or older than the generator.
gen=()
for size in 1mb 50mb; do
  for enc in utf8 cp1251; do
    out="$data/statement_${size}_${enc}.txt"
    if [[ ! -s "$out" || "$out" -ot "$MIRTLE_SRC/bench/gen_statement.py" ]]; then
      gen+=("python3.14 bench/gen_statement.py --size ${size^^} --encoding ${enc/utf8/utf-8} --seed 1 -o '$out'")
    fi
  done
done

inner="
  set -e
  cd '$MIRTLE_SRC'
  $(for g in "${gen[@]}"; do printf '%s\n' "echo '[mirtle] $g' >&2; $g"; done)
  cmake -G Ninja -S '$MIRTLE_SRC' -B '$build' -DCMAKE_BUILD_TYPE=Release \
    -DMIRTLE_PYTHON=OFF -DMIRTLE_TESTS=OFF -DMIRTLE_BENCH=ON >/dev/null
  cmake --build '$build' --target mirtle_bench -- -j1
  MIRTLE_BENCH_DATA='$data' '$build/bench/mirtle_bench' ${*@Q}
"
exec "$MIRTLE_SRC/scripts/in-root" bash -c "$inner"
