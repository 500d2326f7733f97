#!/usr/bin/env bash
# The main job: the client program under Wine against the local service stand-in and the
# simulated dial-up service. It starts the stand-in, lays out a program directory whose
# service.ini points at 127.0.0.1, and runs accelclient.exe.
#
# With a display of your own (DISPLAY set, ACCEL_DEMO_SCRIPTED unset) you drive the client:
# log in as test01 / pass01, pick a game and a line, connect. Without one (or with
# ACCEL_DEMO_SCRIPTED=1) the GUI driver runs a whole acceleration on a virtual display (log
# in, pick a game, choose a line in the line dialog, connect, wait for "加速连接成功…", accept
# the offer to start the game, disconnect, exit) and photographs every step. Screenshots (PNG) and the run logs go to a
# folder of their own under build/demo/, named at the end.
#
# What runs is what users get: the shipping 32-bit build (preset win32, installed as its setup
# program lays it out), under the 32-bit Wine of an emulated i386 environment that the first
# run prepares (scripts/setup-win32.sh, about 7 minutes, once). ACCEL_DEMO_LANE=win64 runs the
# 64-bit test build under wine64 instead, for a quick run; so does a machine that cannot run
# 32-bit programs (no root, no binfmt_misc), which the demo says.
#
# ACCEL_DEMO_WIN32_DIR / ACCEL_DEMO_WIN64_DIR / ACCEL_DEMO_NATIVE_DIR / ACCEL_DEMO_OUT choose
# other build and output directories (default build/win32, build/win64, build/native,
# build/demo).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
bash scripts/setup.sh

lane=${ACCEL_DEMO_LANE:-win32}
if [ "$lane" = win32 ]; then
  set +e; bash scripts/setup-win32.sh; rc=$?; set -e
  case $rc in
    0) ;;
    2) echo "demo: this machine cannot run 32-bit programs; running the 64-bit test build instead"
       lane=win64 ;;
    *) echo "demo: the 32-bit Windows environment could not be prepared" >&2; exit 1 ;;
  esac
fi
winbuild=${ACCEL_DEMO_WIN64_DIR:-build/win64}
preset=win64
if [ "$lane" = win32 ]; then winbuild=${ACCEL_DEMO_WIN32_DIR:-build/win32}; preset=win32; fi
native=${ACCEL_DEMO_NATIVE_DIR:-build/native}
base=${ACCEL_DEMO_OUT:-build/demo}/$lane

echo "== build ($preset)"
cmake --preset native -B "$native" >/dev/null
cmake --build "$native" -j2 --target service_stub
cmake --preset "$preset" -B "$winbuild" >/dev/null
cmake --build "$winbuild" -j2 --target accelclient IpCollect tunnel_xp tunnel_w7 dialup_rasapi32 \
  dialup_rasdial gui_driver

mkdir -p "$base"
base=$(cd "$base" && pwd)
out=$base/run-$(date +%Y%m%d-%H%M%S)
app=$out/app
mkdir -p "$app/Cache"
# The program directory as the build installs it (the setup program carries the same files).
cmake --install "$winbuild" --prefix "$app" >/dev/null
cp "$winbuild/tools/dialup/rasapi32.dll" "$app/"
printf '[Service]\r\nClientHost=127.0.0.1\r\nWebHost=127.0.0.1\r\nForumHost=127.0.0.1\r\nLoginHost=127.0.0.1\r\n' \
  >"$app/service.ini"
driver=$(cd "$winbuild" && pwd)/tools/gui_driver/gui_driver.exe

scripted=0
if [ -z "${DISPLAY:-}" ] || [ -n "${ACCEL_DEMO_SCRIPTED:-}" ]; then
  scripted=1
  # The scripted run starts past the first-run dialog (that dialog belongs to a real first start).
  printf '[User]\r\nRUN_COUNTER=1\r\n' >"$app/Cache/user.ini"
  # A virtual display of the run's own, even when there is a display.
  unset DISPLAY
fi

# One Wine prefix for every demo run of the lane, beside its run folders.
. scripts/wine-env.sh "$base" "$lane"
accel_wine_start
cp "$winbuild/tools/dialup/rasdial.exe" "$WINEPREFIX/drive_c/windows/system32/"
# Wine prefers its own stub rasapi32 unless told otherwise.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;rasapi32=n,b"
export ACCEL_STUB_WEB_PORT=80
export ACCEL_DIALUP_STATE='C:\accel_demo_dialup.dat'
export ACCEL_DIALUP_DELAY_MS=200
rm -f "$WINEPREFIX/drive_c/accel_demo_dialup.dat"
# The first game's start command, so that the connected client offers to start it: a harmless
# command that notes the folder it was started in.
rm -f "$WINEPREFIX/drive_c/accel_demo_game.txt"
"$WINE" reg add 'HKLM\SOFTWARE\VelaSample\LongCheng' /v StartCmd /t REG_SZ /f \
  /d 'C:\windows\system32\cmd.exe /c cd > C:\accel_demo_game.txt' >/dev/null 2>&1 || true

if [ "$lane" = win32 ]; then
  built="it ran the shipping 32-bit build ($winbuild, i386 images) under the emulated 32-bit Wine"
else
  built="it ran the 64-bit test build ($winbuild, x64 images) under wine64, not what users get"
fi

echo "== service stand-in on 127.0.0.1:8080, :80 and udp :8001"
if (exec 3<>/dev/tcp/127.0.0.1/8080) 2>/dev/null; then
  echo "demo: port 8080 is taken (another stand-in is running); stop it first" >&2
  exit 1
fi
"$native/tools/service_stub/service_stub" --data tools/service_stub/data \
  --record "$out/record.jsonl" --pidfile "$out/stub.pid" >"$out/stub.log" 2>&1 &
stub=$!
client=
cleanup() {
  [ -n "$client" ] && kill "$client" 2>/dev/null || true
  kill "$stub" 2>/dev/null || true
  accel_wine_stop
}
trap cleanup EXIT
for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/8080) 2>/dev/null && break; sleep 0.1; done

# Keeps the client's logs (GBK) beside the screenshots, with UTF-8 copies to read.
collect_logs() {
  for f in "$app"/Cache/*.log; do
    [ -e "$f" ] || continue
    cp "$f" "$out/"
    iconv -f GBK -t UTF-8 "$f" 2>/dev/null | tr -d '\r' >"$out/$(basename "$f" .log).utf8.txt" || true
  done
}

if [ $scripted -eq 0 ]; then
  echo "== accelclient.exe on $DISPLAY: log in as test01 / pass01 (or test02 / pass02)"
  (cd "$app" && "$WINE" accelclient.exe) || true
  collect_logs
  echo "demo: the run's logs are in $out; $built"
  exit 0
fi

echo "== accelclient.exe on the virtual display $DISPLAY, driven by gui_driver.exe"
(cd "$app" && exec "$WINE" accelclient.exe) >"$out/client.out" 2>&1 &
client=$!

gd() { "$WINE" "$driver" "$@" 2>>"$out/driver.err" | tr -d '\r'; }
shots=0
shot() {  # shot NAME: the whole screen as NN-NAME.png
  shots=$((shots + 1))
  local name
  name=$(printf '%02d-%s' "$shots" "$1")
  sleep 0.7  # let the last change be drawn
  if gd screenshot "Z:$out/$name.bmp" && convert "$out/$name.bmp" "$out/$name.png"; then
    rm -f "$out/$name.bmp"
    echo "   screenshot $name.png"
  fi
}
failed=
fail() {
  failed=$1
  echo "demo: FAILED at: $1" >&2
  shot failed
  collect_logs
  echo "demo: screenshots and logs of the failed run are in $out; $built"
  exit 1
}

title='Vela网游加速器 V2.1'
echo "-- login"
login=$(gd wait-window --class '#32770' --title "$title" --timeout 60000) || fail "login dialog"
shot login
gd set-text "$login" 1000 test01 && gd set-text "$login" 1001 pass01 || fail "typing the account"
shot login-typed
gd click "$login" 1 || fail "login button"
frame=$(gd wait-window --class AccelMainFrame --title "$title" --timeout 120000) || fail "main window"
gd wait-text "$frame" 1014 test01 120000 >/dev/null || fail "account shown"
echo "   account $(gd text "$frame" 1014), $(gd text "$frame" 1015), valid until $(gd text "$frame" 1016)"
shot main-window

echo "-- game"
gd combo "$frame" 1004 | sed 's/^/   /'
gd combo-select "$frame" 1004 0 || fail "choosing a game"

echo "-- line"
gd click "$frame" 1031 || fail "line button"
lines=$(gd wait-window --class "#32770" --title "选择加速线路" --timeout 120000) || fail "line dialog"
gd tree "$lines" 1028 | sed 's/^/   /'
gd tree-select "$lines" 1028 '电信一区' || fail "choosing a line"
sleep 2  # the dialog measures the line
echo "   latency $(gd text "$lines" 1013)"
shot line-dialog
gd click "$lines" 1 || fail "line dialog OK"
gd wait-gone --class '#32770' --title '选择加速线路' --timeout 10000 || fail "line dialog closing"
echo "   line: $(gd text "$frame" 1003)"
shot line-chosen

echo "-- connect"
gd click "$frame" 1005 || fail "connect button"
sleep 1
echo "   status: $(gd text "$frame" 1009)"
shot connecting
# Under Wine the simulated connection has no route through it, so the page adds to the
# success that the game's routes could not be set.
gd wait-text "$frame" 1009 '加速连接成功*' 60000 >/dev/null || fail "connection"
echo "   status: $(gd text "$frame" 1009)"
echo "-- launch offer"
offer=$(gd msgbox --timeout 15000) || fail "launch offer"
echo "$offer" | sed 's/^/   /'
shot launch-offer
gd msgbox --timeout 5000 --answer 1 >/dev/null || fail "answering the launch offer"
for _ in $(seq 50); do [ -s "$WINEPREFIX/drive_c/accel_demo_game.txt" ] && break; sleep 0.2; done
[ -s "$WINEPREFIX/drive_c/accel_demo_game.txt" ] || fail "the game's command did not run"
echo "   the game's command ran in $(tr -d '\r' <"$WINEPREFIX/drive_c/accel_demo_game.txt")"
sleep 2  # a few speed ticks
echo "   $(gd text "$frame" 1022)"
shot connected

echo "-- disconnect"
gd click "$frame" 1010 || fail "disconnect button"
gd wait-text "$frame" 1009 '加速连接已经断开' 30000 >/dev/null || fail "disconnection"
echo "   status: $(gd text "$frame" 1009)"
shot disconnected

echo "-- exit"
gd command "$frame" 30006 || fail "exit command"
for _ in $(seq 100); do kill -0 "$client" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$client" 2>/dev/null; then fail "the client did not end"; fi
client=
collect_logs
echo "-- run log"
sed 's/^/   /' "$out/run.utf8.txt" 2>/dev/null | tail -n 40 || true
echo
echo "demo: a whole acceleration ran (login, game, line, connect, game start, disconnect, exit)."
echo "demo: $built"
echo "demo: $shots screenshots and the run logs are in $out"
