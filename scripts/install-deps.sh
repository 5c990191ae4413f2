#!/usr/bin/env bash
# Installs what Plotmint needs to build, test and show its pictures on Debian 12 (as root).
# Only missing packages are fetched, so a second run is quick.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git python3 python3-fonttools
  libuemf-dev libgtest-dev libgmock-dev
  qt6-base-dev qt6-svg-dev libgl-dev libpng-dev
  qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools qt6-translations-l10n
  clang libclang-rt-14-dev
  fontconfig fonts-liberation2 fonts-urw-base35 fonts-noto-cjk
  poppler-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: these packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Century has no metric twin on Debian; make the name resolve to the closest serif.
here=$(cd "$(dirname "$0")/.." && pwd)
for conf in "$here"/data/fontconfig/*.conf; do
  [ -e "$conf" ] || continue
  target=/etc/fonts/conf.d/$(basename "$conf")
  if [ "$(id -u)" -eq 0 ] && ! cmp -s "$conf" "$target"; then
    cp "$conf" "$target"
    fc-cache -f >/dev/null 2>&1 || true
  fi
done
