#!/usr/bin/env bash
# Starts or stops the local service stand-in for the client's tests (CTest fixture).
# Usage: service_stub_fixture.sh start STUB DATA_DIR WORK_DIR
#        service_stub_fixture.sh stop WORK_DIR
set -u

wait_port() {  # $1 = 1: until something listens on 8080; 0: until nothing does
  i=0
  while [ $i -lt 100 ]; do
    if (exec 3<>/dev/tcp/127.0.0.1/8080) 2>/dev/null; then up=1; else up=0; fi
    [ "$up" = "$1" ] && return 0
    i=$((i + 1))
    sleep 0.1
  done
  return 1
}

case "${1:-}" in
start)
  stub=$2 data=$3 work=$4
  if [ ! -x "$stub" ]; then
    echo "service stand-in not built: $stub (build the native preset first)" >&2
    exit 1
  fi
  mkdir -p "$work"
  rm -f "$work/record.jsonl" "$work/packets.jsonl" "$work/stub.pid"
  # Inside a run's simulated network (scripts/netns.sh) the stand-in also plays the PC's
  # network and the game's servers.
  netsim=()
  [ "${ACCEL_NETSIM:-0}" = 1 ] && netsim=(--netsim --packets "$work/packets.jsonl")
  if (exec 3<>/dev/tcp/127.0.0.1/8080) 2>/dev/null; then
    echo "port 8080 is taken: another stand-in is running" >&2
    exit 1
  fi
  # Detached, with its output in a file: CTest waits for the pipes of every process it
  # started to close, and this one has to outlive the setup test.
  setsid "$stub" --data "$data" --record "$work/record.jsonl" --pidfile "$work/stub.pid" \
    "${netsim[@]}" </dev/null >"$work/stub.log" 2>&1 &
  echo $! >"$work/stub.launch.pid"
  if ! wait_port 1; then
    echo "service stand-in did not open port 8080:" >&2
    cat "$work/stub.log" >&2
    kill "$(cat "$work/stub.launch.pid")" 2>/dev/null
    exit 1
  fi
  echo "service stand-in running, pid $(cat "$work/stub.launch.pid")"
  ;;
stop)
  work=$2
  pid=$(cat "$work/stub.launch.pid" 2>/dev/null || true)
  if [ -z "$pid" ]; then
    echo "no stand-in of these tests is running"
    exit 0
  fi
  kill "$pid" 2>/dev/null
  rm -f "$work/stub.launch.pid"
  wait_port 0 || { echo "port 8080 still open after stopping the stand-in" >&2; exit 1; }
  echo "service stand-in stopped"
  ;;
*)
  echo "usage: $0 start STUB DATA_DIR WORK_DIR | stop WORK_DIR" >&2
  exit 2
  ;;
esac
