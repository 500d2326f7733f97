#!/usr/bin/env bash
# Runs every fuzz target of the native build for the given number of seconds each, on its
# corpus under tests/fuzz/corpus/<target>; any crash fails.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
status=0
shopt -s nullglob
targets=(build/native/fuzz/tests/fuzz/*_fuzz)
if [ ${#targets[@]} -eq 0 ]; then echo "no fuzz targets built"; exit 0; fi
for t in "${targets[@]}"; do
  name=$(basename "$t")
  corpus=tests/fuzz/corpus/$name
  work=build/native/fuzz/corpus-$name
  mkdir -p "$work" "$corpus"
  echo "fuzz: $name for ${seconds}s"
  if ! "$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix=build/native/fuzz/ "$work" "$corpus" > "build/native/fuzz/$name.log" 2>&1; then
    echo "fuzz: $name FAILED"; tail -40 "build/native/fuzz/$name.log"; status=1
  else
    grep -E 'stat::number_of_executed_units' "build/native/fuzz/$name.log" || true
  fi
done
exit $status
