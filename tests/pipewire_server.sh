#!/bin/sh
# A headless PipeWire for ravmeasure's tests: its own runtime folder, no
# session manager (its Dummy-Driver runs the graph), optionally a forced
# rate; started and stopped by its process id. Clients reach it as
# XDG_RUNTIME_DIR=STATE_DIR/NAME pw-jack ...
#   pipewire_server.sh start NAME RATE|default STATE_DIR
#   pipewire_server.sh stop NAME STATE_DIR
# Without PipeWire's JACK interface the start says so and succeeds: the
# tests then skip.
set -u

. "$(dirname "$0")/stop_server.sh"

# The server, and its runtime folder.
stop() {
  stop_server "$1" "$2"
  rm -rf "${2:?}/$1"
}

case $1 in
start)
  command -v pipewire >/dev/null 2>&1 && command -v pw-jack >/dev/null 2>&1 ||
    { echo "pipewire or pw-jack not found (apt-get install pipewire pipewire-jack): PipeWire tests skip"; exit 0; }
  name=$2 rate=$3 state=$4
  mkdir -p "$state"
  stop "$name" "$state"
  runtime="$state/$name"
  mkdir -p "$runtime" && chmod 700 "$runtime"
  # No session bus here: the modules that want one say so and are skipped.
  XDG_RUNTIME_DIR=$runtime DBUS_SESSION_BUS_ADDRESS=disabled: pipewire >"$state/$name.log" 2>&1 &
  echo $! >"$state/$name.pid"
  for _ in $(seq 100); do
    if XDG_RUNTIME_DIR=$runtime pw-cli info 0 >/dev/null 2>&1; then
      [ "$rate" = default ] && exit 0
      XDG_RUNTIME_DIR=$runtime pw-metadata -n settings 0 clock.force-rate "$rate" >/dev/null 2>&1 && exit 0
    fi
    sleep 0.1
  done
  echo "pipewire $name did not answer within 10 s:"
  cat "$state/$name.log"
  exit 1
  ;;
stop)
  stop "$2" "$3"
  ;;
esac
