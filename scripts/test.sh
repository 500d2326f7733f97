#!/usr/bin/env bash
# The test command: installs what is missing (the 32-bit Windows environment included),
# builds the presets, runs every test natively, under wine64 (the 64-bit test build) and
# under the emulated 32-bit Wine (the shipping build and the 32-bit test build), runs the
# fuzzers for a bounded time, and ends with one line "N passed, N failed, N skipped".
# A machine that cannot make the simulated network (scripts/netns.sh) fails the run at once,
# saying why; ACCEL_NETSIM_OPTIONAL=1 runs the lanes without it instead.
set -uo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

bash scripts/setup.sh || { echo "setup failed"; exit 1; }

# Asked before the builds: a run that cannot prove the end-to-end routes should not take half
# an hour to say so.
. scripts/netns.sh
netsim=1
if ! why=$(accel_netns_possible 2>&1); then
  if [ "${ACCEL_NETSIM_OPTIONAL:-}" != 1 ]; then
    echo "$why"
    echo "FAILED: no simulated network here, so the end-to-end runs cannot check the routes;"
    echo "        ACCEL_NETSIM_OPTIONAL=1 runs without it (its tests then count as skipped)"
    exit 1
  fi
  netsim=0
  echo "$why"
  echo "the lanes run without the simulated network (ACCEL_NETSIM_OPTIONAL=1): the end-to-end runs meet no tunnel interface"
fi

status=0
started=$SECONDS
step() { echo; echo "== $* (at $((SECONDS - started)) s)"; }
fail() { echo "FAILED: $*"; status=1; }

# The 32-bit Windows environment is prepared beside the builds: its first set-up mostly waits
# for downloads and the emulated package scripts.
mkdir -p build
rm -f build/setup-win32.rc
{ bash scripts/setup-win32.sh >build/setup-win32.log 2>&1; echo $? >build/setup-win32.rc; } &
setup32=$!

# Each lane runs in a simulated network of its own (scripts/netns.sh), where the end-to-end
# runs meet a real routing table, a tunnel interface and the game's servers. A lane mostly
# waits (for Wine, for timers, for the stand-ins): measured here, the 64-bit lane keeps about
# a third of one core busy. So the 64-bit lane runs beside the builds that follow it, and the
# 32-bit lane, whose emulation leaves less to spare, beside the fuzzers only. Builds and
# fuzzers run at a lower priority, so that a lane's timing is what it would be alone. A
# lane's output is kept in a file and shown when it ends. The lanes run one after the other.
lane() {  # lane TAG BUILD_DIR WINE_LANE PRESET
  local rc
  if [ $netsim -eq 0 ]; then bash scripts/run-lane.sh "$2" "$3" "$4"; return; fi
  accel_netns_make "$1" || { echo "simulated network: cannot make one for $1"; return 1; }
  echo "simulated network $ACCEL_NETNS"
  accel_netns_exec bash scripts/run-lane.sh "$2" "$3" "$4"
  rc=$?
  accel_netns_remove
  return $rc
}
lanes=()
lane_start() {  # lane_start TITLE TAG BUILD_DIR WINE_LANE PRESET: the lane in the background
  local title=$1 log=build/lane-$2.log
  shift
  # Without simulated networks both lanes would share the host's loopback: one at a time.
  [ $netsim -eq 1 ] || lanes_wait
  step "$title: started, beside what follows"
  ( trap accel_netns_remove EXIT; trap 'exit 143' TERM INT
    echo "== $title (from $((SECONDS - started)) s)"
    lane "$@"
    rc=$?
    echo "== $title: ended at $((SECONDS - started)) s, exit $rc"
    exit $rc ) >"$log" 2>&1 &
  lanes+=("$!|$title|$log")
}
lanes_wait() {
  local entry pid title log
  for entry in "${lanes[@]}"; do
    IFS='|' read -r pid title log <<<"$entry"
    wait "$pid" || fail "$title"
    step "$title: its output"
    cat "$log"
  done
  lanes=()
}
stop_lanes() { local entry; for entry in "${lanes[@]}"; do kill "${entry%%|*}" 2>/dev/null; done; wait; }
trap stop_lanes EXIT

# Every build runs at a lower priority: beside a lane, and on a fresh machine beside the
# 32-bit environment's set-up (emulated package scripts), which the 32-bit lane waits for.
build() {  # build PRESET: configure and build one preset
  local preset=$1
  step "configure and build $preset"
  rm -rf "build/$preset/test-results"
  if [ "$preset" = win32test ]; then
    # The 32-bit lane tests the shipping program directory: as installed, as packed.
    rm -rf build/win32/app
    cmake --install build/win32 --prefix build/win32/app >/dev/null || fail "install win32"
  fi
  cmake --preset "$preset" >/dev/null || { fail "configure $preset"; return 1; }
  nice -n 10 cmake --build --preset "$preset" -j2 || { fail "build $preset"; return 1; }
}

build win32
step "win32: shipping checks (exports, imports)"
bash scripts/check-shipping.sh build/win32 || fail "shipping checks"
step "win32: setup program and ZIP, the setup program's imports"
{ cmake --build --preset win32 --target package >/dev/null &&
  bash cmake/installer/check-setup-imports.sh "$(ls -t build/win32/accelclient-*-setup.exe | head -1)"; } ||
  fail "setup program"
rm -rf build/win32/_CPack_Packages  # staged copies of the images, not for the next shipping checks

# Both lanes run their tests against the service stand-in, a program of the native build.
step "native: the service stand-in the lanes run against"
stub_built=0
{ cmake --preset native >/dev/null && nice -n 10 cmake --build --preset native -j2 --target service_stub; } &&
  stub_built=1 || fail "build the service stand-in"

build win64 && [ $stub_built -eq 1 ] && lane_start "win64 tests under wine64" w64 build/win64 win64 win64
build win32test
win32test_built=$?

lane32() {  # the 32-bit lane, once its environment is there
  local rc
  step "32-bit Windows environment"
  wait $setup32
  rc=$(cat build/setup-win32.rc 2>/dev/null || echo 1)
  cat build/setup-win32.log
  case $rc in
    0) ;;
    2) echo "this machine cannot run 32-bit programs: the 32-bit lane is left out"; return ;;
    *) fail "32-bit Windows environment"; return ;;
  esac
  [ $win32test_built -eq 0 ] && [ $stub_built -eq 1 ] || return
  # Not beside the other lane: starting and stopping one lane's Wine ended the other's
  # wineserver here (the chroot's Wine shares /tmp with the host's).
  lanes_wait
  step "32-bit lane: the program files it runs"
  bash scripts/check-lane32.sh build/win32/app \
    "$(ls -t build/win32/accelclient-*-win32.zip | head -1)" build/win32test || fail "32-bit lane: program files"
  . scripts/win32-lane.sh
  if accel_w32_mount "$top"; then
    ACCEL_NETNS_CHROOT=$ACCEL_W32_ROOT lane_start \
      "32-bit lane: shipping build and 32-bit tests under the emulated 32-bit Wine" w32 \
      build/win32test win32 win32test
  else
    fail "32-bit lane: mounting the checkout"
  fi
}
build native
step "native tests"
nice -n 10 ctest --preset native -j2 || fail "native tests"
# After the builds: beside a build, the emulated lane's window missed its 200 ms answer
# (212 ms) while dialing.
lane32

step "fuzzers"
nice -n 19 bash scripts/fuzz.sh "${ACCEL_FUZZ_SECONDS:-60}" || fail "fuzzers"

lanes_wait

step "summary"
read -r passed failed skipped < <(python3 scripts/count-results.py build/native/test-results build/win64/test-results \
                            build/win32test/test-results)
if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
echo "$passed passed, $failed failed, $skipped skipped"
[ "$status" -eq 0 ] && [ "$failed" -eq 0 ]
