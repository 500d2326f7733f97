#!/usr/bin/env bash
# Prints "dll!function" for every function a PE image imports (dll in lower case).
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
"$objdump" -p "$1" | awk '
  /^\tDLL Name: / { dll = tolower($3); next }
  /^\tvma:/ { next }
  /^\t[0-9a-f]+\t +[0-9]+ +[^ ]+$/ { if (dll != "") print dll "!" $3; next }
  /^$/ { dll = "" }' | sort -u
