# Shared by the farm tests: a scratch directory, the one-run reference
# (PNG frames and movies), and the checks of what the slices made.
# MORVAKINE_BUILD names the build directory; the tests run from any place.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${MORVAKINE_BUILD:?MORVAKINE_BUILD names the build directory}
export MORVAKINE_RENDER=$build/morvakine-render
join=$build/morvakine-join
size=64x48
work=$(mktemp -d "${TMPDIR:-/tmp}/morvakine-farm.XXXXXX")
cleanups=("rm -rf '$work'")
cleanup() {
    local i
    for ((i = ${#cleanups[@]} - 1; i >= 0; i--)); do
        eval "${cleanups[i]}" || true
    done
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
cd "$work"

failures=0
check() {  # check WHAT COMMAND...: one line per failed check
    if ! "${@:2}"; then
        echo "FAILED: $1" >&2
        failures=$((failures + 1))
    fi
}

# The reference: TOTAL frames in one run, as PNGs in one/ and as movies.
reference() {
    mkdir -p one
    "$MORVAKINE_RENDER" -o one/f%05d.png --frames "$1" --size $size
    local ext
    for ext in "${@:2}"; do
        "$MORVAKINE_RENDER" -o one.$ext --frames "$1" --size $size
    done
}

# Every file in DIR holds the picture of the one-run file of its name (no
# temporaries, nothing torn), and with ALL set every one-run file is there.
same_frames() {
    local dir=$1 all=${2:-} f
    for f in "$dir"/* "$dir"/.[!.]*; do  # temporaries start with a dot
        [ -e "$f" ] && [ ! -d "$f" ] || continue
        "$build/png_probe" --same "$f" "one/${f##*/}" ||
            { echo "$f differs from one run's" >&2; return 1; }
    done
    if [ -n "$all" ]; then
        for f in one/*; do
            [ -f "$dir/${f##*/}" ] || { echo "$dir lacks ${f##*/}" >&2; return 1; }
        done
    fi
}

probe() {
    ffprobe -v error -count_frames -show_entries \
        stream=codec_name,width,height,pix_fmt,r_frame_rate,time_base,start_time,duration,nb_read_frames:format=start_time,duration \
        -of compact "$1"
}

# The decoded frames' timestamps, one a line (side data such as a segment's
# encoder notes prints lines of its own).
frame_times() {
    ffprobe -v error -show_entries frame=pts -of csv=p=0 "$1" | awk -F, '$1 != "" { print $1 }'
}

# The lowest PSNR of MOVIE's frames against one run's PNGs, paired by
# frame number (WebM keeps milliseconds).
lowest_psnr() {
    local frames='settb=1/30,setpts=N,format=yuv420p'
    ffmpeg -nostdin -v error -i "$1" -i one/f%05d.png -lavfi \
        "[0:v]$frames[a];[1:v]$frames[b];[a][b]psnr=shortest=1:stats_file=$1.psnr" -f null - &&
        awk '{ split($6, v, ":"); if (NR == 1 || v[2] + 0 < low) low = v[2] + 0 } END { print low }' "$1.psnr"
}

# Joins the segments in DIR into joined.EXT and checks it against one.EXT:
# the same stream, frames and timestamps as ffprobe sees them, and no frame
# more than 1 dB further from the PNGs than the one-run movie's worst.
joined_like_one() {
    local dir=$1 ext=$2 one joined
    "$join" joined.$ext "$dir"/*.$ext || return 1
    diff <(probe one.$ext) <(probe joined.$ext) >&2 || return 1
    diff <(frame_times one.$ext) <(frame_times joined.$ext) >&2 || return 1
    one=$(lowest_psnr one.$ext) && joined=$(lowest_psnr joined.$ext) || return 1
    awk -v one="$one" -v joined="$joined" 'BEGIN { exit !(joined >= one - 1) }' ||
        { echo "lowest PSNR against the PNGs: joined $joined dB, one run $one dB" >&2; return 1; }
}

finish() {
    if [ "$failures" -gt 0 ]; then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
    echo "all farm checks passed"
}
