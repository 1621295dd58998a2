#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and the demo need.
# Quiet when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools
  libavcodec-dev libavutil-dev libswscale-dev
  libtinyxml2-dev libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
  libx11-dev
  xvfb xdotool x11-apps x11-utils x11-xkb-utils imagemagick openbox e2fsprogs fonts-dejavu-core fonts-wqy-microhei librsvg2-bin
  clang libclang-rt-14-dev gcovr
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
echo "deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
