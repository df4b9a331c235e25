# Sourced by the scripts that build a Tcl from Debian's source packages
# (tcl9.sh, tcl-wasm.sh). The packages come through apt's own tools from a
# private sources list (the machine's own is left alone), pinned by version
# and by the checksum of their .dsc; apt and dpkg-source check the rest
# against the signed index and the .dsc.
#   debian_source_once PREFIX         prints PREFIX and ends the script when the
#                                      script's `built` finds it built; else
#                                      holds PREFIX's lock until the script ends
#   debian_source_init WORK SUITE...   sources list and index in WORK
#   debian_source_fetch NAME PACKAGE VERSION SHA256
#                                      checks and unpacks into WORK/src/PACKAGE
#                                      (NAME prefixes the messages)

debian_source_once() {
  if built; then
    echo "$1"
    exit 0
  fi
  mkdir -p "$(dirname "$1")"
  exec 9>"$1.lock"
  flock 9
  if built; then  # another run built it while this one waited
    echo "$1"
    exit 0
  fi
}

debian_source_init() {
  debian_work=$1
  shift
  mkdir -p "$debian_work/lists/partial" "$debian_work/cache/archives/partial" "$debian_work/src"
  # The machine's own mirror, as its deb lines name it.
  debian_mirror=$(sed -n 's/^URIs: *\(http[^ ]*\/debian\)$/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -1)
  debian_mirror=${debian_mirror:-http://deb.debian.org/debian}
  debian_suites=$*
  for suite in "$@"; do
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $debian_mirror $suite main"
  done >"$debian_work/sources.list"
  debian_apt=(-qq -o "Dir::Etc::sourcelist=$debian_work/sources.list" -o Dir::Etc::sourceparts=-
              -o "Dir::State::lists=$debian_work/lists" -o "Dir::Cache=$debian_work/cache"
              -o APT::Sandbox::User=root)
  apt-get "${debian_apt[@]}" update >&2
}

debian_source_fetch() {
  local name=$1 package=$2 version=$3 sha256=$4 dsc=${2}_${3}.dsc
  echo "$name: fetching $package $version" >&2
  if ! (cd "$debian_work/src" && apt-get "${debian_apt[@]}" source --download-only "$package=$version" >&2); then
    echo "$name: $package $version is not at $debian_mirror ($debian_suites): pin a newer one here" >&2
    exit 1
  fi
  echo "$sha256  $debian_work/src/$dsc" | sha256sum --check --quiet
  # The uploader's signature is not checked (apt checked the index that
  # names the .dsc); the checksums are.
  (cd "$debian_work/src" && dpkg-source --require-strong-checksums -x "$dsc" "$package") \
    >"$debian_work/unpack.log" 2>&1 || { cat "$debian_work/unpack.log" >&2; exit 1; }
}
