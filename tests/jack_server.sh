#!/bin/sh
# A JACK server on the dummy driver, for ravmeasure's tests, started and
# stopped by its process id.
#   jack_server.sh start NAME RATE PERIOD STATE_DIR
#   jack_server.sh stop NAME STATE_DIR
# Without jackd the start says so and succeeds: the tests then skip.
set -u
export JACK_NO_START_SERVER=1

. "$(dirname "$0")/stop_server.sh"

case $1 in
start)
  command -v jackd >/dev/null 2>&1 || { echo "jackd not found (apt-get install jackd2): ravmeasure tests skip"; exit 0; }
  name=$2 state=$5
  mkdir -p "$state"
  stop_server "$name" "$state"
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
  stop_server "$2" "$3"
  ;;
esac
