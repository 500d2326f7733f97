#!/usr/bin/env bash
# A setup program under Wine: a silent install into the default
# folder (Program Files, a path with a blank), the installed client up to its login dialog,
# a refused install while it runs, an upgrade over the user's data, folders a setup program
# must refuse, a silent uninstall. The prefix's icacls is the end-to-end command recorder
# meanwhile (Wine reports Windows 7): each install and upgrade gives the folder and Cache
# their access lists and owner with it before any file is there; an upgrade told that it runs
# on XP sets them through advapi32 instead (Wine keeps no access lists to read).
# Usage: installer_test.sh <build dir> <gui_driver.exe> <results dir> <lane: win64|win32>
#        <command_recorder.exe>
# The build dir is the one whose CPack configuration makes the setup program: the win64 build,
# or on the 32-bit lane the shipping build, with the results in the 32-bit test build.
set -uo pipefail
build=$1 driver=$2 results=$3 lane=$4 recorder=$5
own_wine=
if [ -z "${WINEPREFIX:-}" ] || [ -z "${WINE:-}" ]; then
  # Run by CTest alone: the Wine environment that the scripts give every test of the lane.
  . "$(dirname "$0")/../../scripts/wine-env.sh" "$results" "$lane"
  accel_wine_start >/dev/null
  own_wine=1
fi
out=$results/installer-test
dir="$WINEPREFIX/drive_c/Program Files/VelaVPN"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VelaVPN'
title='Vela网游加速器 V2.1'
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Vela网游加速器"
desktop="$WINEPREFIX/drive_c/users/Public/Desktop/Vela网游加速器.lnk"
icacls="$WINEPREFIX/drive_c/windows/system32/icacls.exe"
wine_icacls=$results/icacls-wine.exe  # outside $out: a run that was killed left the recorder
record=$out/icacls.txt
client=

failures=0 cases=
check() {  # check WHAT COMMAND...: one line per check, one case of the report
  local what=$1; shift
  if "$@"; then
    echo "ok   $what"; cases+="<testcase name=\"$what\"/>"
  else
    echo "FAIL $what"; cases+="<testcase name=\"$what\"><failure/></testcase>"
    failures=$((failures + 1))
  fi
}
finish() {  # the report in GoogleTest's form, so that the test command counts the checks
  [ -n "$client" ] && kill "$client" 2>/dev/null
  [ -f "$wine_icacls" ] && cp "$wine_icacls" "$icacls"
  [ -n "$own_wine" ] && accel_wine_stop
  mkdir -p "$results/test-results"
  echo "<testsuites><testsuite name=\"installer\">$cases</testsuite></testsuites>" \
    >"$results/test-results/installer_test.xml"
  echo "$failures failed"
  exit $((failures > 0))
}
reg_value() {  # the data of one value of the uninstall key, UTF-8
  "$WINE" reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | iconv -f GBK -t UTF-8 |
    sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}
uninstaller_copy_runs() {  # the uninstaller's copy of itself (%TEMP%\~nsuN.tmp\Un.exe) in this prefix
  # Wine's tasklist is a stub; its wmic lists the processes, in UTF-16.
  "$WINE" wmic process get name 2>/dev/null | iconv -f UTF-16 -t UTF-8 2>/dev/null | tr -d '\r ' |
    grep -qiE '^(un(_[a-z])?|au_)\.exe$'
}
wait_gone() {  # wait_gone FILE: the uninstaller hands over to a copy of itself in %TEMP%, started
  # before it returns, which removes FILE, the shortcuts and the key: over when that copy has ended.
  local ended=1
  for _ in $(seq 120); do uninstaller_copy_runs || { ended=0; break; }; sleep 0.5; done
  [ $ended -eq 0 ] && [ ! -e "$1" ]
}
# The command lines an install runs: a new folder gets its list and owner, then Cache; a
# folder that was there loses its own entries first, and what it holds is reset under it.
icacls_new() {
  local program='"C:\windows\system32\icacls.exe"' folder='"C:\Program Files\VelaVPN'
  local grants='/inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F'
  local owner='/setowner *S-1-5-32-544 /T /C'
  printf '%s\r\n' "$program $folder\" $grants *S-1-5-32-545:(OI)(CI)RX" "$program $folder\" $owner" \
                  "$program $folder\\Cache\" $grants" "$program $folder\\Cache\" $owner"
}
icacls_again() {
  local program='"C:\windows\system32\icacls.exe"' folder='"C:\Program Files\VelaVPN'
  local grants='/inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F'
  local owner='/setowner *S-1-5-32-544 /T /C'
  printf '%s\r\n' "$program $folder\" /reset /C" \
                  "$program $folder\" $grants *S-1-5-32-545:(OI)(CI)RX" "$program $folder\" $owner" \
                  "$program $folder\\*\" /reset /T /C" \
                  "$program $folder\\Cache\" $grants" "$program $folder\\Cache\" $owner"
}
icacls_ran() {  # icacls_ran KIND...: the command lines of these installs, all they recorded
  for kind in "$@"; do "icacls_$kind"; done >"$out/icacls.expected"
  grep -av '^  holds:' "$record" >"$out/icacls.commands"
  cmp -s "$out/icacls.expected" "$out/icacls.commands" || { echo "icacls ran as:"; cat "$record"; return 1; }
}
# What the folder held as each of the first install's commands ran: nothing before its own
# list was set, nothing but Cache before Cache's.
held_nothing_yet() {
  local got
  got=$(grep -a '^  holds:' "$record" | head -4 | tr -d '\r' | tr '\n' '|')
  [ "$got" = "  holds:|  holds:|  holds: Cache|  holds: Cache|" ] || { echo "held: $got"; return 1; }
}
no_program_files() {
  for f in accelclient.exe IpCollect.dll tunnel_xp.dll tunnel_w7.dll Cache/velanet_0.pbk uninstall.exe; do
    [ ! -e "$dir/$f" ] || return 1
  done
}

# A clean start: nothing of an earlier run in the prefix.
if [ -e "$dir/uninstall.exe" ]; then "$WINE" "$dir/uninstall.exe" /S; wait_gone "$dir/uninstall.exe"; fi
rm -rf "$dir" "$out"; "$WINE" reg delete "$key" /f >/dev/null 2>&1
mkdir -p "$out"
cmp -s "$recorder" "$icacls" || cp "$icacls" "$wine_icacls"
cp "$recorder" "$icacls"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}icacls.exe=n,b"
export ACCEL_COMMAND_RECORD="Z:$record" ACCEL_COMMAND_SNAPSHOT='C:\Program Files\VelaVPN'

cpack --config "$build/CPackConfig.cmake" -G NSIS -B "$out" >"$out/cpack.log" 2>&1
setup=$(ls "$out"/accelclient-*-setup.exe 2>/dev/null | head -1)
check "cpack builds the setup program" test -n "$setup"
[ -n "$setup" ] || { cat "$out/cpack.log"; finish; }
staged=$(ls -d "$out"/_CPack_Packages/*/NSIS/accelclient-*-setup)

echo "-- silent install"
"$WINE" "$setup" /S
check "install exits with 0" test $? -eq 0
check "install sets the access lists and owner of the folder and Cache" icacls_ran new
check "before it writes a file there" held_nothing_yet
for f in accelclient.exe IpCollect.dll tunnel_xp.dll tunnel_w7.dll Cache/velanet_0.pbk; do
  if [ -e "$staged/$f" ]; then check "$f installed" cmp -s "$staged/$f" "$dir/$f"; fi
done
check "uninstall.exe installed" test -f "$dir/uninstall.exe"
check "Start-menu shortcut to the client" test -f "$menu/Vela网游加速器.lnk"
check "Start-menu shortcut to the uninstaller" test -f "$menu/卸载 Vela网游加速器.lnk"
check "desktop shortcut" test -f "$desktop"
check "uninstall key: name" test "$(reg_value DisplayName)" = "Vela网游加速器"
check "uninstall key: version" test "$(reg_value DisplayVersion)" = "$(sed -n 's/^#define ACCEL_VERSION_TEXT "\(.*\)"$/\1/p' "$(dirname "$0")/../../client/shell/version.h")"
check "uninstall key: publisher" test "$(reg_value Publisher)" = "Vela网络"
check "uninstall key: icon" test "$(reg_value DisplayIcon)" = 'C:\Program Files\VelaVPN\accelclient.exe,0'
check "uninstall key: uninstaller" test "$(reg_value UninstallString)" = '"C:\Program Files\VelaVPN\uninstall.exe"'
size=$(reg_value EstimatedSize)
check "uninstall key: size in KB ($size)" test "$((size))" -ge "$(( $(du -sk "$staged" | cut -f1) * 9 / 10 ))"

echo "-- the installed client"
printf '[Service]\r\nClientHost=127.0.0.2\r\nWebHost=127.0.0.2\r\nForumHost=127.0.0.2\r\nLoginHost=127.0.0.2\r\n' \
  >"$dir/service.ini"
(cd "$dir" && exec "$WINE" accelclient.exe) >"$out/client.out" 2>&1 &
client=$!
login=$("$WINE" "$driver" wait-window --class '#32770' --title "$title" --timeout 60000 | tr -d '\r')
check "the client reaches its login dialog" test -n "$login"
cp "$dir/tunnel_w7.dll" "$out/before.dll"
"$WINE" "$setup" /S
check "install while the client runs is refused with 2" test $? -eq 2
check "and changes nothing" cmp -s "$out/before.dll" "$dir/tunnel_w7.dll"
[ -n "$login" ] && "$WINE" "$driver" close "$login" >/dev/null
for _ in $(seq 100); do kill -0 "$client" 2>/dev/null || break; sleep 0.2; done
check "the client ends when its login dialog is closed" bash -c "! kill -0 $client 2>/dev/null"
kill "$client" 2>/dev/null; wait "$client" 2>/dev/null; client=
rm -f "$dir/service.ini"

echo "-- upgrade over the user's data"
printf '[User]\r\nNAME=keeper\r\n' >"$dir/Cache/user.ini"
printf '<Data/>\r\n' >"$dir/Cache/servers.xml"
printf 'log line\r\n' >>"$dir/Cache/velavpn.log"
cp "$dir/Cache/velavpn.log" "$out/velavpn.log"
printf 'old' >"$dir/tunnel_w7.dll"
"$WINE" "$setup" /S
check "upgrade exits with 0" test $? -eq 0
check "upgrade resets the folder and what it holds (the refused install did not)" icacls_ran new again
check "upgrade replaces the program files" cmp -s "$staged/tunnel_w7.dll" "$dir/tunnel_w7.dll"
check "upgrade keeps Cache/user.ini" test "$(cat "$dir/Cache/user.ini")" = $'[User]\r\nNAME=keeper\r'
check "upgrade keeps the cached lists" test "$(cat "$dir/Cache/servers.xml")" = $'<Data/>\r'
check "upgrade keeps velavpn.log" cmp -s "$out/velavpn.log" "$dir/Cache/velavpn.log"
xp="HKCU\\Software\\Wine\\AppDefaults\\$(basename "$setup")"
"$WINE" reg add "$xp" /v Version /d winxp /f >/dev/null
"$WINE" "$setup" /S
check "upgrade on XP exits with 0 (3: the access lists failed)" test $? -eq 0
"$WINE" reg delete "$xp" /f >/dev/null
check "and runs no icacls" icacls_ran new again

echo "-- folders refused, nothing written"
games="$WINEPREFIX/drive_c/Games"
rm -rf "$games"; mkdir -p "$games/Other" "$games/Empty"
printf 'save' >"$games/Other/save.dat"
refused() {  # refused CODE FOLDER: a silent install there ends with CODE and writes nothing
  local code=$1 folder=$2
  "$WINE" "$setup" /S "/D=$folder"
  local got=$?
  [ "$got" -eq "$code" ] || { echo "exit code $got"; return 1; }
  [ ! -e "$WINEPREFIX/drive_c/accelclient.exe" ] && [ ! -e "$WINEPREFIX/drive_c/uninstall.exe" ] &&
    [ "$(ls "$games/Other")" = save.dat ] && [ -z "$(ls "$games/Empty")" ] && icacls_ran new again
}
check "a drive's root is refused with 4" refused 4 'C:\'
check "a folder holding files of something else is refused with 7" refused 7 'C:\Games\Other'
if "$WINE" cmd /c mklink /J 'C:\Games\Link' 'C:\Games\Empty' >/dev/null 2>&1 &&
   [ -e "$games/Link" ]; then
  check "a folder in a junction is refused with 5" refused 5 'C:\Games\Link\VelaVPN'
  check "and so is the junction itself" refused 5 'C:\Games\Link'
else
  echo "(Wine made no junction: the reparse-point refusal is not tried)"
fi
rm -rf "$games"

echo "-- silent uninstall"
"$WINE" "$dir/uninstall.exe" /S
check "uninstall exits with 0" test $? -eq 0
check "uninstall ends" wait_gone "$dir/uninstall.exe"
check "the program files are gone" no_program_files
check "the cached lists and the log are gone" test ! -e "$dir/Cache/servers.xml" -a ! -e "$dir/Cache/velavpn.log"
check "Cache/user.ini is kept" test "$(cat "$dir/Cache/user.ini" 2>/dev/null)" = $'[User]\r\nNAME=keeper\r'
check "the shortcuts are gone" test ! -e "$menu" -a ! -e "$desktop"
check "the uninstall key is gone" bash -c "! '$WINE' reg query '$key' >/dev/null 2>&1"
finish
