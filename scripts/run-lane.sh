#!/usr/bin/env bash
# run-lane.sh BUILD_DIR WINE_LANE PRESET: one Windows lane's tests, with the lane's Wine, its
# prefix and a virtual display of its own; inside the run's simulated network when the caller
# entered one (scripts/netns.sh).
set -u
cd "$(dirname "$0")/.."
. scripts/wine-env.sh "$1" "$2"
# The prefix's wineserver and its system processes (among them the one that reads the
# routing table for every program) must live in this run's network: one left from an
# earlier run would answer from another.
"$WINESERVER" -k >/dev/null 2>&1 && "$WINESERVER" -w >/dev/null 2>&1
accel_wine_start
ctest --preset "$3" -j2
rc=$?
accel_wine_stop
exit $rc
