# Shared by the farm tests: a scratch directory, the one-run reference
# (PNG frames and movies), and the checks of what the slices made.
# MORVAKINE_BUILD names the build directory; the tests run from any place.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${MORVAKINE_BUILD:?MORVAKINE_BUILD names the build directory}
export MORVAKINE_RENDER=$build/morvakine-render
export MORVAKINE_JOIN=$build/morvakine-join
join=$MORVAKINE_JOIN
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

# GOT is WANT, else both are said.
same_words() {
    [ "$1" = "$2" ] || { echo "got \"$1\", not \"$2\"" >&2; return 1; }
}

finish() {
    if [ "$failures" -gt 0 ]; then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
    echo "all farm checks passed"
}

# The one-command farm on ENGINE (with the farm's OPTIONS after it), 40
# frames in 5 slices of 8 (and a PNG sequence of 11): a run with no
# fault; one where slice 2's renderer dies by SIGKILL and slice 4's target
# is unwritable, once each, which must end byte for byte as the first; one
# stopped part way (SIGTERM) and run again, which must render only the
# slices missing and end the same; and a usage error, never retried.
farm_command() {
    local engine=$1 farm=$top/farm/morvakine-farm done missing
    local args=(--engine "$engine" "${@:2}" --frames 40 --slice 8 --size $size)
    local flaky=(env FLAKY="$work/flaky" REAL="$MORVAKINE_RENDER"
                 MORVAKINE_RENDER="$top/tests/farm/flaky-render.sh" "$farm")
    "$MORVAKINE_RENDER" -o one40.mp4 --frames 40 --size $size
    check "$engine: the farm renders a movie" "$farm" -o whole.mp4 "${args[@]}"
    check "$engine: the farm's movie is one run's" diff <(probe one40.mp4) <(probe whole.mp4)
    check "$engine: the farm leaves no work behind" test ! -e .whole.mp4.farm
    check "$engine: the farm renders a PNG sequence" \
        "$farm" -o seq/f%05d.png --engine "$engine" "${@:2}" --frames 11 --slice 4 --size $size
    check "$engine: the farm's PNGs are one run's" same_frames seq all

    rm -rf flaky && mkdir flaky && touch flaky/kill-8 flaky/block-24
    check "$engine: the farm mends a killed and an unwritable slice" \
        "${flaky[@]}" -o mended.mp4 "${args[@]}" 2>err.txt
    check "$engine: a mended render is an uninterrupted one" cmp whole.mp4 mended.mp4
    check "$engine: only the failed slices ran again" \
        same_words "$(sort -n flaky/rendered | xargs)" "0 8 8 16 24 24 32"

    rm -rf flaky && mkdir flaky && touch flaky/stop-16
    "${flaky[@]}" -o resumed.mp4 --jobs 1 "${args[@]}" 2>err.txt &
    echo $! >flaky/farm.pid
    wait $! && done=0 || done=$?
    check "$engine: a stopped farm exits 143, not $done" test "$done" -eq 143
    [ "$engine" != slurm ] ||
        check "$engine: a stopped farm's tasks have all ended" same_words "$(squeue -h -o %i -j "$(paste -sd, .resumed.mp4.farm/jobs)" || echo squeue failed)" ""
    done=$(cd .resumed.mp4.farm/parts && ls | sed 's/^part0*\([0-9]\)/\1/; s/\..*//' | xargs)
    missing=$(for k in 0 8 16 24 32; do [[ " $done " == *" $k "* ]] || echo $k; done | xargs)
    check "$engine: a dry run lists the slices missing" \
        grep -q "^# $(wc -w <<<"$missing") of 5 slices to render" <("$farm" -o resumed.mp4 "${args[@]}" --dry-run)
    : >flaky/rendered
    check "$engine: the farm run again finishes" "${flaky[@]}" -o resumed.mp4 "${args[@]}"
    check "$engine: run again, it renders only what was missing ($missing)" \
        same_words "$(sort -n flaky/rendered | xargs)" "$missing"
    check "$engine: a resumed render is an uninterrupted one" cmp whole.mp4 resumed.mp4

    : >flaky/rendered
    if "${flaky[@]}" -o usage.mp4 "${args[@]}" --quality 500 2>err.txt; then
        check "$engine: a usage error fails the farm" false
    else
        check "$engine: a usage error is the farm's exit 2" test $? -eq 2
    fi
    check "$engine: a usage error is never retried" test -z "$(sort flaky/rendered | uniq -d)"
    check "$engine: a usage error says why" grep -q 'quality' err.txt
}
