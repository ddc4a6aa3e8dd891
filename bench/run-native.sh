#!/usr/bin/env bash
# Builds the `bench` preset, runs vx_bench (5 repetitions, in random order, medians kept) and
# prints every figure beside its floor as Markdown tables (bench/ratios.py).
#
#   bench/run-native.sh                              everything (about 4 minutes)
#   bench/run-native.sh --benchmark_filter=cube_     extra arguments go to vx_bench
#
# The raw results stay in build/bench/vx_bench.json. The GBK cases need the zh_CN.GBK
# locale (scripts/make-test-locales.sh, as root); without it they are reported as missing.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "${root}"

if ! locale -a 2>/dev/null | grep -qixF zh_CN.gbk; then
  echo "run-native: locale zh_CN.GBK is missing (scripts/make-test-locales.sh builds it)" >&2
fi

cmake --preset bench >/dev/null
cmake --build build/bench --target vx_bench -j 2 >/dev/null

json=build/bench/vx_bench.json
echo "run-native: running vx_bench; results in ${json}" >&2
build/bench/bench/vx_bench \
  --benchmark_repetitions=5 \
  --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true \
  --benchmark_format=json \
  "$@" >"${json}"

python3 bench/ratios.py "${json}"
