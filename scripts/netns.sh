# Sourced by the scripts: the simulated network of a run.
#
# Every end-to-end run and the demo get a network namespace of their own: loopback, and the
# interfaces that the service stand-in makes inside it (service_stub --netsim): `lan0`, the
# PC's own connection with the default route, and `ppp0`, `ppp1`, ..., the tunnel of each
# connection while the simulated dial-up is connected. The namespace has no link of any kind to the host's network: no veth,
# no bridge, no forwarding out, so every address in it belongs to the run's own test hosts.
#
#   accel_netns_make TAG       makes the namespace accel-TAG-<pid of this shell>; sets ACCEL_NETNS
#   accel_netns_exec CMD...    runs CMD inside it (ACCEL_NETSIM=1 in its environment); with
#                              ACCEL_NETNS_CHROOT set, that chroot sees the namespace too
#   accel_netns_remove [NAME]  ends every process inside it and removes it (default: the one
#                              this shell made)
#
# A namespace whose shell no longer lives (a killed run) is removed by the next accel_netns_make.
# These run as root: they touch only names of the form accel-TAG-PID (TAG of [a-z0-9]), never
# a name handed in from outside (an ACCEL_NETNS in the environment is not this shell's), and
# never kill the processes of a name that stands for the host's namespace or this shell's own.

ACCEL_NETNS_RESOLVER=198.19.0.53
unset ACCEL_NETNS
_accel_netns_own=

accel_netns_valid_name() {
  [[ $1 =~ ^accel-[a-z0-9]+-[0-9]+$ ]]
}

# Whether NAME's namespace is one apart from the host's and from this shell's: a name bound
# to either would make `ip netns pids` list the machine's processes.
_accel_netns_apart() {
  local mine host self
  mine=$(stat -L -c %d:%i "/run/netns/$1" 2>/dev/null) || return 1
  self=$(stat -L -c %d:%i /proc/$$/ns/net 2>/dev/null) || return 1
  [ "$mine" != "$self" ] || return 1
  if host=$(stat -L -c %d:%i /proc/1/ns/net 2>/dev/null); then
    [ "$mine" != "$host" ]
    return
  fi
  # pid 1 may be out of reach (a sandbox's init). Since Linux 6.18 the initial namespaces
  # carry fixed inode numbers below 0xF0000000, where those made later start; before, the
  # host's looks like any other and nothing can be told.
  local major minor
  [ "${mine#*:}" -ge 4026531840 ] || return 1
  IFS=. read -r major minor _ < <(uname -r)
  minor=${minor%%[!0-9]*}
  [ "${major:-0}" -gt 6 ] || { [ "${major:-0}" -eq 6 ] && [ "${minor:-0}" -ge 18 ]; }
}

# Whether namespaces and tun devices can be had here; says why not on standard error.
accel_netns_possible() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "simulated network: needs root (network namespaces, tun devices)" >&2; return 1
  fi
  if ! command -v ip >/dev/null 2>&1 || ! ip netns list >/dev/null 2>&1; then
    echo "simulated network: no 'ip netns' here (iproute2)" >&2; return 1
  fi
  if [ ! -c /dev/net/tun ]; then
    echo "simulated network: no /dev/net/tun" >&2; return 1
  fi
}

accel_netns_remove() {
  local ns=${1:-$_accel_netns_own} pids
  [ -n "$ns" ] || return 0
  if ! accel_netns_valid_name "$ns"; then
    echo "simulated network: '$ns' is not a name of these scripts (accel-TAG-PID): left alone" >&2
    return 1
  fi
  if ip netns list 2>/dev/null | awk '{print $1}' | grep -qxF -- "$ns"; then
    if ! _accel_netns_apart "$ns"; then
      echo "simulated network: $ns is the host's namespace or this shell's, or cannot be told apart: left alone" >&2
      return 1
    fi
    pids=$(ip netns pids "$ns" 2>/dev/null)
    if [ -n "$pids" ]; then
      kill $pids 2>/dev/null
      for _ in $(seq 30); do [ -z "$(ip netns pids "$ns" 2>/dev/null)" ] && break; sleep 0.1; done
      pids=$(ip netns pids "$ns" 2>/dev/null)
      [ -n "$pids" ] && kill -9 $pids 2>/dev/null
    fi
    ip netns del "$ns" 2>/dev/null || true
  fi
  rm -rf "/etc/netns/$ns"
  if [ "$ns" = "$_accel_netns_own" ]; then
    _accel_netns_own=
    unset ACCEL_NETNS
  fi
  return 0
}

# Namespaces of runs that were killed before they could remove theirs.
accel_netns_sweep() {
  local ns pid
  for ns in $(ip netns list 2>/dev/null | awk '$1 ~ /^accel-[a-z0-9]+-[0-9]+$/ {print $1}'); do
    pid=${ns##*-}
    kill -0 "$pid" 2>/dev/null || { echo "simulated network: removing $ns, left by an ended run"; accel_netns_remove "$ns"; }
  done
}

accel_netns_make() {
  local ns="accel-${1:?tag}-$$"
  accel_netns_valid_name "$ns" || { echo "simulated network: tag '$1' is not of [a-z0-9]" >&2; return 1; }
  accel_netns_possible || return 1
  accel_netns_sweep
  accel_netns_remove "$ns" || return 1
  ip netns add "$ns" || return 1
  _accel_netns_own=$ns
  ACCEL_NETNS=$ns
  # The game server's answers come back on the interface their requests left by; nothing to
  # filter, and nothing is ever forwarded.
  ip -n "$ns" link set lo up &&
    ip netns exec "$ns" sysctl -qw net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.default.rp_filter=0 \
      net.ipv4.ip_forward=0 >/dev/null || { accel_netns_remove "$ns"; return 1; }
  # A PC of IPv4 only: no link-local addresses, no router solicitations on the tunnel.
  ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1 \
    >/dev/null 2>&1 || true
  # `ip netns exec` lays this file over /etc/resolv.conf: the PC's resolver is one of the
  # run's hosts behind lan0, and no name is ever asked of the host's resolver.
  mkdir -p "/etc/netns/$ns"
  printf 'nameserver %s\n' "$ACCEL_NETNS_RESOLVER" >"/etc/netns/$ns/resolv.conf"
  export ACCEL_NETNS
}

# CMD inside the namespace. The 32-bit lane's chroot reads its own /etc and /sys: inside the
# namespace's private mount table they are laid over by this namespace's (Wine reads an
# interface's carrier from /sys/class/net, which shows the namespace of whoever mounted it).
accel_netns_exec() {
  ip netns exec "${_accel_netns_own:?no simulated network}" /usr/bin/env ACCEL_NETSIM=1 \
    ACCEL_NETNS="$_accel_netns_own" bash -c '
      r=${ACCEL_NETNS_CHROOT:-}
      if [ -n "$r" ]; then
        mountpoint -q "$r/sys" && umount -l "$r/sys"
        [ -e "$r/etc/resolv.conf" ] || : >"$r/etc/resolv.conf"
        mount -t sysfs sysfs "$r/sys" && mount --bind /etc/resolv.conf "$r/etc/resolv.conf" || exit 125
      fi
      exec "$@"' _ "$@"
}
