#!/bin/bash
# The renderer ($REAL) failing once where told, as on a cluster. $FLAKY is
# a scratch directory: every run adds its --first to $FLAKY/rendered, and a
# marker, used once, makes the run for frame K
#   kill-K   die by SIGKILL part way, its temporary file left beside the target;
#   block-K  find its target unwritable (a directory in its place);
#   stop-K   stop the farm ($FLAKY/farm.pid) with SIGTERM, and wait to be stopped.
set -u
arguments=("$@")
# A check draws nothing: it is no run.
[[ " $* " != *" --check "* ]] || exec "$REAL" "$@"
first= target=
while [ $# -gt 0 ]; do
    case $1 in
    --first) first=$2; shift ;;
    -o) target=$2; shift ;;
    esac
    shift
done
echo "$first" >>"$FLAKY/rendered"
if rm "$FLAKY/kill-$first" 2>/dev/null; then
    head -c 1000 /dev/zero >"$(dirname -- "$target")/.zkkilled$first"
    kill -KILL $$
fi
if rm "$FLAKY/block-$first" 2>/dev/null; then
    mkdir "$target"
    "$REAL" "${arguments[@]}"
    status=$?
    rmdir "$target"
    exit $status
fi
if rm "$FLAKY/stop-$first" 2>/dev/null; then
    for ((tries = 600; tries > 0; tries--)); do  # a bound only a hang reaches
        [ -s "$FLAKY/farm.pid" ] && break
        sleep 0.1
    done
    kill -TERM "$(cat "$FLAKY/farm.pid")"
    exec sleep 60  # one process, as the renderer is
    exit 1
fi
exec "$REAL" "${arguments[@]}"
