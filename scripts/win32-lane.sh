# Sourced by the scripts: where the 32-bit Windows lane lives and how to enter it.
#
# The kernel here refuses 32-bit programs, so the shipping build runs under the 32-bit Wine of
# an i386 Debian chroot whose programs the kernel hands to qemu-i386 through binfmt_misc. The
# chroot and qemu sit in a cache folder outside the repository; nothing 32-bit is installed
# on the host. The chroot shares the host's network (the stand-in on 127.0.0.1 serves both
# lanes) and its /tmp (the display's socket); the checkout is bind-mounted at its own path,
# so that paths mean the same inside and out.

ACCEL_W32_CACHE=${ACCEL_W32_CACHE:-/var/cache/accel-win32}
ACCEL_W32_ROOT=$ACCEL_W32_CACHE/root
ACCEL_W32_QEMU=$ACCEL_W32_CACHE/qemu-i386-static
ACCEL_W32_BINFMT=/proc/sys/fs/binfmt_misc

# Whether this machine can register an interpreter for 32-bit programs at all (root and a
# binfmt_misc file system); says why not on standard error.
accel_w32_possible() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "32-bit lane: needs root (binfmt_misc registration, chroot)" >&2; return 1
  fi
  grep -qw binfmt_misc /proc/filesystems 2>/dev/null || modprobe binfmt_misc 2>/dev/null
  if [ ! -d "$ACCEL_W32_BINFMT" ] || ! grep -qw binfmt_misc /proc/filesystems 2>/dev/null; then
    echo "32-bit lane: this kernel offers no binfmt_misc file system" >&2; return 1
  fi
}

# Whether the set-up is complete: qemu registered, the chroot's Wine and locale in place.
accel_w32_ready() {
  [ -x "$ACCEL_W32_QEMU" ] && grep -qx "interpreter $ACCEL_W32_QEMU" "$ACCEL_W32_BINFMT/qemu-i386" 2>/dev/null &&
    grep -qx enabled "$ACCEL_W32_BINFMT/qemu-i386" 2>/dev/null &&
    [ -f "$ACCEL_W32_ROOT/.accel-ready" ]
}

_accel_w32_mount() {  # mount ARGS... TARGET, unless TARGET is a mount point already
  mountpoint -q "${*: -1}" || mount "$@"
}

# The chroot's file systems, and the given host folders at their own paths inside it.
accel_w32_mount() {
  local r=$ACCEL_W32_ROOT d
  _accel_w32_mount -t proc proc "$r/proc" &&
    _accel_w32_mount -t sysfs sysfs "$r/sys" &&
    { mountpoint -q "$r/dev" || { mount --bind /dev "$r/dev" && mount --make-slave "$r/dev"; }; } &&
    _accel_w32_mount --bind /dev/pts "$r/dev/pts" &&
    { mountpoint -q "$r/tmp" || { mount --bind /tmp "$r/tmp" && mount --make-slave "$r/tmp"; }; } || return 1
  for d in "$@"; do
    d=$(cd "$d" && pwd -P) || return 1
    mkdir -p "$r$d"
    # A folder removed and made anew at the same path (a new clone) leaves the old mount
    # showing the removed folder: it must show this one.
    if mountpoint -q "$r$d" && [ "$(stat -c %d:%i "$d")" != "$(stat -c %d:%i "$r$d")" ]; then
      umount -l "$r$d" || return 1
    fi
    mountpoint -q "$r$d" || { mount --bind "$d" "$r$d" && mount --make-slave "$r$d"; } || return 1
  done
}

# The mount points strictly under DIR, each ended by a NUL byte (paths may hold blanks).
_accel_w32_mounts_under() {
  local t
  findmnt -rn -o TARGET | while IFS= read -r t; do
    t=$(printf '%b' "$t")  # findmnt -r writes blanks, backslashes and the like as \xHH
    case $t in "$1"/*) printf '%s\0' "$t" ;; esac
  done
}

# Every mount inside the chroot, innermost first (before the chroot is made anew).
accel_w32_umount() {
  local m
  while IFS= read -r -d '' m; do
    umount -- "$m" 2>/dev/null || umount -l -- "$m"
  done < <(_accel_w32_mounts_under "$ACCEL_W32_ROOT" | sort -rz)
}

# Whether nothing is mounted on DIR or under it, each mount point named when one is.
accel_w32_nothing_mounted() {
  local m left=0
  command -v findmnt >/dev/null || { echo "no findmnt here: what is mounted cannot be told"; return 1; }
  while IFS= read -r -d '' m; do
    echo "still mounted: $m"
    left=1
  done < <(_accel_w32_mounts_under "$1")
  if mountpoint -q -- "$1"; then echo "a mount point itself: $1"; left=1; fi
  return $left
}

# The chroot is removed only where this set-up made it (its marker, written before anything
# else goes in) and only with nothing mounted in it: a bind mount of the checkout or of /tmp
# would otherwise be emptied through it.
accel_w32_remove_root() {
  [ -e "$ACCEL_W32_ROOT" ] || return 0
  if [ ! -f "$ACCEL_W32_ROOT/.accel-chroot" ]; then
    echo "$ACCEL_W32_ROOT was not made by this set-up (no .accel-chroot in it): left as it is"
    return 1
  fi
  accel_w32_umount
  accel_w32_nothing_mounted "$ACCEL_W32_ROOT" || return 1
  rm -rf --one-file-system -- "$ACCEL_W32_ROOT"
}

# The binfmt_misc entry for i386 programs, when one is there that this set-up did not
# register (another qemu, binfmt-support): it is used as it is, never replaced.
accel_w32_foreign_binfmt() {
  [ -e "$ACCEL_W32_BINFMT/qemu-i386" ] &&
    ! grep -qx "interpreter $ACCEL_W32_QEMU" "$ACCEL_W32_BINFMT/qemu-i386" 2>/dev/null
}
