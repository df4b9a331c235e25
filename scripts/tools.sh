#!/usr/bin/env bash
# The outside programs the tests and the test command run, taken where their
# Debian package installs them, never from PATH: a PATH may hold a version
# manager's shim (a shell script), or another build, under the same name.
# Each is checked for the version the tests need.
#   tools.sh NAME...      the path of each, one a line; exit 1 with one line
#                         per tool that is missing or too old
#   tools.sh --report     one line per tool: what was taken, its version and
#                         package, or why there is none
#   tools.sh --packages   the Debian packages of the tools that are missing
# The Tcl tests ask through ::testing::tool (tests/common.tcl).
set -euo pipefail

# name path package least-version
table=(
  "python3  /usr/bin/python3       python3   3.9"
  "node     /usr/bin/node          nodejs    18"
  "npm      /usr/bin/npm           npm       7"
  "chromium /usr/bin/chromium      chromium  -"
  "webpmux  /usr/bin/webpmux       webp      1.2"
  "strace   /usr/bin/strace        strace    5.0"
  "ffmpeg   /usr/bin/ffmpeg        ffmpeg    5"
  "cmake    /usr/bin/cmake         cmake     3.21"
  "ctest    /usr/bin/ctest         cmake     3.21"
  "clang++  /usr/bin/clang++-14    clang-14  14"
  "valgrind /usr/bin/valgrind      valgrind  3.19"
  "ccache   /usr/bin/ccache        ccache    4"
)

row() {
  local line
  for line in "${table[@]}"; do
    read -r name path package least <<<"$line"
    [ "$name" = "$1" ] && return 0
  done
  echo "tools: $1 is not one of the tools the tests use" >&2
  exit 2
}

# The version a tool says it is (npm runs on the node above, not PATH's).
version_of() {
  if [ "$1" = chromium ]; then
    echo -  # any version: not asked, so the digits below cannot drop it
    return
  fi
  case $1 in
    npm) /usr/bin/node "$2" --version ;;
    webpmux | ffmpeg) "$2" -version 2>/dev/null | head -1 ;;
    *) "$2" --version 2>/dev/null | head -1 ;;
  esac | grep -oE '[0-9]+(\.[0-9]+)*' | head -1
}

# At least: whether version $1 is $2 or newer.
at_least() {
  [ "$2" = - ] || [ "$(printf '%s\n%s\n' "$2" "$1" | sort -V | head -1)" = "$2" ]
}

# Sets path and version, or prints why the tool cannot be used and fails.
check() {
  row "$1"
  if [ ! -x "$path" ]; then
    why="not installed at $path (Debian package $package)"
    return 1
  fi
  version=$(version_of "$name" "$path" || true)
  if [ -z "$version" ]; then
    why="$path does not say its version"
    return 1
  fi
  if ! at_least "$version" "$least"; then
    why="$path is $version, the tests need $least or newer"
    return 1
  fi
}

case ${1:-} in
  --report)
    for line in "${table[@]}"; do
      read -r name _ <<<"$line"
      if check "$name"; then
        owner=$(dpkg-query -S "$(readlink -f "$path")" 2>/dev/null | cut -d: -f1 | head -1 || true)
        from=${owner:+$owner $(dpkg-query -W -f='${Version}' "$owner" 2>/dev/null)}
        echo "tools: $name = $path ($version${from:+, package $from})"
      else
        echo "tools: $name: none: $why"
      fi
    done
    ;;
  --packages)
    for line in "${table[@]}"; do
      read -r name _ <<<"$line"
      check "$name" || echo "$package"
    done | sort -u
    ;;
  '' | -*)
    echo "usage: tools.sh NAME... | --report | --packages" >&2
    exit 2
    ;;
  *)
    status=0
    for tool in "$@"; do
      if check "$tool"; then
        echo "$path"
      else
        echo "tools: $tool: $why" >&2
        status=1
      fi
    done
    exit $status
    ;;
esac
