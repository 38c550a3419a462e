#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, only those missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  libfreetype-dev libpng-dev fonts-liberation2 librsvg2-bin
  qt6-base-dev qt6-serialport-dev libgl-dev
  xvfb xauth xdotool imagemagick x11-utils
  python3 python3-can can-utils
  pybind11-dev python3-pybind11 python3-pytest python3-pil
  nodejs tshark
  clang-14 libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

# Debian's nodejs comes without npm (a NodeSource nodejs brings its own).
if ! command -v npm >/dev/null 2>&1 && ! dpkg-query -W -f='${Status}' npm 2>/dev/null | grep -q 'install ok installed'; then
  missing+=(npm)
fi

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update -qq
  # tshark's wireshark-common asks whether non-root users may capture: no.
  echo "wireshark-common wireshark-common/install-setuid boolean false" | "${sudo_cmd[@]}" debconf-set-selections
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The DBC test reads our DBC file with a reader no one here wrote: the npm
# package candied, kept in the user's cache (not the source tree), where the
# test looks for it (NORVANE_NODE_DIR moves it).
node_dir="${NORVANE_NODE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/norvane/node}"
if [ ! -f "$node_dir/node_modules/candied/package.json" ]; then
  echo "setup: installing the npm package candied into $node_dir"
  mkdir -p "$node_dir"
  npm install --no-audit --no-fund --prefix "$node_dir" candied@2
fi
