#!/bin/sh
# ravmeasure against a real JACK server on the dummy driver.
#   measure_test.sh BUILD_DIR loopback SERVER RATE sweep|polar DB_TOLERANCE RAD_TOLERANCE
#   (SERVER pw:RUNTIME_DIR: PipeWire's JACK interface, through pw-jack)
#   measure_test.sh BUILD_DIR realtime|healed|stopped|disconnected|interrupted|no-server|freewheel-held STATE_DIR
#   measure_test.sh BUILD_DIR pw-second pw:RUNTIME_DIR
# The loopback runs freewheel, so a 101-second sweep takes about a second.
# Status 77 (skipped) without jackd.
set -u
build=$1
what=$2
case ${3:-} in
pw:*) command -v pw-jack >/dev/null 2>&1 || { echo "pw-jack not found (apt-get install pipewire-jack): skipped"; exit 77; } ;;
*) command -v jackd >/dev/null 2>&1 || { echo "jackd not found (apt-get install jackd2): skipped"; exit 77; } ;;
esac
export JACK_NO_START_SERVER=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*"; exit 1; }
# Starts this case's own server at 44100 Hz with period $1, named after the
# case and the build's state folder: a server that had to be killed leaves
# its name in JACK's registry, which holds eight, and only a server of the
# same name takes the place back.
start_own_server() {
  server="tb-$what-$(printf %s "$state" | cksum | cut -d' ' -f1)"
  started=$(sh "$(dirname "$0")/jack_server.sh" start "$server" 44100 "$1" "$state") || fail "no server: $started"
}

# The 32-bit data size of a WAV header, and the bytes after the header.
data_size() { od -An -tu4 -j40 -N4 "$1" | tr -d ' '; }
header_describes_file() {
  [ "$(od -An -c -j36 -N4 "$1" | tr -d ' ')" = data ] || fail "$1 has no 44-byte header"
  size=$(wc -c <"$1")
  [ "$(data_size "$1")" -eq $((size - 44)) ] || fail "$1: header says $(data_size "$1") bytes, file holds $((size - 44))"
}
# Waits until the run is well under way: its recording, written beside
# recording.wav until the run ends, holds a megabyte.
wait_for_recording() {
  for _ in $(seq 200); do
    for growing in recording.wav.partial-*; do
      [ -f "$growing" ] && [ "$(wc -c <"$growing")" -gt 1000000 ] && return 0
    done
    sleep 0.05
  done
  fail "the recording did not grow within 10 s"
}
# The largest |value| of the given columns over the report's rows, and the row count.
worst() {
  awk -v first="$2" -v second="$3" 'function a(x) { return x < 0 ? -x : x }
    /^numCyc/ { rows = 1; next }
    rows { n++; if (a($first) > m) m = a($first); if (a($second) > m) m = a($second) }
    END { printf "%d %.9f\n", n, m }' "$1"
}

case $what in
loopback)
  server=$3 rate=$4 mode=$5 db_tolerance=$6 rad_tolerance=$7
  if [ "$mode" = polar ]; then args="22050 1 1000 polar" steps=72; else args="22050 1 100 sweep" steps=201; fi
  "$build/ravgen" stimulus.wav $args >/dev/null
  case $server in
  pw:*)
    [ -d "${server#pw:}" ] || { echo "no PipeWire running: skipped"; exit 77; }
    XDG_RUNTIME_DIR=${server#pw:} pw-jack "$build/ravmeasure" stimulus.wav recording.wav $args --loopback --freewheel \
      >facts.txt 2>progress.txt
    status=$? period="[0-9]*" ;;
  *)
    "$build/ravmeasure" stimulus.wav recording.wav $args --loopback --freewheel --server "$server" \
      >facts.txt 2>progress.txt
    status=$? period=256 ;;
  esac
  [ $status -eq 0 ] || { cat facts.txt progress.txt; fail "ravmeasure status $status"; }
  grep -q "^server:	$rate Hz	$period frames$" facts.txt || fail "server line: $(grep server facts.txt)"
  grep -q "^xruns:	0$" facts.txt || fail "xruns: $(grep xruns facts.txt)"
  # The stimulus peaks at -2.70 dBFS; resampled, between its samples too.
  grep -q "^peak 1:	-2\.[67][0-9]	0$" facts.txt || fail "peak line: $(grep 'peak 1' facts.txt)"
  grep -q "^wrote:	recording.wav$" facts.txt || fail "no wrote line"
  header_describes_file recording.wav
  stimulus_bytes=$(data_size stimulus.wav)
  [ "$(data_size recording.wav)" -eq $((stimulus_bytes + 4 * 44100)) ] || fail "not the stimulus plus a 1 s tail"

  # The latency line, in the server's frames, against the first step that
  # ravdelay finds in the recording at 44100 Hz, less the stimulus's delay.
  latency=$(awk -F'\t' '/^latency:/ { print $2 }' facts.txt)
  found=$("$build/ravdelay" recording.wav $args | awk -F'\t' '/^delay:/ { print $2 - 22050 }')
  expected=$(awk -v l="$latency" -v r="$rate" 'BEGIN { printf "%.0f", l * 44100 / r }')
  [ "$found" = "$expected" ] || fail "latency $latency frames at $rate Hz, ravdelay finds $found at 44100 Hz"

  "$build/ravprep" recording.wav aligned.wav $args >/dev/null || fail "ravprep refused the recording"
  "$build/ravan" aligned.wav $args >report.txt || fail "ravan failed"
  set -- $(worst report.txt 7 8)
  [ "$1" = $steps ] || fail "$1 rows, expected $steps"
  awk -v m="$2" -v t="$db_tolerance" 'BEGIN { exit !(m <= t) }' || fail "a level $2 dB from 0"
  db=$2
  set -- $(worst report.txt 10 11)
  awk -v m="$2" -v t="$rad_tolerance" 'BEGIN { exit !(m <= t) }' || fail "a phase $2 rad from 0"
  echo "$mode at $rate Hz: $steps steps within $db dB and $2 rad; latency $latency frames"
  ;;

realtime)
  # A short run at the server's own pace. On a loaded machine the non-realtime
  # dummy driver may miss cycles; ravmeasure heals them, or says why it cannot.
  state=$3
  start_own_server 1024
  "$build/ravgen" full.wav >/dev/null
  head -c $((44 + 4 * 66150)) full.wav >stimulus.wav   # the lead-in and two steps
  "$build/ravmeasure" stimulus.wav recording.wav --loopback --tail 0.5 --server "$server" >facts.txt 2>progress.txt
  status=$?
  sh "$(dirname "$0")/jack_server.sh" stop "$server" "$state"
  header_describes_file recording.wav
  if [ $status -eq 247 ] && grep -qE "an xrun|frame clock went back" progress.txt; then
    echo "the dummy driver missed cycles or its clock slipped, and ravmeasure said so: $(tail -n 1 progress.txt)"
    exit 0
  fi
  [ $status -eq 0 ] || { cat progress.txt; fail "status $status"; }
  latency=$(awk -F'\t' '/^latency:/ { print $2 }' facts.txt)
  [ "$(data_size recording.wav)" -eq $((4 * (66150 + 22050))) ] || fail "not the stimulus plus 0.5 s"
  # The digital loopback is exact: the stimulus, `latency` frames later.
  tail -c +45 stimulus.wav >played.raw
  tail -c +$((45 + 4 * latency)) recording.wav | head -c $((4 * 66150)) >heard.raw
  cmp played.raw heard.raw || fail "the recording is not the stimulus $latency frames later"
  echo "realtime loopback exact, latency $latency frames"
  ;;

healed)
  # A real-time run whose client misses cycles (RAVMEASURE_MISS), once in a
  # burst and once in silence: the recording is the undisturbed run's, byte
  # for byte, and the facts say what was healed. On a busy machine the
  # server itself may miss cycles beside the hook's, or stall longer than a
  # run can heal: then the three runs are made again (up to three times),
  # and said so; if the machine never lets them through, the case is
  # skipped rather than failed, since nothing of ravmeasure's was shown.
  state=$3
  start_own_server 256
  "$build/ravgen" full.wav >/dev/null
  head -c $((44 + 4 * 22050 * 4)) full.wav >stimulus.wav   # the lead-in and three steps
  measure() { RAVMEASURE_MISS=$2 "$build/ravmeasure" stimulus.wav "$1" --loopback --tail 0.2 --server "$server" >"$1.facts" 2>"$1.errors"; }
  xruns() { sed -n 's/^xruns:\t//p' "$1.facts"; }
  # Whether the server missed cycles of its own in a run the hook made
  # `hooked` misses in, or the run broke on the server's account.
  disturbed() { [ "$2" -eq 247 ] || { [ "$2" -eq 0 ] && [ "$(xruns "$1")" -gt "$3" ]; }; }
  for attempt in 1 2 3; do
    measure clean.wav ""; clean=$?
    measure burst.wav $((22050 * 3 + 40)),2; burst=$?
    measure silence.wav $((22050 * 2 + 15000)),3; silence=$?
    disturbed clean.wav $clean 0 || disturbed burst.wav $burst 1 || disturbed silence.wav $silence 1 || break
    echo "attempt $attempt: the server missed cycles of its own (a busy machine): measured again"
    cat ./*.errors
    [ $attempt -eq 3 ] && { sh "$(dirname "$0")/jack_server.sh" stop "$server" "$state"; echo "skipped: the server missed cycles of its own in every attempt"; exit 77; }
  done
  sh "$(dirname "$0")/jack_server.sh" stop "$server" "$state"
  [ $clean -eq 0 ] && [ $burst -eq 0 ] && [ $silence -eq 0 ] ||
    { cat ./*.errors; fail "status $clean, $burst, $silence"; }
  grep -q "^healed:	[0-9]* stretch" burst.wav.facts || fail "burst: $(grep -E 'xruns|healed' burst.wav.facts)"
  grep -q "^healed:	none$" silence.wav.facts || fail "silence: $(grep -E 'xruns|healed' silence.wav.facts)"
  cmp clean.wav burst.wav || fail "the healed recording differs from the undisturbed one"
  cmp clean.wav silence.wav || fail "the recording with a gap in silence differs from the undisturbed one"
  header_describes_file burst.wav
  echo "missed cycles in a burst healed, in silence free; both recordings the undisturbed one exactly"
  ;;

stopped | disconnected | interrupted)
  # A long freewheeling run that is broken once it is under way: the server
  # goes away, a connection of the measurement is broken, or Ctrl-C.
  state=$3
  start_own_server 256
  "$build/ravgen" stimulus.wav >/dev/null
  echo "an earlier recording" >recording.wav
  "$build/ravmeasure" stimulus.wav recording.wav --loopback --freewheel --tail 3600 --server "$server" \
    >facts.txt 2>progress.txt &
  measuring=$!
  wait_for_recording
  # The earlier recording stays whole until the run ends with frames to keep.
  [ "$(cat recording.wav)" = "an earlier recording" ] || fail "the earlier recording was touched during the run"
  case $what in
  stopped) sh "$(dirname "$0")/jack_server.sh" stop "$server" "$state"; expected=247 words="went away" ;;
  disconnected) JACK_DEFAULT_SERVER=$server jack_disconnect ravmeasure:out_2 ravmeasure:in_2
    expected=247 words="was disconnected at" ;;
  interrupted) kill -INT $measuring; expected=246 words="stopped at" ;;
  esac
  wait $measuring
  status=$?
  sh "$(dirname "$0")/jack_server.sh" stop "$server" "$state"
  [ "$status" -eq $expected ] || { cat progress.txt; fail "status $status, expected $expected"; }
  grep -q "^ravmeasure: .*$words" progress.txt || fail "no word of it: $(tail -n 1 progress.txt)"
  header_describes_file recording.wav
  grep -q "^wrote:	recording.wav$" facts.txt || fail "no facts"
  [ -z "$(ls recording.wav.partial-* 2>/dev/null)" ] || fail "a temporary recording was left behind"
  echo "$(tail -n 1 progress.txt)"
  ;;

freewheel-held)
  # A second run while one freewheels is refused before it plays; when the
  # first ends by Ctrl-C the server runs on its own again. One killed while
  # it freewheels leaves the server freewheeling: later runs are refused
  # with the remedy, and the remedy works.
  state=$3
  start_own_server 256
  "$build/ravgen" stimulus.wav >/dev/null
  head -c $((44 + 4 * 11025)) stimulus.wav >short.wav   # a quarter second of the lead-in
  short() { "$build/ravmeasure" short.wav second.wav --loopback --tail 0 --server "$server" >facts2.txt 2>errors2.txt; }
  for ending in INT KILL; do
    "$build/ravmeasure" stimulus.wav recording.wav --loopback --freewheel --tail 3600 --server "$server" \
      >facts.txt 2>progress.txt &
    measuring=$!
    wait_for_recording
    short
    status=$?
    [ $status -eq 248 ] && grep -q "is freewheeling" errors2.txt ||
      { kill -9 $measuring; sh "$(dirname "$0")/jack_server.sh" stop "$server" "$state"; fail "second run: status $status: $(cat errors2.txt)"; }
    kill -$ending $measuring
    wait $measuring
    rm -f recording.wav recording.wav.partial-*
    if [ $ending = KILL ]; then
      short
      status=$?
      [ $status -eq 248 ] || echo "note: after SIGKILL the server did not stay in freewheel (status $status)"
      JACK_DEFAULT_SERVER=$server jack_freewheel n >/dev/null 2>&1
      sleep 0.3
    fi
    short
    status=$?
    [ $status -eq 0 ] || [ $status -eq 247 ] ||
      { sh "$(dirname "$0")/jack_server.sh" stop "$server" "$state"; fail "after $ending: status $status: $(cat errors2.txt)"; }
  done
  sh "$(dirname "$0")/jack_server.sh" stop "$server" "$state"
  echo "a second run refused while one freewheels; the server usable after Ctrl-C, and after SIGKILL with jack_freewheel n"
  ;;

pw-second)
  # PipeWire's clock reads its own pace to a client that has not yet
  # joined, even while another freewheels: a second freewheeling run is
  # still refused before it writes anything, and the first goes on.
  runtime=${3#pw:}
  [ -d "$runtime" ] || { echo "no PipeWire running: skipped"; exit 77; }
  pw() { XDG_RUNTIME_DIR=$runtime pw-jack "$build/ravmeasure" "$@"; }
  "$build/ravgen" stimulus.wav >/dev/null
  head -c $((44 + 4 * 11025)) stimulus.wav >short.wav
  # pw-jack execs the program, so that Ctrl-C reaches it.
  XDG_RUNTIME_DIR=$runtime pw-jack "$build/ravmeasure" stimulus.wav recording.wav --loopback --freewheel --tail 3600 \
    >facts.txt 2>progress.txt &
  measuring=$!
  wait_for_recording
  pw short.wav second.wav --loopback --freewheel --tail 0 >facts2.txt 2>errors2.txt
  status=$?
  kill -INT $measuring
  wait $measuring
  first=$?
  [ $status -eq 248 ] && grep -q "is freewheeling" errors2.txt || fail "second run: status $status: $(cat errors2.txt)"
  [ ! -e second.wav ] && [ -z "$(ls second.wav.partial-* 2>/dev/null)" ] || fail "the refused run wrote a file"
  [ $first -eq 246 ] || fail "the first run, stopped by Ctrl-C: status $first: $(tail -n 1 progress.txt)"
  echo "a second freewheeling run on PipeWire refused with 248, nothing written; the first went on"
  ;;

no-server)
  "$build/ravgen" stimulus.wav >/dev/null
  "$build/ravmeasure" stimulus.wav recording.wav --server "tb-none-$$" >facts.txt 2>errors.txt
  status=$?
  [ $status -eq 248 ] || fail "status $status, expected 248"
  [ "$(wc -l <errors.txt)" -eq 1 ] || fail "more than one line: $(cat errors.txt)"
  grep -q "jackd -d alsa" errors.txt && grep -q "pw-jack ravmeasure" errors.txt || fail "$(cat errors.txt)"
  [ ! -e recording.wav ] || fail "wrote a recording without a server"
  ;;
esac
