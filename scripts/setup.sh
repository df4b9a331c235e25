#!/usr/bin/env bash
# Installs what is missing from Debian's packages and builds into build/.
# Run by run.sh, sourced by test.sh (whose builds then share its compiler
# cache); set MORVAKINE_PACKAGES_EXTRA for more.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

packages=(
  cmake g++ make pkg-config
  tcl8.6 tcl8.6-dev tk8.6 tk8.6-dev libx11-dev
  libgl-dev libglu1-mesa-dev libegl-dev libegl-mesa0 libgl1-mesa-dri
  libpng-dev libjpeg-dev zlib1g-dev libisal-dev libglm-dev libgtest-dev libbenchmark-dev libtinygltf-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libavfilter-dev ffmpeg webp
  xvfb xauth xdotool python3 strace ccache
)
# shellcheck disable=SC2206
packages+=(${MORVAKINE_PACKAGES_EXTRA:-})

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Every build configured from here on compiles through ccache, in a cache
# of this project's own. Paths are hashed relative to the checkout and
# without the build directory, so that build/, build-tcl9/ and another
# clone share the objects that do not differ (their debug information then
# names the directory of the first compile).
export CMAKE_CXX_COMPILER_LAUNCHER=/usr/bin/ccache CMAKE_C_COMPILER_LAUNCHER=/usr/bin/ccache
export CCACHE_DIR=${XDG_CACHE_HOME:-$HOME/.cache}/morvakine/ccache
export CCACHE_BASEDIR=$top CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=4G

/usr/bin/cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
/usr/bin/cmake --build "$top/build" -j"$(nproc)"
