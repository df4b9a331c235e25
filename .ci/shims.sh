#!/usr/bin/env bash
# A check of the test command itself: its probes run twice, under this
# machine's PATH and under one whose first entry holds shims, shell scripts
# named python3, node, npm, cmake, ctest, clang++ and valgrind that call
# the real programs (as a version manager installs them), and must come to
# the same decisions. The probes: which programs the tests take
# (scripts/tools.sh, and ::testing::tool in a Tcl test), and whether
# valgrind runs the movie here, on this CPU and on one that acts as if it
# could not (MORVAKINE_VALGRIND_PROBE=sigill). No probe may run a shim.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
shims=$scratch/shims
mkdir "$shims"
tools="python3 node npm cmake ctest clang++ valgrind"
for tool in $tools; do
  real=$("$top/scripts/tools.sh" "$tool")
  printf '#!/bin/sh\necho "%s $*" >>"%s"\nexec "%s" "$@"\n' "$tool" "$scratch/ran" "$real" >"$shims/$tool"
  chmod +x "$shims/$tool"
done

# The decisions, one a line, under the PATH it is given.
decisions() {
  local path=$1 movie=(movie.mp4 --size 63x47 --frames 3) status log
  log=$(mktemp -p "$scratch")
  PATH=$path "$top/scripts/tools.sh" --report
  # shellcheck disable=SC2016
  PATH=$path /usr/bin/tclsh8.6 <<EOF
source [file join $top tests common.tcl]
foreach tool {$tools chromium} { puts "::testing::tool \$tool: [::testing::tool \$tool]" }
EOF
  for probe in "" sigill; do
    status=0
    PATH=$path MORVAKINE_VALGRIND_PROBE=$probe "$top/.ci/memcheck.sh" "${movie[@]}" \
      >"$log" 2>&1 || status=$?
    case $status in
      0) echo "memcheck of the movie (probe '$probe'): runs" ;;
      77) echo "memcheck of the movie (probe '$probe'): cannot run here" ;;
      *) echo "memcheck of the movie (probe '$probe'): fails"; cat "$log" >&2 ;;
    esac
  done
}

echo "== shims: under the PATH of shims, python3 is $(PATH=$shims:$PATH command -v python3)"
# Side by side: each is mostly one valgrind process.
decisions "$PATH" >"$scratch/plain" &
plain=$!
decisions "$shims:$PATH" >"$scratch/shimmed"
wait $plain
status=0
if ! diff -u --label "this PATH" --label "shims first" "$scratch/plain" "$scratch/shimmed"; then
  echo "== shims: FAILED: the decisions differ under a PATH of shims"
  status=1
fi
if [ -s "$scratch/ran" ]; then
  echo "== shims: FAILED: probes ran programs from PATH:"
  sort -u "$scratch/ran" | sed 's/^/==   /'
  status=1
fi
if [ $status = 0 ]; then
  echo "== shims: the same $(wc -l <"$scratch/plain") decisions under a PATH of shims, and no shim ran:"
  sed 's/^/==   /' "$scratch/plain"
fi
exit $status
