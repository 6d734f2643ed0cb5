#!/usr/bin/env bash
# Builds the plug-ins and the benchmark, runs it, and prints the tables.
#
#   bench/run.sh [native|linux32] [Google Benchmark flags...]
#
# The tables go to standard output, the running log to standard error:
#   bench/run.sh > table.md
# The build directory is build/<preset> unless VX_BENCH_BUILD_DIR names another.
# linux32 is skipped, with a notice, on a machine that does not execute 32-bit
# x86 programs itself (cmake/ia32.sh; VX_IA32=yes|no overrides the probe).
set -euo pipefail
cd "$(dirname "$0")/.."

preset=native
case "${1:-}" in
  native|linux32) preset=$1; shift ;;
esac
build_dir=${VX_BENCH_BUILD_DIR:-build/$preset}

# Timing a 32-bit build under an emulator would measure the emulator.
if [ "$preset" = linux32 ] && [ "$(cmake/ia32.sh)" != native ]; then
  echo "bench/run.sh: skipped: this machine does not execute 32-bit x86 programs itself," \
       "and an emulated timing means nothing" >&2
  exit 0
fi

cmake --preset "$preset" -B "$build_dir" >/dev/null
if ! cmake --build "$build_dir" --target vxbench >&2; then
  echo "bench/run.sh: vxbench did not build; it needs libbenchmark-dev and libstk-dev" \
       "(and their :i386 packages for linux32)" >&2
  exit 1
fi
exec "$build_dir/bench/vxbench" "$@"
