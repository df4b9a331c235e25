#!/usr/bin/env bash
# Builds Tcl 9.0 from Debian's source package into a prefix kept between
# runs, and prints the prefix. The package comes through apt's own tools
# from a private sources list (the machine's own is left alone), pinned by
# version and by the checksum of its .dsc; apt and dpkg-source check the
# rest against the signed index and the .dsc.
#   MORVAKINE_TCL9_PREFIX  where to install (default under ~/.cache/morvakine)
#   MORVAKINE_TK9=1        Tk 9.0 too, into the same prefix
set -euo pipefail

# package version .dsc-SHA-256 (the upstream version names the prefix)
tcl=(tcl9.0 9.0.4+dfsg-1 1f2e7c86c0d486a89af7003dcf0dc93848d1949afaf88999e18a78c49b530e1d)
tk=(tk9.0 9.0.4-1 152ecc669b4a8de04c6f46c655e0c1e268f56d35259584cb02b63480e4bf13dc)
upstream=${tcl[1]%%+*}
prefix=${MORVAKINE_TCL9_PREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/morvakine/tcl$upstream}

built() {
  [ -x "$prefix/bin/tclsh9.0" ] && [ -f "$prefix/lib/tclConfig.sh" ] &&
    { [ "${MORVAKINE_TK9:-0}" != 1 ] || [ -f "$prefix/lib/tkConfig.sh" ]; }
}
if built; then
  echo "$prefix"
  exit 0
fi
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if built; then  # another run built it while this one waited
  echo "$prefix"
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/src"
# The machine's own mirror, as its deb lines name it; the suites that carry 9.0.
mirror=$(sed -n 's/^URIs: *\(http[^ ]*\/debian\)$/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -1)
mirror=${mirror:-http://deb.debian.org/debian}
for suite in forky sid; do
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $suite main"
done >"$work/sources.list"
apt=(-qq -o "Dir::Etc::sourcelist=$work/sources.list" -o Dir::Etc::sourceparts=-
     -o "Dir::State::lists=$work/lists" -o "Dir::Cache=$work/cache"
     -o APT::Sandbox::User=root)
apt-get "${apt[@]}" update >&2

# Fetches, checks and unpacks one source package into $work/src/$1.
fetch() {
  local package=$1 version=$2 sha256=$3 dsc=${1}_${2}.dsc
  echo "tcl9: fetching $package $version" >&2
  if ! (cd "$work/src" && apt-get "${apt[@]}" source --download-only "$package=$version" >&2); then
    echo "tcl9: $package $version is not at $mirror (forky, sid): pin a newer one here" >&2
    exit 1
  fi
  echo "$sha256  $work/src/$dsc" | sha256sum --check --quiet
  # The uploader's signature is not checked (apt checked the index that
  # names the .dsc); the checksums are.
  (cd "$work/src" && dpkg-source --require-strong-checksums -x "$dsc" "$package") \
    >"$work/unpack.log" 2>&1 || { cat "$work/unpack.log" >&2; exit 1; }
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
