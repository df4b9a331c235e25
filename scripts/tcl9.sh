#!/usr/bin/env bash
# Builds Tcl 9.0 from Debian's source package into a prefix kept between
# runs, and prints the prefix. The package comes through apt's own tools
# from a private sources list (the machine's own is left alone), pinned by
# version and by the checksum of its .dsc; apt and dpkg-source check the
# rest against the signed index and the .dsc.
#   MORVAKINE_TCL9_PREFIX  where to install (default under ~/.cache/morvakine)
set -euo pipefail

version=9.0.4+dfsg-1
dsc=tcl9.0_${version}.dsc
dsc_sha256=1f2e7c86c0d486a89af7003dcf0dc93848d1949afaf88999e18a78c49b530e1d
upstream=${version%%+*}
prefix=${MORVAKINE_TCL9_PREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/morvakine/tcl$upstream}

built() { [ -x "$prefix/bin/tclsh9.0" ] && [ -f "$prefix/lib/tclConfig.sh" ]; }
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
echo "tcl9: fetching tcl9.0 $version" >&2
apt-get "${apt[@]}" update >&2
if ! (cd "$work/src" && apt-get "${apt[@]}" source --download-only "tcl9.0=$version" >&2); then
  echo "tcl9: tcl9.0 $version is not at $mirror (forky, sid): pin a newer one here" >&2
  exit 1
fi
echo "$dsc_sha256  $work/src/$dsc" | sha256sum --check --quiet
# The uploader's signature is not checked (apt checked the index that names
# the .dsc); the checksums are.
(cd "$work/src" && dpkg-source --require-strong-checksums -x "$dsc" tcl) >"$work/unpack.log" 2>&1 \
  || { cat "$work/unpack.log" >&2; exit 1; }

echo "tcl9: building into $prefix" >&2
cd "$work/src/tcl/unix"
touch ../generic/tclStubInit.c
./configure --prefix="$prefix" --enable-shared --enable-threads \
  --disable-zipfs --without-tzdata >"$work/configure.log" 2>&1 \
  || { tail -20 "$work/configure.log" >&2; exit 1; }
make -j"$(nproc)" >"$work/make.log" 2>&1 || { tail -30 "$work/make.log" >&2; exit 1; }
# Staged beside the prefix and renamed into place: a prefix is whole or absent.
stage=$prefix.stage
rm -rf "$stage"
make install-binaries install-libraries install-msgs install-headers DESTDIR="$stage" \
  >>"$work/make.log" 2>&1 || { tail -30 "$work/make.log" >&2; exit 1; }
rm -rf "$prefix"
mv "$stage$prefix" "$prefix"
rm -rf "$stage"
echo "$prefix"
