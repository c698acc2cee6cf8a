#!/usr/bin/env bash
# Measures the programs against the bare baselines on the same bytes, in one
# run: ravgen against `cp` of its file and a plain read()/write() copy loop,
# ravan against `cat FILE > /dev/null`, a plain read() loop and the floor of
# an exact analysis (bench/analysis_floor.cpp). Builds in
# Release; each program and its baselines run interleaved RUNS times
# (default 15) and the table gives the median of the paired ratios of CPU
# time (user + system, from the kernel's accounting of each child), the
# programs' peak resident memory, and, where valgrind is installed, their
# instruction counts from callgrind, which repeat exactly on a noisy
# machine. The table is printed and written to bench/results.md.
#
#   bench/run.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-15}
build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTONEBURST_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
tools="$build/bench-tools"
mkdir -p "$tools"
c++ -O2 -o "$tools/cpu_time" bench/cpu_time.cpp
c++ -O2 -o "$tools/plain_io" bench/plain_io.cpp
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# CPU microseconds and peak KiB of one run of a command.
cpu() { "$tools/cpu_time" "$@" 2>&1 >/dev/null | tail -1 | cut -d' ' -f1,2; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# The median over a results file's lines of an awk expression of its columns.
medianOf() { awk "{ print $2 }" "$1" | median; }
instructions() {
  if command -v valgrind >/dev/null; then
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
      awk '/refs:/ { gsub(",", "", $NF); printf "%.1fM", $NF / 1e6 }'
  else
    echo "-"
  fi
}

# Removes a writer's output and waits until the kernel has written out
# what the writers left dirty.
fresh() {
  rm -f "$1"
  sync
}

rows=()
measure() {
  local label=$1; shift
  local args=("$@")
  "$build/ravgen" "$work/source.wav" "${args[@]}" >/dev/null
  local size
  size=$(stat -c %s "$work/source.wav")
  : >"$work/gen"; : >"$work/an"
  for ((i = 0; i < runs; i++)); do
    # Each writer starts from the same state: no file of its own, and no
    # dirty pages of an earlier writer that the kernel would make it wait
    # for. The writers take turns at going first.
    for ((turn = 0; turn < 3; turn++)); do
      case $(((i + turn) % 3)) in
        0) fresh "$work/cp.wav"; read -r cp_t _ < <(cpu cp "$work/source.wav" "$work/cp.wav") ;;
        1) fresh "$work/plain.wav"; read -r plain_w _ < <(cpu "$tools/plain_io" copy "$work/source.wav" "$work/plain.wav") ;;
        2) fresh "$work/gen.wav"; read -r gen_t gen_k < <(cpu "$build/ravgen" "$work/gen.wav" "${args[@]}") ;;
      esac
    done
    read -r cat_t _ < <(cpu cat "$work/source.wav")
    read -r plain_r _ < <(cpu "$tools/plain_io" read "$work/source.wav")
    read -r an_t an_k < <(cpu "$build/ravan" "$work/source.wav" "${args[@]}")
    echo "$gen_t $cp_t $plain_w $gen_k" >>"$work/gen"
    echo "$an_t $cat_t $plain_r $an_k" >>"$work/an"
  done
  cmp -s "$work/gen.wav" "$work/source.wav" || { echo "ravgen wrote another file"; exit 1; }
  local g_cp g_plain g_ms g_mib a_cat a_plain a_ms a_mib
  g_cp=$(medianOf "$work/gen" '$1 / $2')
  g_plain=$(medianOf "$work/gen" '$1 / $3')
  g_ms=$(medianOf "$work/gen" '$1 / 1000')
  g_mib=$(medianOf "$work/gen" '$4 / 1024')
  a_cat=$(medianOf "$work/an" '$1 / $2')
  a_plain=$(medianOf "$work/an" '$1 / $3')
  a_ms=$(medianOf "$work/an" '$1 / 1000')
  a_mib=$(medianOf "$work/an" '$4 / 1024')
  local g_ins a_ins cp_ins cat_ins
  g_ins=$(instructions "$build/ravgen" "$work/gen.wav" "${args[@]}")
  cp_ins=$(instructions cp "$work/source.wav" "$work/cp.wav")
  a_ins=$(instructions "$build/ravan" "$work/source.wav" "${args[@]}")
  cat_ins=$(instructions cat "$work/source.wav")
  rows+=("$(printf '| ravgen, %s, %.1f MB | %.2f | %.2f | %.1f ms | %.1f MiB | %s (cp %s) |' \
    "$label" "$(echo "$size / 1000000" | bc -l)" "$g_cp" "$g_plain" "$g_ms" "$g_mib" "$g_ins" "$cp_ins")")
  rows+=("$(printf '| ravan, %s | %.2f | %.2f | %.1f ms | %.1f MiB | %s (cat %s) |' \
    "$label" "$a_cat" "$a_plain" "$a_ms" "$a_mib" "$a_ins" "$cat_ins")")
}

measure "default sweep"
measure "numAvg 20" 22050 20

# ravan's floor on the default sweep: analysis_floor does only the seeks,
# reads, library sines and cosines and rows that an exact analysis needs,
# on the same file, so ravan / floor is what ravan spends beyond them.
if cmake --build "$build" --target analysis_floor >/dev/null; then
  "$build/ravgen" "$work/source.wav" >/dev/null
  : >"$work/floor"
  for ((i = 0; i < runs; i++)); do
    read -r cat_t _ < <(cpu cat "$work/source.wav")
    read -r floor_t floor_k < <(cpu "$build/analysis_floor" "$work/source.wav")
    read -r an_t _ < <(cpu "$build/ravan" "$work/source.wav")
    echo "$floor_t $cat_t $an_t $floor_k" >>"$work/floor"
  done
  f_cat=$(medianOf "$work/floor" '$1 / $2')
  f_an=$(medianOf "$work/floor" '$3 / $1')
  f_ms=$(medianOf "$work/floor" '$1 / 1000')
  f_mib=$(medianOf "$work/floor" '$4 / 1024')
  rows+=("$(printf '| floor of an exact analysis, default sweep (ravan %.2f times it) | %.2f | - | %.1f ms | %.1f MiB | %s |' \
    "$f_an" "$f_cat" "$f_ms" "$f_mib" "$(instructions "$build/analysis_floor" "$work/source.wav")")")
fi

# The same default sweep as a recorder leaves it: written in 4 KiB pieces.
# The kernel then holds it in small pages, which costs `cat` more per byte
# than the large ones that ravgen's 256 KiB writes get; ravan reads little of
# it and is hardly affected.
"$build/ravgen" "$work/source.wav" >/dev/null
dd if="$work/source.wav" of="$work/pieces.wav" bs=4k status=none
sync
: >"$work/pieces"
for ((i = 0; i < runs; i++)); do
  read -r cat_t _ < <(cpu cat "$work/pieces.wav")
  read -r an_t an_k < <(cpu "$build/ravan" "$work/pieces.wav")
  echo "$an_t $cat_t $an_k" >>"$work/pieces"
done
w_cat=$(medianOf "$work/pieces" '$1 / $2')
w_ms=$(medianOf "$work/pieces" '$1 / 1000')
w_mib=$(medianOf "$work/pieces" '$3 / 1024')
rows+=("$(printf '| ravan, default sweep written in 4 KiB pieces | %.2f | - | %.1f ms | %.1f MiB | - |' \
  "$w_cat" "$w_ms" "$w_mib")")

# ravprep on the default sweep as a 48 kHz 24-bit recording on a clock
# 50 ppm fast (SoX makes it), and on the 44100 Hz 16-bit sweep itself,
# which it locates the same way and copies without converting. The rate
# converter's own cost is measured apart: resampler_cost converts the same
# two channels at the same ratio through the same code, and reports the CPU
# time of the conversion alone.
if [[ -x "$build/ravprep" ]] && command -v sox >/dev/null \
  && cmake --build "$build" --target resampler_cost >/dev/null; then
  "$build/ravgen" "$work/sweep.wav" >/dev/null
  sox "$work/sweep.wav" -b 24 "$work/rec48.wav" speed 0.99995 rate -v 48000
  ratio=$(echo "48000 / 44100 / 0.99995" | bc -l)
  : >"$work/prep"
  for ((i = 0; i < runs; i++)); do
    read -r prep_t prep_k < <(cpu "$build/ravprep" "$work/rec48.wav" "$work/aligned.wav")
    read -r copy_t copy_k < <(cpu "$build/ravprep" "$work/sweep.wav" "$work/copied.wav")
    read -r cat_t _ < <(cpu cat "$work/rec48.wav")
    read -r cat16_t _ < <(cpu cat "$work/sweep.wav")
    read -r soxr_t _ < <("$build/resampler_cost" "$work/rec48.wav" "$ratio")
    echo "$prep_t $copy_t $cat_t $prep_k $soxr_t $cat16_t $copy_k" >>"$work/prep"
  done
  p_ms=$(medianOf "$work/prep" '$1 / 1000')
  p_soxr=$(medianOf "$work/prep" '$5 / 1000')
  p_cat=$(medianOf "$work/prep" '$1 / $3')
  p_rest=$(medianOf "$work/prep" '($1 - $5) / $3')
  p_mib=$(medianOf "$work/prep" '$4 / 1024')
  c_ms=$(medianOf "$work/prep" '$2 / 1000')
  c_cat=$(medianOf "$work/prep" '$2 / $6')
  c_mib=$(medianOf "$work/prep" '$7 / 1024')
  rows+=("$(printf '| ravprep, 48 kHz 24-bit sweep | %.0f (without the resampler %.0f) | - | %.0f ms (resampler %.0f ms) | %.1f MiB | - |' \
    "$p_cat" "$p_rest" "$p_ms" "$p_soxr" "$p_mib")")
  rows+=("$(printf '| ravprep, 44.1 kHz 16-bit sweep, copied | %.0f | - | %.0f ms | %.1f MiB | - |' \
    "$c_cat" "$c_ms" "$c_mib")")
else
  rows+=("| ravprep | not measured: ravprep, sox or resampler_cost missing | | | | |")
fi

# ravfit on the default sweep recorded through a simulated device (a 1 kHz
# low-pass, a loopback on channel 2), as a 44.1 kHz 16-bit recording and as
# a 48 kHz 24-bit one on a clock 100 ppm slow; ravprep on the same files is
# what finding the bursts and reading the file costs.
if [[ -x "$build/ravfit" ]] && command -v sox >/dev/null; then
  "$build/ravgen" "$work/sweep.wav" >/dev/null
  "$build/ravsim" "$work/sweep.wav" "$work/device.wav" --latency 100 --lowpass 1000 --delay 30 --device-on 1 \
    --gain -10 --noise 60
  sox "$work/device.wav" -b 24 "$work/device48.wav" speed 1.0001 rate -v 48000
  : >"$work/fit"
  for ((i = 0; i < runs; i++)); do
    read -r fit_t fit_k < <(cpu "$build/ravfit" "$work/device.wav")
    read -r prep_t _ < <(cpu "$build/ravprep" "$work/device.wav" "$work/aligned.wav")
    read -r fit48_t fit48_k < <(cpu "$build/ravfit" "$work/device48.wav")
    read -r prep48_t _ < <(cpu "$build/ravprep" "$work/device48.wav" "$work/aligned.wav")
    echo "$fit_t $prep_t $fit_k $fit48_t $prep48_t $fit48_k" >>"$work/fit"
  done
  rows+=("$(printf '| ravfit, 44.1 kHz 16-bit sweep through a device | - | - | %.0f ms (ravprep %.0f ms) | %.1f MiB | - |' \
    "$(medianOf "$work/fit" '$1 / 1000')" "$(medianOf "$work/fit" '$2 / 1000')" "$(medianOf "$work/fit" '$3 / 1024')")")
  rows+=("$(printf '| ravfit, 48 kHz 24-bit sweep, 100 ppm slow | - | - | %.0f ms (ravprep %.0f ms) | %.1f MiB | - |' \
    "$(medianOf "$work/fit" '$4 / 1000')" "$(medianOf "$work/fit" '$5 / 1000')" "$(medianOf "$work/fit" '$6 / 1024')")")
else
  rows+=("| ravfit | not measured: ravfit or sox missing | | | | |")
fi

{
  echo "Median of $runs interleaved runs; ratios of CPU time (user + system)."
  echo
  echo "| Program, run | / \`cp\` or \`cat\` | / plain read()/write() loop | CPU time | peak memory | instructions |"
  echo "|---|---|---|---|---|---|"
  printf '%s\n' "${rows[@]}"
} | tee bench/results.md
