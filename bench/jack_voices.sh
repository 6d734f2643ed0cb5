#!/usr/bin/env bash
# How many voices play through JACK without an xrun: a private JACK server
# (dummy backend, 48000 Hz, 256-frame periods unless told otherwise) and
# `vxhost play` of patches with more and more voices, each a sumtone
# oscillator shaped by a ramplet envelope through a multiplier, all mixed.
# The count doubles until a run has an xrun or uses more than the period,
# then the last step is halved down. A report, not a test: the answer
# depends on the machine and on what else runs on it.
#
#   bench/jack_voices.sh [SECONDS-PER-RUN] [PERIOD]
#
# Prints one line per run and the largest count that played cleanly.
# VX_JACK_REALTIME=1 runs the server with real-time scheduling (needs the
# right to it); by default it runs without, as the tests do.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-10}
period=${2:-256}
build_dir=${VX_BENCH_BUILD_DIR:-build/native}
cmake --preset native -B "$build_dir" >/dev/null
cmake --build "$build_dir" --target vxhost ramplet sumtone >&2
vxhost=$build_dir/tools/vxhost

work=$(mktemp -d)
server=vxvoices-$$
export JACK_DEFAULT_SERVER=$server JACK_NO_AUDIO_RESERVATION=1
realtime=--no-realtime
[ "${VX_JACK_REALTIME:-0}" = 1 ] && realtime=--realtime
jackd "$realtime" -n "$server" -d dummy -r 48000 -p "$period" >"$work/jackd.log" 2>&1 &
jackd_pid=$!
trap 'kill $jackd_pid 2>/dev/null; wait $jackd_pid 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do
  jack_lsp >/dev/null 2>&1 && break
  sleep 0.1
done

# A patch of N held notes at different pitches, mixed 64 to a mixer (the
# most a mixer takes) and the mixers mixed again.
write_patch() {
  local voices=$1 file=$2 v groups g
  groups=$(((voices + 63) / 64))
  {
    echo '{ "sample_rate": 48000, "block_size": 256, "modules": {'
    for ((v = 1; v <= voices; v++)); do
      printf '"osc%d": { "plugin": "sumtone", "pins": { "fc": %s, "fm1": 0.1, "N": 10, "a": 0.08, "maxfreq": 2000, "gate": "0:1" } },\n' \
        "$v" "$(awk -v v="$v" 'BEGIN { printf "%.4f", 0.3 + 0.0007 * v }')"
      printf '"env%d": { "plugin": "ramplet", "pins": { "Gate": "0:1", "Attack": 0.1, "Sustain": 0.6 } },\n' "$v"
      printf '"vca%d": { "utility": "multiply" },\n' "$v"
    done
    for ((g = 1; g <= groups; g++)); do
      local size=$((g < groups ? 64 : voices - 64 * (groups - 1)))
      printf '"mix%d": { "utility": "mix", "inputs": %d, "gains": [%s] },\n' "$g" "$size" \
        "$(yes "$(awk -v n="$voices" 'BEGIN { printf "%.6f", 1 / n }')" | head -n "$size" | paste -sd,)"
    done
    printf '"out": { "utility": "mix", "inputs": %d } }, "wires": [\n' "$groups"
    for ((v = 1; v <= voices; v++)); do
      printf '{ "from": "osc%d.output", "to": "vca%d.in1" }, { "from": "env%d.Signal Out", "to": "vca%d.in2" },\n' \
        "$v" "$v" "$v" "$v"
      printf '{ "from": "vca%d.out", "to": "mix%d.in%d" },\n' "$v" $(((v - 1) / 64 + 1)) $(((v - 1) % 64 + 1))
    done
    for ((g = 1; g <= groups; g++)); do
      printf '{ "from": "mix%d.out", "to": "out.in%d" }%s\n' "$g" "$g" "$([ "$g" -lt "$groups" ] && echo ,)"
    done
    echo '], "output": "out.out" }'
  } >"$file"
}

# Plays N voices; true when a run had no xrun and its peak stayed within the
# period. On a shared machine a single late cycle can be another program's
# doing, so a count gets three tries.
clean() {
  local voices=$1 report xruns peak try
  write_patch "$voices" "$work/voices.json"
  for try in 1 2 3; do
    report=$("$vxhost" play "$work/voices.json" --seconds "$seconds" --no-connect | tail -n 1)
    echo "$voices voices: $report"
    xruns=$(sed -n 's/.*: \([0-9]*\) xruns\{0,1\},.*/\1/p' <<<"$report")
    peak=$(sed -n 's/.* \([0-9.]*\) % peak.*/\1/p' <<<"$report")
    if [ "${xruns:-1}" = 0 ] && awk -v p="${peak:-1000}" 'BEGIN { exit !(p < 100) }'; then return 0; fi
  done
  return 1
}

best=0
voices=1
while clean "$voices"; do
  best=$voices
  voices=$((voices * 2))
done
step=$(((voices - best) / 2))
while [ "$step" -ge 1 ]; do
  if clean $((best + step)); then best=$((best + step)); fi
  step=$((step / 2))
done
echo "largest count without an xrun at 48000 Hz, $period-frame periods, $seconds s each: $best voices"
