# Sourced by the test servers' scripts: stop_server NAME STATE_DIR ends the
# server whose process id STATE_DIR/NAME.pid holds, asking first and
# forcing after 5 s.
stop_server() {
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
