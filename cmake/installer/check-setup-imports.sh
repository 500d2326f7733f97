#!/usr/bin/env bash
# Checks that the 32-bit setup program runs on Windows XP SP3: its stub (the uninstaller is
# the same stub) and the NSIS plug-ins it carries import only functions on the checked lists.
# Usage: check-setup-imports.sh <accelclient-x.y.z-setup.exe>
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
setup=${1:?setup program}
plugins=${NSIS_PLUGINS:-/usr/share/nsis/Plugins/x86-unicode}
status=0
for image in "$setup" "$plugins/nsDialogs.dll" "$plugins/StartMenu.dll" "$plugins/nsExec.dll" \
             "$plugins/System.dll"; do
  unknown=$(bash "$top/scripts/pe-imports.sh" "$image" |
            grep -vxF -f <(cat "$top/cmake/xp-imports.txt" "$top/cmake/installer/nsis-xp-imports.txt" |
                           grep -v '^#') || true)
  if [ -n "$unknown" ]; then
    echo "$image imports functions not checked against Windows XP SP3:"; echo "$unknown"; status=1
  else
    echo "imports of $(basename "$image"): all checked against Windows XP SP3"
  fi
done
exit $status
