#!/usr/bin/env bash
# The main job, run here: the local service stand-in, the simulated dial-up service, and
# each tunnel module driven through a scripted connect, hold and disconnect under Wine the
# way the client's acceleration page drives it; a refused tunnel password last. Prints the
# modules' messages and run logs; with no display of its own it photographs each run into
# build/demo/*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
bash scripts/setup.sh

echo "== build"
cmake --preset native >/dev/null
cmake --build --preset native -j2 --target service_stub
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j2 --target tunnel_xp tunnel_w7 tunnel_demo dialup_rasapi32 dialup_rasdial

out=$top/build/demo
app=$out/app
rm -rf "$app" "$out"/*.png "$out"/*.out
mkdir -p "$app/Cache"
cp build/win64/tunnel/tunnel_xp.dll build/win64/tunnel/tunnel_w7.dll \
   build/win64/tools/tunnel_demo/tunnel_demo.exe build/win64/tools/dialup/rasapi32.dll "$app/"
cp tunnel/velanet_0.pbk "$app/Cache/"

had_display=${DISPLAY:-}
. scripts/wine-env.sh "$out"
accel_wine_start
cp build/win64/tools/dialup/rasdial.exe "$WINEPREFIX/drive_c/windows/system32/"
# Wine prefers its own stub rasapi32 unless told otherwise.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;rasapi32=n,b"
export ACCEL_STUB_WEB_PORT=80
export ACCEL_DIALUP_STATE='C:\accel_demo_dialup.dat'
rm -f "$WINEPREFIX/drive_c/accel_demo_dialup.dat"

echo "== service stand-in on 127.0.0.1:8080 and :80"
build/native/tools/service_stub/service_stub --data tools/service_stub/data \
  --record "$out/record.jsonl" --pidfile "$out/stub.pid" >"$out/stub.log" 2>&1 &
stub=$!
cleanup() {
  kill "$stub" 2>/dev/null || true
  accel_wine_stop
}
trap cleanup EXIT
for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/80) 2>/dev/null && break; sleep 0.1; done

status=0
# run_module <name> <dll> <user> <password>
run_module() {
  local name=$1 dll=$2 user=$3 pass=$4
  echo
  echo "== $name: $dll, user $user"
  rm -f "$app/Cache/run.log"
  (cd "$app" && "$WINE" tunnel_demo.exe "$dll" 127.0.0.1 "$user" "$pass" 2500) >"$out/$name.out" 2>/dev/null &
  local demo=$! shot=0
  while kill -0 "$demo" 2>/dev/null; do
    if [ -z "$had_display" ] && [ $shot -eq 0 ] && grep -qaE '^(CONNECTED|FINISHED)'$'\r''?$' "$out/$name.out"; then
      sleep 0.5
      import -window root "$out/$name.png" && shot=1 && echo "screenshot: build/demo/$name.png"
    fi
    sleep 0.2
  done
  wait "$demo" || true
  # The demo writes UTF-8; the system commands it starts (sc, net) answer in GBK.
  python3 -c 'import sys
for raw in open(sys.argv[1], "rb").read().split(b"\n"):
    raw = raw.rstrip(b"\r")
    try: line = raw.decode("utf-8")
    except UnicodeDecodeError: line = raw.decode("gbk", "replace")
    if line and line not in ("CONNECTED", "FINISHED"): print(line)' "$out/$name.out"
  echo "-- run log (Cache/run.log):"
  iconv -f GBK -t UTF-8 "$app/Cache/run.log" | tr -d '\r'
}

run_module xp-connect tunnel_xp.dll test01 C0DE0001
 grep -qa '^WM_TUNNEL_CONNECTED' "$out/xp-connect.out" || status=1
run_module w7-connect tunnel_w7.dll test02 C0DE0002
grep -qa '^WM_TUNNEL_CONNECTED' "$out/w7-connect.out" || status=1
run_module xp-refused tunnel_xp.dll test01 wrong-code
grep -qa '^WM_TUNNEL_ERROR 691' "$out/xp-refused.out" || status=1

echo
if [ $status -eq 0 ]; then
  echo "demo: both modules connected and disconnected; the wrong tunnel password was refused (691)"
else
  echo "demo: FAILED (see above)"
fi
exit $status
