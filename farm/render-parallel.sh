#!/bin/bash
# A long render in slices on one machine with GNU parallel, one slice per
# CPU, each slice as render-slice.sh makes it on a cluster:
#
#   farm/render-parallel.sh 3000 250 out/f%05d.png [OPTIONS...]
#
# The first slice that fails stops the others (their unfinished files are
# removed) and the script fails with its status.
set -eu
[ $# -ge 3 ] || { echo "morvakine-parallel: usage: render-parallel.sh TOTAL SLICE OUTPUT [OPTIONS...]" >&2; exit 2; }
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
[[ $1 =~ ^[0-9]{1,9}$ && $2 =~ ^[0-9]{1,9}$ ]] && [ $((10#$2)) -ge 1 ] ||
    { echo "morvakine-parallel: TOTAL and SLICE expect whole numbers, got \"$1\" and \"$2\"" >&2; exit 2; }
slices=$(( (10#$1 + 10#$2 - 1) / 10#$2 ))
[ "$slices" -ge 1 ] || { echo "morvakine-parallel: TOTAL must be at least 1" >&2; exit 2; }
seq 0 $((slices - 1)) |
    parallel -q --halt now,fail=1 env MORVAKINE_SLICE={} "$here/render-slice.sh" "$@"
