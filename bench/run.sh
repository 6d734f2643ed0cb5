#!/usr/bin/env bash
# Builds the plug-ins and the benchmark, runs it, and prints the tables.
#
#   bench/run.sh [native|linux32] [Google Benchmark flags...]
#
# The tables go to standard output, the running log to standard error:
#   bench/run.sh > table.md
# The build directory is build/<preset> unless VX_BENCH_BUILD_DIR names another.
set -euo pipefail
cd "$(dirname "$0")/.."

preset=native
case "${1:-}" in
  native|linux32) preset=$1; shift ;;
esac
build_dir=${VX_BENCH_BUILD_DIR:-build/$preset}

cmake --preset "$preset" -B "$build_dir" >/dev/null
if ! cmake --build "$build_dir" --target vxbench >&2; then
  echo "bench/run.sh: vxbench did not build; it needs libbenchmark-dev and libstk-dev" \
       "(and their :i386 packages for linux32)" >&2
  exit 1
fi
exec "$build_dir/bench/vxbench" "$@"
