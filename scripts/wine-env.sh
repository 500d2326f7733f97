# Sourced by the scripts: one Wine prefix inside the build tree, Chinese code page, no
# debug noise, and a virtual display for the tests that make windows.
# Usage: . scripts/wine-env.sh <build dir> [win64|win32]
# win64 (the default) is the host's wine64; win32 the 32-bit Wine of the lane's chroot
# (scripts/win32-lane.sh), which runs the shipping build.
_accel_build=${1:?build dir}
mkdir -p "$_accel_build"
export WINEPREFIX="$(cd "$_accel_build" && pwd -P)/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
if [ "${2:-win64}" = win32 ]; then
  _accel_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)
  export WINEARCH=win32
  export WINE=$_accel_scripts/wine32
  export WINESERVER=$_accel_scripts/wineserver32
else
  export WINEARCH=win64
  export WINE=/usr/lib/wine/wine64
  export WINESERVER=/usr/lib/wine/wineserver64
fi

accel_wine_start() {
  if [ -z "${DISPLAY:-}" ]; then
    # Xvfb takes a free display number itself and says which, once it listens: two lanes
    # starting at once cannot pick the same.
    local said n=
    said=$(mktemp) || return 1
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$said" >/dev/null 2>&1 &
    ACCEL_XVFB_PID=$!
    for _ in $(seq 100); do n=$(tr -dc 0-9 <"$said"); [ -n "$n" ] && break; sleep 0.1; done
    rm -f "$said"
    [ -n "$n" ] || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=:$n
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating prefix $WINEPREFIX"
    "$WINE" wineboot -i >/dev/null 2>&1 || true
    # In the session that created the prefix, COM's RPC service never comes up: each start
    # times out after 10 s, and is tried again at the next use. Everything runs in a new one.
    "$WINESERVER" -w >/dev/null 2>&1 || true
  fi
  # One persistent wineserver for the whole run: every test program starts faster, and a
  # pause between tests does not end the session. Started before any other Wine program
  # here: a server that one of them started is still there, and a second one quietly does
  # not start. Then the session ended with every gap between tests, and the next program
  # began a new one, whose start-up once hung under the emulated 32-bit Wine.
  "$WINESERVER" -p >/dev/null 2>&1 </dev/null || true
  # No window manager runs under Xvfb: Wine draws the title bars and frames itself.
  if ! grep -q '"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
  fi
  # Chinese dialog text: the locale maps "MS Shell Dlg" to SimSun, which Wine lacks; its
  # fallback draws small text from bitmap strikes with the tops of the glyphs cut off and
  # taller dialog units, so pages no longer fit their frames. An outline CJK face instead.
  if ! grep -q 'WenQuanYi Micro Hei' "$WINEPREFIX/user.reg" 2>/dev/null; then
    for face in SimSun NSimSun "MS Shell Dlg" Tahoma; do
      "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d "WenQuanYi Micro Hei" /f \
        >/dev/null 2>&1 || true
    done
  fi
  # The prefix's system processes (services, device and plug-and-play managers) start with
  # the first program and live as long as the wineserver; started here, with no pipes of
  # the test runner open, so that no test waits for them to end.
  "$WINE" wineboot >/dev/null 2>&1 </dev/null || true
  # Windows runs COM's RPC service from boot; Wine starts it at its first use, waiting inside
  # the caller, which for the client is the browser control navigating on its window thread.
  "$WINE" sc start RpcSs >/dev/null 2>&1 </dev/null || true
}

accel_wine_stop() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  if [ -n "${ACCEL_XVFB_PID:-}" ]; then kill "$ACCEL_XVFB_PID" 2>/dev/null || true; unset DISPLAY; fi
}
