#!/usr/bin/env bash
# Checks the shipping 32-bit build: each library exports exactly its contract, and no
# image imports a function that Windows XP SP3 lacks. cmake/xp-imports.txt lists every
# import that was checked against XP; a new import must be checked and added there.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/win32}
allow=cmake/xp-imports.txt
status=0

check_exports() {
  local image=$1; shift
  local want got
  want=$(printf '%s\n' "$@" | sort)
  got=$(i686-w64-mingw32-objdump -p "$image" |
        sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/\[ *[0-9]+\]/ {print $3}' | sort)
  if [ "$want" != "$got" ]; then
    echo "exports of $image differ:"; diff <(echo "$want") <(echo "$got"); status=1
  else
    echo "exports of $(basename "$image"): $(echo $got)"
  fi
}

declare -A contract=(
  [tunnel_xp.dll]="InitCoreApi UninitCoreApi StartConnect CloseConnect TimerNotification GetConnectionIp"
  [tunnel_w7.dll]="InitCoreApi UninitCoreApi StartConnect CloseConnect TimerNotification GetConnectionIp"
  [IpCollect.dll]="DllStartWorker"
)
for name in "${!contract[@]}"; do
  image=$(find "$build" -name "$name" -not -path '*/wineprefix/*' | head -1)
  [ -n "$image" ] || { echo "missing $name"; status=1; continue; }
  # shellcheck disable=SC2086
  check_exports "$image" ${contract[$name]}
done

for image in $(find "$build" \( -name accelclient.exe -o -name IpCollect.dll -o -name tunnel_xp.dll \
                 -o -name tunnel_w7.dll \) -not -path '*/wineprefix/*' | sort); do
  unknown=$(bash scripts/pe-imports.sh "$image" | grep -vxF -f <(grep -v '^#' "$allow") || true)
  if [ -n "$unknown" ]; then
    echo "$image imports functions not checked against Windows XP SP3:"; echo "$unknown"; status=1
  fi
done
[ $status -eq 0 ] && echo "shipping checks passed"
exit $status
