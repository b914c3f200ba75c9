#!/usr/bin/env bash
# Builds the benchmarks (optimised, in build-bench/) and prints every figure:
# each a ratio of two paths measured side by side in this one run.
# Extra arguments go to every benchmark program (e.g. --benchmark_min_time=2).
# QUENLOW_BUSY_BENCH=1 adds the minute of Quenlow on a busy instance
# (quenlow_busy_bench: 60 s of the workload at 200 changes per second);
# QUENLOW_BUSY_BENCH_ARGS passes it other options (e.g. "-t 10 -r 50").
source "$(dirname "$0")/../scripts/common.sh"
BUILD_DIR="${QUENLOW_BENCH_DIR:-$ROOT/build-bench}"
install_missing
cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENLOW_BENCHMARKS=ON > /dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)" --target quenlow_bench quenlow_startup_bench quenlow_tnsnames_bench \
  ${QUENLOW_BUSY_BENCH:+quenlow_busy_bench}
export QT_QPA_PLATFORM=offscreen
"$BUILD_DIR/bench/quenlow_bench" --benchmark_min_time=1 "$@"
"$BUILD_DIR/bench/quenlow_startup_bench" "$@"
"$BUILD_DIR/bench/quenlow_tnsnames_bench" "$@"
if [ -n "${QUENLOW_BUSY_BENCH:-}" ]; then
  # shellcheck disable=SC2086
  "$BUILD_DIR/bench/quenlow_busy_bench" ${QUENLOW_BUSY_BENCH_ARGS:-}
fi
