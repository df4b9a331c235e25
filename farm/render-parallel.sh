#!/bin/bash
# A long render in slices on one machine with GNU parallel, one slice per
# CPU, each slice as render-slice.sh makes it on a cluster:
#
#   farm/render-parallel.sh 3000 250 out/f%05d.png [OPTIONS...]
#
# The first slice that fails stops the others (their unfinished files are
# removed) and the script fails with its status. A signal stops every slice
# the same way and ends the script with 128 + its number, whether it was
# sent to this script, to parallel or to a slice.
set -u
me=morvakine-parallel
[ $# -ge 3 ] || { echo "$me: usage: render-parallel.sh TOTAL SLICE OUTPUT [OPTIONS...]" >&2; exit 2; }
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
[[ $1 =~ ^[0-9]{1,9}$ && $2 =~ ^[0-9]{1,9}$ ]] && [ $((10#$2)) -ge 1 ] ||
    { echo "$me: TOTAL and SLICE expect whole numbers, got \"$1\" and \"$2\"" >&2; exit 2; }
slices=$(( (10#$1 + 10#$2 - 1) / 10#$2 ))
[ "$slices" -ge 1 ] || { echo "$me: TOTAL must be at least 1" >&2; exit 2; }
# How each slice ended ("INDEX STATUS", in the order they ended) and what
# parallel said: parallel passes a signal on to its jobs as SIGTERM and
# exits 255 (on SIGHUP, 0, having started no more), so the slices' own
# statuses and parallel's words say what stopped the run.
state=$(mktemp -d "${TMPDIR:-/tmp}/morvakine-parallel.XXXXXX") || exit 1
trap 'rm -rf -- "$state"' EXIT
# parallel runs in the background, so that a signal reaches this shell at
# once; it is passed on as SIGTERM, on which parallel stops its jobs.
seq 0 $((slices - 1)) |
    MORVAKINE_SLICE_LOG=$state/ended parallel -q --halt now,fail=1 \
        env MORVAKINE_SLICE={} "$here/render-slice.sh" "$@" 2>"$state/parallel.err" &
jobs=$!
said() { cat -- "$state/parallel.err" >&2; }
stop() {
    trap '' INT TERM HUP
    kill -TERM "$jobs" 2>/dev/null
    wait "$jobs"
    said
    exit $((128 + $1))
}
trap 'stop 2' INT
trap 'stop 15' TERM
trap 'stop 1' HUP
wait "$jobs"
status=$?
trap '' INT TERM HUP
said
first=$(awk '$2 != 0 { print $2; exit }' "$state/ended" 2>/dev/null)
[ -z "$first" ] || exit "$first"
signal=$(sed -n 's/^parallel: SIG\([A-Z]*\) received.*/\1/p' "$state/parallel.err" | head -n 1)
[ -z "$signal" ] || exit $((128 + $(kill -l "$signal")))
[ "$status" -eq 0 ] || exit "$status"
rendered=$(awk '$2 == 0' "$state/ended" 2>/dev/null | wc -l)
[ "$rendered" -eq "$slices" ] ||
    { echo "$me: $((slices - rendered)) of $slices slices did not run" >&2; exit 1; }
