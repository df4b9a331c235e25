#!/bin/bash
# A long render in slices on one machine with GNU parallel, one slice per
# CPU, each slice as render-slice.sh makes it on a cluster:
#
#   farm/render-parallel.sh 3000 250 out/f%05d.png [OPTIONS...]
#
# The first slice that fails stops the others (their unfinished files are
# removed) and the script fails with its status. SIGINT, SIGTERM or SIGHUP
# stop every slice the same way and end the script with 128 + the signal.
set -eu
[ $# -ge 3 ] || { echo "morvakine-parallel: usage: render-parallel.sh TOTAL SLICE OUTPUT [OPTIONS...]" >&2; exit 2; }
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
[[ $1 =~ ^[0-9]{1,9}$ && $2 =~ ^[0-9]{1,9}$ ]] && [ $((10#$2)) -ge 1 ] ||
    { echo "morvakine-parallel: TOTAL and SLICE expect whole numbers, got \"$1\" and \"$2\"" >&2; exit 2; }
slices=$(( (10#$1 + 10#$2 - 1) / 10#$2 ))
[ "$slices" -ge 1 ] || { echo "morvakine-parallel: TOTAL must be at least 1" >&2; exit 2; }
# parallel runs in the background, so that a signal reaches this shell at
# once; it is passed on as SIGTERM, on which parallel stops its jobs (it
# would then exit 255, whatever the signal).
seq 0 $((slices - 1)) |
    parallel -q --halt now,fail=1 env MORVAKINE_SLICE={} "$here/render-slice.sh" "$@" &
jobs=$!
stop() {
    trap '' INT TERM HUP
    kill -TERM "$jobs" 2>/dev/null
    wait "$jobs" || true
    exit $((128 + $1))
}
trap 'stop 2' INT
trap 'stop 15' TERM
trap 'stop 1' HUP
wait "$jobs"
