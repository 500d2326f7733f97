#!/usr/bin/env bash
# What the 32-bit lane runs is what users get: prints the PE machine type of every program
# file the lane runs (the shipping program directory, the setup program, the 32-bit test
# build's programs) and fails if one is not i386; and the shipping program directory holds
# byte for byte what the release ZIP packs.
# Usage: check-lane32.sh <shipping program dir> <release zip> <32-bit test build dir>
set -uo pipefail
app=$1 zip=$2 build=$3
status=0

machine() {  # the COFF machine field of a PE image, as 4 hex digits
  local pe
  pe=$(od -An -t u4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$pe" ] && [ "$(od -An -c -j "$pe" -N 2 "$1" | tr -d ' ')" = PE ] || return 1
  od -An -t x2 -j $((pe + 4)) -N 2 "$1" | tr -d ' '
}

count=0
while IFS= read -r -d '' f; do
  m=$(machine "$f") || m=none
  case $m in
    014c) count=$((count + 1)) ;;
    *) echo "not i386: $f (machine $m)"; status=1 ;;
  esac
  echo "$m ${f#"$PWD"/}"
done < <(find "$app" "$(dirname "$zip")"/accelclient-*-setup.exe "$build" \
           -path '*/wineprefix' -prune -o -path '*/CMakeFiles' -prune -o \
           -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0 | sort -z)
echo "$count program files, all i386 (machine 014c)"

# The release ZIP holds one top folder with the program directory.
python3 - "$app" "$zip" <<'EOF' || status=1
import os, sys, zipfile
app, path = sys.argv[1:]
bad = 0
with zipfile.ZipFile(path) as z:
    names = [n for n in z.namelist() if not n.endswith("/")]
    for n in names:
        rel = n.split("/", 1)[1] if "/" in n else n
        local = os.path.join(app, rel)
        if not os.path.isfile(local) or open(local, "rb").read() != z.read(n):
            print("differs from the release ZIP:", rel); bad += 1
print(f"{len(names)} files of {os.path.basename(path)} identical in {app}" if not bad else "")
sys.exit(1 if bad else 0)
EOF
exit $status
