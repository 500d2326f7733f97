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
bash scripts/setup-win32.sh >build/setup-win32.log 2>&1 &
setup32=$!

for preset in win32 win64 native win32test; do
  step "configure and build $preset"
  rm -rf "build/$preset/test-results"
  if [ "$preset" = win32test ]; then
    # The 32-bit lane tests the shipping program directory: as installed, as packed.
    rm -rf build/win32/app
    cmake --install build/win32 --prefix build/win32/app >/dev/null || fail "install win32"
  fi
  cmake --preset "$preset" >/dev/null || { fail "configure $preset"; continue; }
  cmake --build --preset "$preset" -j2 || fail "build $preset"
  if [ "$preset" = win32 ]; then
    step "win32: shipping checks (exports, imports)"
    bash scripts/check-shipping.sh build/win32 || fail "shipping checks"
    step "win32: setup program and ZIP, the setup program's imports"
    { cmake --build --preset win32 --target package >/dev/null &&
      bash cmake/installer/check-setup-imports.sh "$(ls -t build/win32/accelclient-*-setup.exe | head -1)"; } ||
      fail "setup program"
    rm -rf build/win32/_CPack_Packages  # staged copies of the images, not for the next shipping checks
  fi
done

step "native tests"
ctest --preset native -j2 || fail "native tests"

step "32-bit Windows environment"
wait $setup32
rc=$?
cat build/setup-win32.log
lane32=1
case $rc in
  0) ;;
  2) lane32=0; echo "this machine cannot run 32-bit programs: the 32-bit lane is left out" ;;
  *) lane32=0; fail "32-bit Windows environment" ;;
esac

# Each lane runs in a simulated network of its own (scripts/netns.sh), where the end-to-end
# runs meet a real routing table, a tunnel interface and the game's servers.
trap accel_netns_remove EXIT
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

step "win64 tests under wine64"
lane w64 build/win64 win64 win64 || fail "win64 tests"

if [ $lane32 -eq 1 ]; then
  step "32-bit lane: the program files it runs"
  bash scripts/check-lane32.sh build/win32/app \
    "$(ls -t build/win32/accelclient-*-win32.zip | head -1)" build/win32test || fail "32-bit lane: program files"
  step "32-bit lane: shipping build and 32-bit tests under the emulated 32-bit Wine"
  . scripts/win32-lane.sh
  accel_w32_mount "$top" || fail "32-bit lane: mounting the checkout"
  ACCEL_NETNS_CHROOT=$ACCEL_W32_ROOT lane w32 build/win32test win32 win32test || fail "win32test tests"
fi

step "fuzzers"
bash scripts/fuzz.sh "${ACCEL_FUZZ_SECONDS:-60}" || fail "fuzzers"

step "summary"
read -r passed failed skipped < <(python3 scripts/count-results.py build/native/test-results build/win64/test-results \
                            build/win32test/test-results)
if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
echo "$passed passed, $failed failed, $skipped skipped"
[ "$status" -eq 0 ] && [ "$failed" -eq 0 ]
