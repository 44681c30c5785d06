#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Ombrix need.
# As root it runs apt-get itself; otherwise it prints the one line to run and stops.
set -eu
packages=(
  cmake make g++ pkg-config
  qt6-base-dev qt6-qpa-plugins libjpeg62-turbo-dev libmspack-dev libsqlite3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang clang-format clang-tidy libbpf-dev bpftool libcap2-bin libnl-genl-3-dev
  xvfb openbox tint2 xdotool x11-utils xclip imagemagick desktop-file-utils mscompress
  fonts-dejavu-core fonts-liberation2 fonts-urw-base35 netbase python3
  sway waybar qt6-wayland grim dbus
  prometheus-cpp-dev libcurl4-openssl-dev prometheus
)
if [ "${1:-}" = "--fuzz" ]; then packages+=(libclang-rt-dev); fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

line="apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Run as root:" >&2
  echo "  $line" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
