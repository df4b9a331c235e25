#!/usr/bin/env bash
# Builds Tcl 8.6 for WebAssembly with Debian's emscripten, from Debian's
# source package (debian-source.sh), into a prefix kept between runs, and
# prints the prefix: lib/libtcl8.6.a and include/, which the web page links
# (web/CMakeLists.txt). The prefix is named by the Tcl and the emscripten
# versions, whose C libraries must match.
#   MORVAKINE_TCL_WASM_PREFIX  where to install (default under ~/.cache/morvakine)
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/debian-source.sh"

# package version .dsc-SHA-256 (the upstream version names the prefix)
tcl=(tcl8.6 8.6.13+dfsg-2 7965fd63c4cb970d0f675f574f6730114c806139e433cb3589a428658fc4d0cd)
upstream=${tcl[1]%%+*}
if ! command -v emcc >/dev/null; then
  echo "tcl-wasm: emcc not found: install Debian's emscripten" >&2
  exit 1
fi
# emcc's tools run on Debian's node modules even when another node comes
# first on PATH.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
emscripten=$(emcc --version | sed -n '1s/.* \([0-9][0-9.]*\) .*/\1/p')
prefix=${MORVAKINE_TCL_WASM_PREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/morvakine/tcl$upstream-wasm-emscripten$emscripten}

built() {
  [ -f "$prefix/lib/libtcl8.6.a" ] && [ -f "$prefix/include/tcl.h" ]
}
debian_source_once "$prefix"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
debian_source_init "$work" bookworm
debian_source_fetch tcl-wasm "${tcl[@]}"

# A static library without threads (a page has one) or dynamic loading (the
# page's packages are linked in and loaded with `load {}`). configure takes
# the platform by name; the compatibility objects it then adds for strtoul,
# memcmp and strstr would clash with emscripten's C library, which has them.
echo "tcl-wasm: building ${tcl[0]} $upstream with emscripten $emscripten into $prefix" >&2
stage=$prefix.stage
rm -rf "$stage"
log=$work/build.log
cd "$work/src/${tcl[0]}/unix"
{ emconfigure ./configure --host=wasm32-unknown-emscripten --prefix="$prefix" \
    --disable-shared --disable-threads --disable-load --without-tzdata &&
  emmake make -j"$(nproc)" libtcl8.6.a COMPAT_OBJS= &&
  make install-headers DESTDIR="$stage" &&
  install -D -m 644 libtcl8.6.a "$stage$prefix/lib/libtcl8.6.a"
} >"$log" 2>&1 || { tail -30 "$log" >&2; exit 1; }
rm -rf "$prefix"
mv "$stage$prefix" "$prefix"
rm -rf "$stage"
echo "$prefix"
