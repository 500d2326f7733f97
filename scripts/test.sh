#!/usr/bin/env bash
# The test command: installs what is missing, builds the three presets, runs every test
# natively and under Wine, runs the fuzzers for a bounded time, and ends with one line
# "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

bash scripts/setup.sh || { echo "setup failed"; exit 1; }

status=0
started=$SECONDS
step() { echo; echo "== $* (at $((SECONDS - started)) s)"; }
fail() { echo "FAILED: $*"; status=1; }

for preset in win32 win64 native; do
  step "configure and build $preset"
  rm -rf "build/$preset/test-results"
  cmake --preset "$preset" >/dev/null || { fail "configure $preset"; continue; }
  cmake --build --preset "$preset" -j2 || fail "build $preset"
done

step "win32: shipping checks (exports, imports)"
bash scripts/check-shipping.sh build/win32 || fail "shipping checks"

step "win32: setup program and ZIP, the setup program's imports"
{ cmake --build --preset win32 --target package >/dev/null &&
  bash cmake/installer/check-setup-imports.sh "$(ls -t build/win32/accelclient-*-setup.exe | head -1)"; } ||
  fail "setup program"
rm -rf build/win32/_CPack_Packages  # staged copies of the images, not for the next shipping checks

step "native tests"
ctest --preset native -j2 || fail "native tests"

step "win64 tests under wine64"
. scripts/wine-env.sh build/win64
accel_wine_start
ctest --preset win64 -j2 || fail "win64 tests"
accel_wine_stop

step "fuzzers"
bash scripts/fuzz.sh "${ACCEL_FUZZ_SECONDS:-60}" || fail "fuzzers"

step "summary"
read -r passed failed < <(python3 scripts/count-results.py build/native/test-results build/win64/test-results)
if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
echo "$passed passed, $failed failed"
[ "$status" -eq 0 ] && [ "$failed" -eq 0 ]
