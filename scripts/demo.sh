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
# ACCEL_DEMO_INSIDE: this is the run itself, started again by the part below inside the
# simulated network, with everything set up and built.
inside=${ACCEL_DEMO_INSIDE:-}
[ -n "$inside" ] || bash scripts/setup.sh

lane=${ACCEL_DEMO_LANE:-win32}
if [ "$lane" = win32 ] && [ -z "$inside" ]; then
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

if [ -z "$inside" ]; then
  echo "== build ($preset)"
  cmake --preset native -B "$native" >/dev/null
  cmake --build "$native" -j2 --target service_stub
  cmake --preset "$preset" -B "$winbuild" >/dev/null
  cmake --build "$winbuild" -j2 --target accelclient IpCollect tunnel_xp tunnel_w7 dialup_rasapi32 \
    dialup_rasdial gui_driver netsim_iphlpapi netsim_game

  # The run itself goes on in a network namespace of its own (scripts/netns.sh): a routing
  # table, the PC's interface and the tunnel's, the game's servers; nothing links it to this
  # machine's network. Without one (not root) it runs here, and no route can be set.
  . scripts/netns.sh
  if accel_netns_possible; then
    export ACCEL_DEMO_LANE=$lane
    chroot_root=
    if [ "$lane" = win32 ]; then
      . scripts/win32-lane.sh
      accel_w32_mount "$top"
      chroot_root=$ACCEL_W32_ROOT
    fi
    accel_netns_make demo
    trap accel_netns_remove EXIT
    echo "== simulated network $ACCEL_NETNS (lan0 198.18.0.2 via 198.18.0.1; a tunnel interface ppp0, ppp1, ... while connected)"
    set +e
    ACCEL_NETNS_CHROOT=$chroot_root ACCEL_DEMO_INSIDE=1 accel_netns_exec bash scripts/demo.sh
    rc=$?
    set -e
    exit $rc
  fi
  echo "demo: no simulated network here; the connection will have no routes of its own"
fi
netsim=${ACCEL_NETSIM:-0}

mkdir -p "$base"
base=$(cd "$base" && pwd)
out=$base/run-$(date +%Y%m%d-%H%M%S)
app=$out/app
mkdir -p "$app/Cache"
# The program directory as the build installs it (the setup program carries the same files).
cmake --install "$winbuild" --prefix "$app" >/dev/null
cp "$winbuild/tools/dialup/rasapi32.dll" "$app/"
cp "$winbuild/tools/netsim/netsim_game.exe" "$app/"
if [ "$netsim" = 1 ]; then
  # The routing table of the namespace: the stand-in library adds the routes to it and reads
  # it through Wine's own library, beside it under another name.
  cp "$winbuild/tools/netsim/iphlpapi.dll" "$app/"
  if [ "$lane" = win32 ]; then
    . scripts/win32-lane.sh
    cp "$ACCEL_W32_ROOT/usr/lib/i386-linux-gnu/wine/i386-windows/iphlpapi.dll" "$app/iphlpwine.dll"
  else
    cp /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/iphlpapi.dll "$app/iphlpwine.dll"
  fi
fi
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
# The prefix's system processes (the routing table is read in one of them) must be this
# run's, inside its network.
"$WINESERVER" -k >/dev/null 2>&1 && "$WINESERVER" -w >/dev/null 2>&1
accel_wine_start
cp "$winbuild/tools/dialup/rasdial.exe" "$WINEPREFIX/drive_c/windows/system32/"
# Wine prefers its own stub rasapi32 unless told otherwise.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;rasapi32,iphlpapi=n,b"
export ACCEL_STUB_WEB_PORT=80
export ACCEL_DIALUP_STATE='C:\accel_demo_dialup.dat'
export ACCEL_DIALUP_DELAY_MS=200
rm -f "$WINEPREFIX/drive_c/accel_demo_dialup.dat"
# The first game's start command, so that the connected client offers to start it: the game's
# stand-in, which talks for a few seconds to a server in a network of the game's route list
# that goes through the tunnel (192.0.2.0/24), to one in its direct network (203.0.113.0/24)
# and to one in neither (198.51.100.200), and writes down the echoes it got.
rm -f "$WINEPREFIX/drive_c/accel_demo_game.txt"
"$WINE" reg add 'HKLM\SOFTWARE\VelaSample\LongCheng' /v StartCmd /t REG_SZ /f \
  /d "\"$(printf 'Z:%s' "$app" | tr / '\\')\\netsim_game.exe\" C:\\accel_demo_game.txt 6 192.0.2.10 203.0.113.10 198.51.100.200" \
  >/dev/null 2>&1 || true

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
netsim_args=()
[ "$netsim" = 1 ] && netsim_args=(--netsim --packets "$out/packets.jsonl")
"$native/tools/service_stub/service_stub" --data tools/service_stub/data \
  --record "$out/record.jsonl" --pidfile "$out/stub.pid" "${netsim_args[@]}" >"$out/stub.log" 2>&1 &
stub=$!
client=
cleanup() {
  [ -n "$client" ] && kill "$client" 2>/dev/null || true
  kill "$stub" 2>/dev/null || true
  accel_wine_stop
}
trap cleanup EXIT
for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/8080) 2>/dev/null && break; sleep 0.1; done

routes() {  # routes HEADING: the namespace's kernel table, read from outside Wine
  [ "$netsim" = 1 ] || return 0
  echo "   $1 (ip -4 route):"
  ip -4 route show table main | sed 's/^/     /'
}
# Where the game's datagrams went: interface, destination, how many (the stand-in's record).
packets() {
  [ "$netsim" = 1 ] && [ -s "$out/packets.jsonl" ] || return 0
  echo "   packets that reached the game's servers (interface, source -> destination, protocol, count):"
  python3 - "$out/packets.jsonl" <<'PY' | sed 's/^/     /'
import collections, json, sys
seen = collections.Counter()
for line in open(sys.argv[1], encoding="latin-1"):
    p = json.loads(line)
    seen[(p["if"], p["src"], p["dst"], p["proto"] + (":%s" % p["dport"] if "dport" in p else ""))] += 1
for (iface, src, dst, proto), n in sorted(seen.items()):
    print("%-5s %-12s -> %-15s %-10s %d" % (iface, src, dst, proto, n))
PY
}
routes "routing table before the client starts"

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
if [ "$netsim" = 1 ]; then
  gd wait-text "$frame" 1009 '加速连接成功' 60000 >/dev/null || fail "connection"
  # The route job runs after the connection is announced: the table is read once it has
  # the game's networks through the tunnel.
  game_routes() {
    for _ in $(seq 50); do ip -4 route show | grep -q '^192\.0\.2\.0/24 dev ppp' && return 0; sleep 0.2; done
    return 1
  }
  game_routes || fail "the game's networks through the tunnel"
  case "$(gd text "$frame" 1009)" in *失败*) fail "the route job (status: $(gd text "$frame" 1009))" ;; esac
else
  # Without the simulated network the connection has no route through it, so the page adds
  # to the success that the game's routes could not be set.
  gd wait-text "$frame" 1009 '加速连接成功*' 60000 >/dev/null || fail "connection"
fi
echo "   status: $(gd text "$frame" 1009)"
routes "routing table while connected"
echo "-- launch offer"
offer=$(gd msgbox --timeout 15000) || fail "launch offer"
echo "$offer" | sed 's/^/   /'
shot launch-offer
gd msgbox --timeout 5000 --answer 1 >/dev/null || fail "answering the launch offer"
sleep 3  # the game sends; a few speed ticks
echo "   $(gd text "$frame" 1022)"
shot connected
for _ in $(seq 100); do [ -s "$WINEPREFIX/drive_c/accel_demo_game.txt" ] && break; sleep 0.2; done
[ -s "$WINEPREFIX/drive_c/accel_demo_game.txt" ] || fail "the game did not run"
echo "   the game's echoes (address, datagrams sent, echoes received):"
tr -d '\r' <"$WINEPREFIX/drive_c/accel_demo_game.txt" | sed 's/^/     /'
packets

if [ "$netsim" = 1 ]; then
  echo "-- the line drops"
  # As a dead link: the simulated service drops every line that is up at its next call
  # (tools/dialup), the tunnel interface and its routes go; the client notices and dials the
  # same line again by itself.
  : >"$WINEPREFIX/drive_c/accel_demo_dialup.dat.drop"
  gd wait-text "$frame" 1009 '加速连接中断，正在重新连接（第1次）...' 15000 >/dev/null || fail "the lost line noticed"
  echo "   status: $(gd text "$frame" 1009)"
  shot line-lost
  routes "routing table after the drop"
  gd wait-text "$frame" 1009 '加速连接成功' 60000 >/dev/null || fail "the reconnection"
  game_routes || fail "the game's networks through the new tunnel"
  echo "   status: $(gd text "$frame" 1009)"
  shot reconnected
  routes "routing table after the reconnection"
fi

echo "-- disconnect"
gd click "$frame" 1010 || fail "disconnect button"
gd wait-text "$frame" 1009 '加速连接已经断开' 30000 >/dev/null || fail "disconnection"
echo "   status: $(gd text "$frame" 1009)"
shot disconnected
routes "routing table after the disconnect (the tunnel's routes went with its interface)"

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
