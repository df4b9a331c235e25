#!/bin/bash
#SBATCH --job-name=morvakine-render
#SBATCH --cpus-per-task=2
#SBATCH --output=morvakine-%A_%a.log
# One slice of a long render: a Slurm array task, or any worker that sets
# MORVAKINE_SLICE to its slice's index.
#
#   sbatch --array=0-11 farm/render-slice.sh 3000 250 out/f%05d.png [OPTIONS...]
#
# Arguments: TOTAL frames, SLICE frames a slice, OUTPUT, then options for
# morvakine-render (--size, --fps, --time...), the same for every slice.
# Without arguments TOTAL, SLICE and OUTPUT come from MORVAKINE_TOTAL,
# MORVAKINE_SLICE_SIZE and MORVAKINE_OUTPUT. Slice i renders frames
# i*SLICE to min((i+1)*SLICE, TOTAL)-1, so the last one may be shorter.
# OUTPUT is a PNG pattern (out/f%05d.png: one file a frame, numbered by
# frame) or a movie pattern (parts/spin%05d.mp4: one segment a slice,
# numbered by its first frame, for morvakine-join). OUTPUT's directory is
# created. The renderer is $MORVAKINE_RENDER, else morvakine-render on the
# PATH, else build/morvakine-render under the working directory, whose
# --check says what OUTPUT is. With MORVAKINE_SLICE_LOG set, the slice
# appends "INDEX STATUS" to that file when it ends.
set -u
me=morvakine-slice
fail() {
    echo "$me: $*" >&2
    exit 2
}
# A decimal whole number (leading zeros allowed) of at most 9 digits.
whole() {
    [[ $2 =~ ^[0-9]+$ ]] && [ ${#2} -le 9 ] || [[ $2 =~ ^0+[0-9]{1,9}$ ]] ||
        fail "$1 expects a whole number, got \"$2\""
    echo $((10#$2))
}
if [ $# -ge 3 ]; then
    total=$1 size=$2 output=$3
    shift 3
elif [ $# -eq 0 ]; then
    total=${MORVAKINE_TOTAL:-} size=${MORVAKINE_SLICE_SIZE:-} output=${MORVAKINE_OUTPUT:-}
else
    fail "usage: render-slice.sh TOTAL SLICE OUTPUT [OPTIONS...]"
fi
total=$(whole TOTAL "$total") || exit 2
size=$(whole SLICE "$size") || exit 2
index=${MORVAKINE_SLICE:-${SLURM_ARRAY_TASK_ID:-}}
[ -n "$index" ] || fail "no slice index: submit with sbatch --array, or set MORVAKINE_SLICE"
index=$(whole "the slice index" "$index") || exit 2
[ "$total" -ge 1 ] && [ "$size" -ge 1 ] || fail "TOTAL and SLICE must be at least 1"
[ -n "$output" ] || fail "OUTPUT needs a file name"

for option in "$@"; do
    case $option in
    -o | -o=* | --first | --first=* | --frames | --frames=* | --run-frames | --run-frames=*)
        fail "the slice sets -o, --first, --frames and --run-frames itself, got \"$option\" among the options" ;;
    esac
done

first=$((index * size))
if [ "$first" -ge "$total" ]; then
    echo "$me: slice $index starts past frame $((total - 1)): nothing to render" >&2
    exit 0
fi
count=$((total - first < size ? total - first : size))

[ "$output" != - ] || fail "a slice writes files: OUTPUT cannot be - (standard output)"
render=${MORVAKINE_RENDER:-}
if [ -z "$render" ]; then
    render=morvakine-render
    command -v "$render" >/dev/null || [ ! -x build/morvakine-render ] || render=build/morvakine-render
fi
command -v "$render" >/dev/null ||
    fail "no renderer \"$render\" in $PWD: set MORVAKINE_RENDER, or put morvakine-render on the PATH"
# What OUTPUT is (a file a frame, or a file a slice) and where its number
# field lies are the renderer's to say: its check judges the name and the
# options as the render will, touching nothing.
declare -A said=()
while IFS= read -r -d '' key && IFS= read -r -d '' value; do
    said[$key]=$value
done < <("$render" --check -o "$output" --first "$first" --frames "$count" --run-frames "$total" "$@"; echo -n "status$?")
[ "${said[format]:-}" ] || exit "${key#status}"
if [ "${said[kind]}" != sequence ] && [ "${said[kind]}" != still ]; then
    # Only a sequence numbers a file a frame: any other format makes one
    # file a slice (a movie segment), named by its first frame. The number
    # alone goes through printf, never the name.
    [ -n "${said[field]:-}" ] ||
        fail "a movie slice needs one number field in OUTPUT, such as parts/spin%05d.mp4, got \"$output\""
    printf -v number "${said[field]}" "$first"
    output=${said[before]}$number${said[after]}
    target=$output
else
    target=${said[target]}
fi
mkdir -p -- "$(dirname -- "$target")" || exit 1

# The renderer runs in the background so that a signal reaches this shell
# at once; it is passed on as SIGTERM (a background job ignores SIGINT),
# and $MORVAKINE_SLICE_LOG (when set) gets "INDEX STATUS" for how the
# slice ended: 0 rendered, 128 + n by signal n.
ended() {
    [ -z "${MORVAKINE_SLICE_LOG:-}" ] || printf '%s %s\n' "$index" "$1" >>"$MORVAKINE_SLICE_LOG"
    exit "$1"
}
renderer=
stop() {
    trap '' INT TERM HUP
    if [ -n "$renderer" ]; then
        kill -TERM "$renderer" 2>/dev/null
        wait "$renderer" 2>/dev/null
    fi
    ended $((128 + $1))
}
trap 'stop 2' INT
trap 'stop 15' TERM
trap 'stop 1' HUP
# Every slice is framed on the whole run's frames, so that they join into
# one picture.
"$render" -o "$output" --first "$first" --frames "$count" --run-frames "$total" "$@" &
renderer=$!
wait "$renderer" 2>/dev/null
ended $?
