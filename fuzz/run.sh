#!/usr/bin/env bash
# fuzz/run.sh SECONDS: builds the fuzz preset and runs every libFuzzer target
# for SECONDS each: first over its kept regression inputs, then fuzzing from
# the seed corpus. Fails on any finding; a finding's input is left in
# build/fuzz/findings/<target>/ to be fixed and then kept in fuzz/regressions/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:?usage: fuzz/run.sh SECONDS}"
targets=(fuzz_ramplet fuzz_sumtone)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${targets[@]}"

# The plug-ins and the targets share the shared sanitizer runtime, which
# must be the first library loaded; only the fuzzers run with it preloaded.
asan_runtime="$(clang++ -print-file-name=libclang_rt.asan-x86_64.so)"

status=0
passed=0
failed=0
for target in "${targets[@]}"; do
  before=$status
  exe="build/fuzz/fuzz/$target"
  plugin="${target#fuzz_}"
  findings="build/fuzz/findings/$target"
  work="build/fuzz/corpus/$target"
  mkdir -p "$findings" "$work"
  if compgen -G "fuzz/regressions/$plugin/*" >/dev/null; then
    echo "== $target: regression inputs"
    LD_PRELOAD="$asan_runtime" "$exe" -runs=0 fuzz/regressions/"$plugin"/* || status=1
  fi
  echo "== $target: fuzzing for $seconds s"
  # The working corpus grows in the build tree; the seeds in the repository stay as they are.
  LD_PRELOAD="$asan_runtime" "$exe" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -max_len=4096 -print_final_stats=1 \
         -artifact_prefix="$findings/" "$work" "fuzz/corpus/$plugin" || status=1
  if [ "$status" -eq "$before" ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done
if [ "$status" -ne 0 ]; then
  echo "fuzzing found a fault; its input is in build/fuzz/findings/" >&2
fi
echo "fuzz: $passed passed, $failed failed"
exit "$status"
