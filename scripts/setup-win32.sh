#!/usr/bin/env bash
# Prepares the 32-bit Windows lane on a Debian 12 machine, as root: qemu-i386 from
# bookworm-backports, its binfmt_misc entry, and an i386 bookworm chroot with the 32-bit
# Wine, kept in $ACCEL_W32_CACHE (scripts/win32-lane.sh). Each step is skipped when done, so
# a second run costs seconds; a failure names its step and leaves its log in the cache.
# Exit status: 0 ready, 2 this machine cannot run 32-bit programs (no root or binfmt_misc),
# 1 a step failed.
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/win32-lane.sh
. scripts/retry.sh

accel_w32_possible || exit 2
mkdir -p "$ACCEL_W32_CACHE"
logs=$ACCEL_W32_CACHE/logs
mkdir -p "$logs"
started=$SECONDS
failed() { echo "setup-win32: step '$1' failed; see $logs/$2" >&2; exit 1; }
long() { echo "setup-win32: $* (at $((SECONDS - started)) s)"; }

# The Debian mirror the host's apt already uses (deb822 sources first, then the one-line form).
mirror=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/*.sources 2>/dev/null)
[ -n "$mirror" ] || mirror=$(awk '/^deb / {print $2; exit}' /etc/apt/sources.list 2>/dev/null)
mirror=${mirror:-http://deb.debian.org/debian}

# 1. qemu-i386. Bookworm's own qemu 7.2 ignores the MAP_FIXED_NOREPLACE hint that Wine's
# address-space reservation relies on: every Wine process then spends about a minute of CPU
# before main, and programs crash. 10.0 from backports has it right. Only the static binary
# is taken out of the package, through a private apt state, so the host's sources and dpkg
# stay as they are.
if [ ! -x "$ACCEL_W32_QEMU" ]; then
  long "qemu-i386 from bookworm-backports"
  (
    set -e
    d=$(mktemp -d); trap 'rm -rf "$d"' EXIT
    mkdir -p "$d/lists/partial" "$d/cache/archives/partial"
    echo "deb $mirror bookworm-backports main" >"$d/sources.list"
    a=(-o Dir::Etc::SourceList="$d/sources.list" -o Dir::Etc::SourceParts=/nonexistent
       -o Dir::State::Lists="$d/lists" -o Dir::Cache="$d/cache" -o APT::Architectures::=amd64
       -o APT::Sandbox::User=root)
    accel_retry "apt-get update of bookworm-backports" apt-get "${a[@]}" -qq update
    (cd "$d" && accel_retry "apt-get download qemu-user" apt-get "${a[@]}" -qq download qemu-user)
    dpkg-deb -x "$d"/qemu-user_*.deb "$d/x"
    "$d/x/usr/bin/qemu-i386" --version | head -1
    cp "$d/x/usr/bin/qemu-i386" "$ACCEL_W32_QEMU.new" && mv "$ACCEL_W32_QEMU.new" "$ACCEL_W32_QEMU"
  ) >"$logs/qemu.log" 2>&1 || failed "qemu-i386 from bookworm-backports" qemu.log
fi

# 2. binfmt_misc: i386 ELF executables and PIEs go to qemu. The F flag opens the interpreter
# now, so that it works inside the chroot, where its path does not exist. The entry is host
# wide: one that something else registered is left as it is and used if it runs the
# chroot's programs (step 6), reported if not.
(
  set -e
  mountpoint -q "$ACCEL_W32_BINFMT" || mount -t binfmt_misc binfmt_misc "$ACCEL_W32_BINFMT"
  if accel_w32_foreign_binfmt; then
    echo "a qemu-i386 entry registered by something else is used as it is:"
    cat "$ACCEL_W32_BINFMT/qemu-i386"
    exit 0
  fi
  if [ ! -e "$ACCEL_W32_BINFMT/qemu-i386" ]; then
    printf '%s\n' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$ACCEL_W32_QEMU"':F' \
      >"$ACCEL_W32_BINFMT/register"
  fi
  grep -qx enabled "$ACCEL_W32_BINFMT/qemu-i386" || echo 1 >"$ACCEL_W32_BINFMT/qemu-i386"
) >"$logs/binfmt.log" 2>&1 || failed "binfmt_misc registration" binfmt.log

# 6 (also once ready, when the entry is not this set-up's): a 32-bit program runs.
runs_32bit() {
  chroot "$ACCEL_W32_ROOT" /usr/bin/env -i PATH=/usr/bin:/bin bash -c 'exit 42' >>"$logs/binfmt.log" 2>&1
  [ $? -eq 42 ] && return 0
  if accel_w32_foreign_binfmt; then
    echo "setup-win32: the qemu-i386 binfmt_misc entry that something else registered" \
      "cannot run the chroot's programs; it is left as it is (see $logs/binfmt.log):" \
      "disable or remove it ($ACCEL_W32_BINFMT/qemu-i386), or make it work, and run again" >&2
    cat "$ACCEL_W32_BINFMT/qemu-i386" >>"$logs/binfmt.log" 2>&1
    exit 1
  fi
  failed "a 32-bit program in the chroot" binfmt.log
}

# A tree of an earlier set-up, made before the marker existed, is this set-up's own.
[ -f "$ACCEL_W32_ROOT/.accel-debootstrap" ] && [ ! -f "$ACCEL_W32_ROOT/.accel-chroot" ] &&
  touch "$ACCEL_W32_ROOT/.accel-chroot"

if [ -f "$ACCEL_W32_ROOT/.accel-ready" ]; then
  accel_w32_mount || failed "chroot mounts" mounts.log
  if accel_w32_foreign_binfmt; then runs_32bit; fi
  exit 0
fi
long "preparing the 32-bit Windows environment, about 7 minutes, once"

# 3. The i386 chroot. debootstrap's second stage already runs i386 programs through qemu.
# An interrupted debootstrap leaves a tree that looks whole: only its own marker counts.
if [ ! -f "$ACCEL_W32_ROOT/.accel-debootstrap" ]; then
  long "debootstrap of an i386 bookworm, about 3 minutes"
  (
    set -e
    command -v debootstrap >/dev/null || {
      accel_retry "apt-get update" apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive accel_retry "apt-get install debootstrap" \
          apt-get install -y -qq debootstrap
    }
    # Each try starts from nothing: a failed one leaves a partial tree. A tree that is not
    # this set-up's, or has something mounted in it, stops the step before any try.
    fresh_root() {
      accel_w32_remove_root || return 1
      mkdir -p "$ACCEL_W32_ROOT" && touch "$ACCEL_W32_ROOT/.accel-chroot" &&
        debootstrap --arch=i386 --variant=minbase bookworm "$ACCEL_W32_ROOT" "$mirror"
    }
    accel_w32_remove_root
    accel_retry "debootstrap" fresh_root
    touch "$ACCEL_W32_ROOT/.accel-debootstrap"
  ) >"$logs/debootstrap.log" 2>&1 || failed "debootstrap of the i386 chroot" debootstrap.log
fi
cp /etc/hosts /etc/resolv.conf "$ACCEL_W32_ROOT/etc/" 2>/dev/null
printf 'deb %s bookworm main\ndeb %s bookworm-updates main\n' "$mirror" "$mirror" \
  >"$ACCEL_W32_ROOT/etc/apt/sources.list"
# No services start inside the chroot.
printf '#!/bin/sh\nexit 101\n' >"$ACCEL_W32_ROOT/usr/sbin/policy-rc.d"
chmod +x "$ACCEL_W32_ROOT/usr/sbin/policy-rc.d"
accel_w32_mount >"$logs/mounts.log" 2>&1 || failed "chroot mounts" mounts.log

# 4. Wine 8.0 (the host's wine64 version), the fonts the screenshots need, the Chinese locale.
# Displays are the host's Xvfb, reached through the shared /tmp.
if [ ! -f "$ACCEL_W32_ROOT/.accel-wine" ]; then
long "32-bit Wine inside the chroot, about 4 minutes"
# The chroot's shell gets the same retry function, handed over as its definition.
chroot "$ACCEL_W32_ROOT" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
  DEBIAN_FRONTEND=noninteractive ACCEL_RETRY_PAUSE="${ACCEL_RETRY_PAUSE:-15}" \
  bash -c "$(declare -f accel_retry)"'
    set -e
    accel_retry "apt-get update in the chroot" apt-get -qq update
    accel_retry "apt-get install of the 32-bit Wine in the chroot" \
      apt-get install -y -qq --no-install-recommends wine wine32 fonts-wine fonts-wqy-microhei locales
    echo "zh_CN.UTF-8 UTF-8" >/etc/locale.gen
    locale-gen
    apt-get clean' >"$logs/chroot-apt.log" 2>&1 || failed "32-bit Wine in the chroot" chroot-apt.log
[ -x "$ACCEL_W32_ROOT/usr/lib/wine/wineserver32" ] || failed "32-bit Wine in the chroot" chroot-apt.log
touch "$ACCEL_W32_ROOT/.accel-wine"
fi

# 5. The wineserver: the host's native one, with the two files it links, at the same paths
# inside (the chroot's own Wine start-up prefers wineserver64). An emulated server cannot
# ptrace under qemu-user, so every ReadProcessMemory and WriteProcessMemory of the 32-bit
# programs failed with "access denied"; the native one reads them (qemu maps guest addresses
# one to one here), and it answers every Wine call faster. Same Wine release on both sides:
# the server protocol must match.
(
  set -e
  host=$(dpkg-query -W -f='${Version}' wine64)
  guest=$(chroot "$ACCEL_W32_ROOT" dpkg-query -W -f='${Version}' wine32)
  [ "$host" = "$guest" ] || { echo "host wine64 $host, chroot wine32 $guest"; exit 1; }
  for f in /usr/lib/wine/wineserver64 /lib64/ld-linux-x86-64.so.2 /lib/x86_64-linux-gnu/libc.so.6; do
    mkdir -p "$ACCEL_W32_ROOT$(dirname "$f")"
    cp -L "$f" "$ACCEL_W32_ROOT$f"
  done
  chroot "$ACCEL_W32_ROOT" /usr/lib/wine/wineserver64 --version
) >"$logs/wineserver.log" 2>&1 || failed "the native wineserver for the chroot" wineserver.log

# 6. A 32-bit program runs: qemu, the registration and the chroot agree.
runs_32bit
touch "$ACCEL_W32_ROOT/.accel-ready"
long "32-bit Windows environment ready"
