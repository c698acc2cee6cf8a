#!/bin/sh
# A JACK server on the dummy driver, for ravmeasure's tests, started and
# stopped by its process id.
#   jack_server.sh start NAME RATE PERIOD STATE_DIR
#   jack_server.sh stop NAME STATE_DIR
# Without jackd the start says so and succeeds: the tests then skip.
set -u
export JACK_NO_START_SERVER=1

stop() {
  [ -f "$2/$1.pid" ] || return 0
  pid=$(cat "$2/$1.pid")
  rm -f "$2/$1.pid"
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null
  return 0
}

case $1 in
start)
  command -v jackd >/dev/null 2>&1 || { echo "jackd not found (apt-get install jackd2): ravmeasure tests skip"; exit 0; }
  name=$2 state=$5
  mkdir -p "$state"
  stop "$name" "$state"
  jackd --no-realtime -n "$name" -d dummy -r "$3" -p "$4" >"$state/$name.log" 2>&1 &
  echo $! >"$state/$name.pid"
  for _ in $(seq 100); do
    JACK_DEFAULT_SERVER=$name jack_lsp >/dev/null 2>&1 && exit 0
    sleep 0.1
  done
  echo "jackd $name did not answer within 10 s:"
  cat "$state/$name.log"
  exit 1
  ;;
stop)
  stop "$2" "$3"
  ;;
esac
