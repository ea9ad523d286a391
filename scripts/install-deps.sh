#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libboost-dev libboost-system-dev libssl-dev openssl ca-certificates
  nlohmann-json3-dev libspdlog-dev libfmt-dev
  libsqlite3-dev libpugixml-dev libcli11-dev
  libopencc-dev opencc duktape-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcurl4-openssl-dev
  clang-format
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins
  fonts-noto-cjk fonts-dejavu-core
  xvfb xauth xdotool imagemagick x11-apps dbus
  desktop-file-utils dpkg-dev file librsvg2-bin
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}; run as root" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
