#!/usr/bin/env bash
# Installs what building, testing and running the client here needs, on a fresh Debian
# machine. Only what is missing is installed; apt-get update runs once, and only then. The
# 32-bit Windows environment is its own step (scripts/setup-win32.sh), which the test and demo
# commands run.
set -euo pipefail
. "$(dirname "$0")/retry.sh"

packages=(cmake ninja-build g++ clang libclang-rt-14-dev googletest
          g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
          wine64 fonts-wine xvfb xauth x11-utils imagemagick locales fonts-wqy-zenhei fonts-wqy-microhei
          libpugixml-dev libcpp-httplib-dev pkgconf python3 procps nsis debootstrap)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  accel_retry "apt-get update" apt-get update -qq
  accel_retry "apt-get install ${missing[*]}" \
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine must take code page 936 for its ANSI functions, so the zh_CN.UTF-8 locale must exist.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
