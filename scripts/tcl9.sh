#!/usr/bin/env bash
# Builds Tcl 9.0 from Debian's source package (debian-source.sh) into a
# prefix kept between runs, and prints the prefix.
#   MORVAKINE_TCL9_PREFIX  where to install (default under ~/.cache/morvakine)
#   MORVAKINE_TK9=1        Tk 9.0 too, into the same prefix
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/debian-source.sh"

# package version .dsc-SHA-256 (the upstream version names the prefix)
tcl=(tcl9.0 9.0.4+dfsg-1 1f2e7c86c0d486a89af7003dcf0dc93848d1949afaf88999e18a78c49b530e1d)
tk=(tk9.0 9.0.4-1 152ecc669b4a8de04c6f46c655e0c1e268f56d35259584cb02b63480e4bf13dc)
upstream=${tcl[1]%%+*}
prefix=${MORVAKINE_TCL9_PREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/morvakine/tcl$upstream}

built() {
  [ -x "$prefix/bin/tclsh9.0" ] && [ -f "$prefix/lib/tclConfig.sh" ] &&
    { [ "${MORVAKINE_TK9:-0}" != 1 ] || [ -f "$prefix/lib/tkConfig.sh" ]; }
}
debian_source_once "$prefix"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The suites that carry 9.0.
debian_source_init "$work" forky sid
fetch() {
  debian_source_fetch tcl9 "$@"
}

# Configures $1's unix/ directory with the arguments after $2, builds it and
# installs it (the make targets in $2) into a copy of the prefix, which then replaces the prefix: a
# prefix is whole or absent.
build() {
  local source=$work/src/$1 log=$work/$1.log stage=$prefix.stage targets
  read -ra targets <<<"$2"
  shift 2
  echo "tcl9: building $(basename "$source") into $prefix" >&2
  rm -rf "$stage"
  mkdir -p "$stage$prefix"
  if [ -d "$prefix" ]; then
    cp -a "$prefix/." "$stage$prefix/"
  fi
  cd "$source/unix"
  { ./configure --prefix="$prefix" --enable-shared --enable-threads --disable-zipfs "$@" &&
    make -j"$(nproc)" &&
    make "${targets[@]}" DESTDIR="$stage"
  } >"$log" 2>&1 || { tail -30 "$log" >&2; exit 1; }
  rm -rf "$prefix"
  mv "$stage$prefix" "$prefix"
  rm -rf "$stage"
}

if [ ! -f "$prefix/lib/tclConfig.sh" ]; then
  fetch "${tcl[@]}"
  touch "$work/src/tcl9.0/generic/tclStubInit.c"
  build tcl9.0 "install-binaries install-libraries install-msgs install-headers" --without-tzdata
fi
if [ "${MORVAKINE_TK9:-0}" = 1 ] && [ ! -f "$prefix/lib/tkConfig.sh" ]; then
  fetch "${tk[@]}"
  # Tcl's public headers: Debian's tclConfig.sh names private ones, not installed.
  build tk9.0 "install-binaries install-libraries install-headers" --with-tcl="$prefix/lib" \
    CFLAGS="-O2 -I$prefix/include"
fi
echo "$prefix"
