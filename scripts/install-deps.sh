#!/usr/bin/env bash
# Installs every Debian 12 package the project needs. Idempotent: asks apt only
# for what is missing, and refreshes the package lists at most once.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libqt6opengl6-dev
  fonts-dejavu-core
  libssl-dev openssl
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  python3 python3-websockets nodejs node-ws
  qt6-websockets-dev libboost1.81-dev websockify
  dbus-daemon python3-dbusmock
  dpkg-dev appstream desktop-file-utils lintian
  zlib1g-dev
  xvfb openbox xdotool wmctrl x11-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
