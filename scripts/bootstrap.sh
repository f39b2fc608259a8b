#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the viewer need.
# Idempotent: packages already present are not fetched again.
set -euo pipefail
PACKAGES=(
  build-essential cmake g++ git pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  qt6-base-dev libgl-dev xvfb xauth
  fonts-liberation fonts-liberation2 fonts-dejavu-core
  clang libclang-rt-14-dev
  libsqlite3-dev python3 python3-dbf python3-dbfread libdbd-xbase-perl
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
