#!/usr/bin/env bash
# Measures the programs against copying the same bytes: ravgen against
# `cp` of a file of the generated size, ravan against `cat FILE > /dev/null`.
# Builds in Release, runs each pair interleaved RUNS times (default 9) and
# prints the median times, their ratio and each program's peak resident
# memory, for the default sweep and for numAvg 20.
#
#   bench/run.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-9}
build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTONEBURST_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Wall time of one command in microseconds, from bash's own clock so that
# no helper process is counted.
micros() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null
  local end=$EPOCHREALTIME
  echo $(( (${end/./} - ${start/./}) ))
}

median() {
  sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'
}

peak_kib() {
  /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1
}

measure() {
  local label=$1; shift
  local args=("$@")
  "$build/ravgen" "$work/gen.wav" "${args[@]}" >/dev/null
  cp "$work/gen.wav" "$work/source.wav"
  local size
  size=$(stat -c %s "$work/gen.wav")
  : >"$work/gen.t"; : >"$work/cp.t"; : >"$work/an.t"; : >"$work/cat.t"
  for ((i = 0; i < runs; i++)); do
    rm -f "$work/copy.wav" "$work/gen.wav"
    micros cp "$work/source.wav" "$work/copy.wav" >>"$work/cp.t"
    micros "$build/ravgen" "$work/gen.wav" "${args[@]}" >>"$work/gen.t"
    micros cat "$work/source.wav" >>"$work/cat.t"
    micros "$build/ravan" "$work/source.wav" "${args[@]}" >>"$work/an.t"
  done
  local gen cp_ an cat_
  gen=$(median <"$work/gen.t"); cp_=$(median <"$work/cp.t")
  an=$(median <"$work/an.t"); cat_=$(median <"$work/cat.t")
  local gen_kib an_kib
  gen_kib=$(peak_kib "$build/ravgen" "$work/gen.wav" "${args[@]}")
  an_kib=$(peak_kib "$build/ravan" "$work/source.wav" "${args[@]}")
  awk -v label="$label" -v size="$size" -v gen="$gen" -v cp="$cp_" -v an="$an" -v cat="$cat_" \
      -v gk="$gen_kib" -v ak="$an_kib" 'BEGIN {
    printf "%s: %d bytes\n", label, size
    printf "  ravgen %8.1f ms   cp            %8.1f ms   ratio %.2f   peak %.1f MiB\n", gen/1000, cp/1000, gen/cp, gk/1024
    printf "  ravan  %8.1f ms   cat >/dev/null %7.1f ms   ratio %.2f   peak %.1f MiB\n", an/1000, cat/1000, an/cat, ak/1024
  }'
}

echo "median of $runs interleaved runs"
measure "default sweep" 
measure "sweep, numAvg 20" 22050 20

# ravprep on the default sweep as a 48 kHz 24-bit recording on a clock
# 50 ppm fast (SoX makes it; the resampler's own share is the difference
# to the same file at 44100 Hz 16-bit, which is copied).
if [[ -x "$build/ravprep" ]] && command -v sox >/dev/null; then
  "$build/ravgen" "$work/sweep.wav" >/dev/null
  sox "$work/sweep.wav" -b 24 "$work/rec48s.wav" speed 0.99995 rate -v 48000
  : >"$work/prep.t"; : >"$work/copy.t"; : >"$work/cat48.t"
  for ((i = 0; i < runs; i++)); do
    micros cat "$work/rec48s.wav" >>"$work/cat48.t"
    micros "$build/ravprep" "$work/rec48s.wav" "$work/aligned.wav" >>"$work/prep.t"
    micros "$build/ravprep" "$work/sweep.wav" "$work/copied.wav" >>"$work/copy.t"
  done
  prep=$(median <"$work/prep.t"); copy=$(median <"$work/copy.t"); cat48=$(median <"$work/cat48.t")
  prep_kib=$(peak_kib "$build/ravprep" "$work/rec48s.wav" "$work/aligned.wav")
  awk -v prep="$prep" -v copy="$copy" -v cat="$cat48" -v pk="$prep_kib" 'BEGIN {
    printf "ravprep, 48 kHz 24-bit sweep: %.1f ms (cat %.1f ms, the same sweep copied at 44100 Hz %.1f ms)   peak %.1f MiB\n", prep/1000, cat/1000, copy/1000, pk/1024
  }'
else
  echo "ravprep or sox missing: ravprep not measured"
fi
