#!/usr/bin/env bash
# Installs every Debian package needed to build the model, run the example basin and run the tests.
# Idempotent: packages already present are left as they are.
set -euo pipefail
PKGS=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev
  libnetcdf-dev libnetcdf-c++4-dev netcdf-bin cdo
  libxml2-utils gdal-bin
  clang libclang-rt-dev
  python3 python3-matplotlib
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
