#!/bin/bash
# GNU parallel renders 11 frames in slices of 4 (the last one shorter):
# the PNGs are one run's byte for byte, joined movie segments are one run's
# movie; a slice that cannot write names its own first file and fails the
# whole render, leaving only whole files.
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
if ! command -v parallel >/dev/null; then
    echo "SKIP: GNU parallel is not installed (apt-get install parallel)"
    exit 77
fi
farm=$top/farm/render-parallel.sh
reference 11 mp4 webm
farm_command parallel

one_command=$top/farm/morvakine-farm
# The farm asks the renderer's check, never the name itself: what the
# check refuses, the farm refuses in the renderer's own line; what it
# takes, the farm takes when it is a sequence or a movie that joins, and
# otherwise refuses saying why.
# name|options|renderer's status|farm's status|what the refusal says
while IFS='|' read -r output options renderer farmed said; do
    got_renderer=0 got_farm=0
    "$MORVAKINE_RENDER" --check -o "$output" --frames 4 $options >/dev/null 2>render.err || got_renderer=$?
    "$one_command" --engine parallel --dry-run -o "$output" --frames 4 --slice 2 $options >/dev/null 2>farm.err ||
        got_farm=$?
    check "$output $options: renderer $renderer and farm $farmed, not $got_renderer and $got_farm" \
        same_words "$got_renderer $got_farm" "$renderer $farmed"
    [ "$renderer" = 0 ] || check "$output $options: the farm says the renderer's line" cmp -s render.err farm.err
    [ -z "$said" ] || check "$output $options: says $said in one line" \
        test "$(grep -c -- "$said" farm.err) $(wc -l <farm.err)" = "1 1"
done <<'NAMES'
100%%-%05d.png||0|0|
f%i.png||0|0|
f%-5d.png||0|0|
f%+d.png||0|0|
f%03d.jpg||0|0|
F%03d.JPEG||0|0|
x.mp4|--codec hevc|0|0|
x.webm|--codec AV1|0|0|
a.jpeg||2|2|a .jpg file holds one frame
x.webm|--codec h264|2|2|--codec: a .webm file holds vp9 or av1, not h264
x.mp4|--codec vp9|2|2|--codec: a .mp4 file holds h264, hevc or av1, not vp9
f%03d.png|--codec h264|2|2|only a movie has a codec to choose
-||0|2|cannot be - (standard output)
x.webp||0|2|cannot be joined from slices
x.avif||0|2|cannot be joined from slices
x.gltf||0|2|the farm writes a sequence
x.txt||2|2|unknown format
f%d%d.png||2|2|one number field
f%5.2d.png||2|2|
f%ld.png||2|2|
NAMES

# The farm takes the names the renderer takes and writes the same files,
# from a name with a literal percent to a directory named like an option;
# each run says nothing, and a run killed part way resumes there.
while read -r name; do
    rm -rf one-run farmed && mkdir -p -- one-run/"$(dirname -- "$name")" farmed
    (cd one-run && "$MORVAKINE_RENDER" -o "$name" --frames 3 --size 32x24) ||
        check "the renderer takes $name" false
    (cd farmed && "$one_command" --engine parallel -o "$name" --frames 3 --slice 2 --size 32x24 2>../err.txt) ||
        check "the farm takes $name" false
    check "the farm says nothing for $name" test ! -s err.txt
    check "the farm writes the renderer's files for $name" \
        same_words "$(cd farmed && find . | sort | xargs)" "$(cd one-run && find . | sort | xargs)"
done <<'NAMES'
100%%-%05d.png
f%i.png
f%-5d.png
f%+d.png
p%%.mp4
--d/f%03d.png
--d/m%%.webm
NAMES
mkdir -p -- --r
rm -rf flaky && mkdir flaky && touch flaky/kill-2
check "a farm in a directory named like an option mends a killed slice" \
    env FLAKY="$work/flaky" REAL="$MORVAKINE_RENDER" MORVAKINE_RENDER="$top/tests/farm/flaky-render.sh" \
    "$one_command" --engine parallel -o --r/f%03d.png --frames 6 --slice 2 --size 32x24
check "... rendering only the killed slice again" same_words "$(sort -n flaky/rendered | xargs)" "0 2 2 4"

# Refused before any slice runs (or, for a control only the plug-in
# knows, by the slices, with nothing rendered): one line, its status,
# nothing made, and the corrected command runs after it.
mkdir -p dir.mp4 && touch file
while IFS='|' read -r status expected output options; do
    rm -rf early && mkdir early && cd early
    "$one_command" --engine parallel -o "$output" --frames 4 --slice 2 $options 2>../err.txt && got=0 || got=$?
    cd ..
    check "$output $options: exit $status, not $got" test "$got" -eq "$status"
    check "$output $options: one line" test "$(wc -l <err.txt)" -eq 1
    check "$output $options: says $expected" grep -q -- "$expected" err.txt
    check "$output $options: nothing made" test -z "$(ls -A early)"
done <<'CASES'
2|width and height must be|out/f%03d.png|--size 0x8
2|unknown option "--bogus"|out/f%03d.png|--bogus
2|--fps: the rate must be|out.mp4|--fps 1e-9
2|--quality needs a value|out.mp4|--quality
2|unknown control "nosuch"|out.mp4|--set nosuch=1
2|cannot be joined from slices|out.gif|
2|--frames|out.png|
1|is a directory|../dir.mp4|
1|cannot make|../file/out.mp4|
CASES
check "the corrected command runs" "$one_command" --engine parallel -o early/f%03d.png --frames 4 --slice 2 --size 32x24

# An existing target is replaced, as the renderer replaces it, whatever it
# holds: a shorter preview of the same render, junk, or a sequence of
# another size and time, which is never taken for this one's frames.
"$MORVAKINE_RENDER" -o again.mp4 --frames 6 --size 32x24
mkdir other want
"$MORVAKINE_RENDER" -o other/f%03d.png --frames 8 --size 64x48
"$MORVAKINE_RENDER" -o want/f%03d.png --frames 8 --size 32x24 --time 3
echo junk >junk.mp4
for output in again.mp4 junk.mp4 other/f%03d.png; do
    check "the farm replaces $output" "$one_command" --engine parallel -o $output --frames 8 --slice 4 --size 32x24 \
        $([ "$output" != other/f%03d.png ] || echo --time 3)
done
check "the replaced movies are this render's" \
    same_words "$("$join" --probe again.mp4) $("$join" --probe junk.mp4)" \
    "frames=8 first=0 rate=30/1 end=0.266667 frames=8 first=0 rate=30/1 end=0.266667"
check "the replaced sequence is this render's" \
    bash -c 'for k in 000 003 007; do "$0" --same other/f$k.png want/f$k.png || exit; done' "$build/png_probe"

check "PNG slices" "$farm" 11 4 out/f%05d.png --size $size
check "PNG slices are one run's" same_frames out all
for ext in mp4 webm; do
    check "$ext slices" "$farm" 11 4 parts/m%05d.$ext --size $size
    check "$ext segments join into one run's movie" joined_like_one parts $ext
done

# Chromium plays the joined movies as it plays one run's.
if node=$("$top/scripts/tools.sh" node 2>/dev/null) &&
    CHROMIUM=$("$top/scripts/tools.sh" chromium 2>/dev/null); then
    CHROMIUM=$CHROMIUM "$node" "$top/tests/farm/play.mjs" one.mp4 joined.mp4 one.webm joined.webm >played.txt
    check "Chromium plays the joined movies as one run's" \
        awk '$2 == "error" { exit 1 } { d[NR] = $2 " " $3 } END { exit !(NR == 4 && d[1] == d[2] && d[3] == d[4]) }' played.txt
else
    echo "note: no node or chromium here, the joined movies were not played in a browser"
fi

# Damaged and mismatched segments beside the good ones: the middle MP4 cut
# short, the last WebM cut in half, the first MP4 with a block zeroed, a
# WebM slice of another quality, an MP4 slice of another clock time; and a
# link to a segment.
mkdir -p cut
cp parts/* cut/
truncate -s 1000 cut/m00004.mp4
# Where a segment's video packets lie ("size,pos" a packet), so that the
# damage falls on a frame whatever the frames hold.
packet() {
    ffprobe -v error -select_streams v:0 -show_entries packet=size,pos -of csv=p=0 "$1" | sed -n "$2p"
}
IFS=, read -r bytes at < <(packet cut/m00008.webm '$')
truncate -s $((at + bytes / 2)) cut/m00008.webm
cp parts/m00000.mp4 zeroed.mp4
IFS=, read -r bytes at < <(packet zeroed.mp4 1)
dd if=/dev/zero of=zeroed.mp4 bs=1 count=200 seek="$at" conv=notrunc 2>/dev/null
"$MORVAKINE_RENDER" -o q00004.webm --first 4 --frames 4 --size $size --quality 20
"$MORVAKINE_RENDER" -o t00004.mp4 --first 4 --frames 4 --size $size --time 13
ln -s parts/m00000.mp4 link.mp4
untouched=$(md5sum parts/* cut/* zeroed.mp4 q00004.webm t00004.mp4)

# Joins that would not give one run's movie are refused, naming why, and
# touch nothing.
while IFS='|' read -r output segments expected; do
    if "$join" "$output" $segments 2>err.txt; then
        check "join $segments is refused" false
    fi
    check "join $segments says: $expected" grep -q "$expected" err.txt
    check "join $segments says it in one line" test "$(wc -l <err.txt)" -eq 1
done <<'CASES'
refused.mp4|parts/m00000.mp4 parts/m00008.mp4|frames 4 to 7 are missing between
refused.mp4|parts/m00004.mp4 parts/m00000.mp4|"parts/m00000.mp4" (from frame 0) comes before "parts/m00004.mp4"
refused.mp4|parts/m00000.mp4 one.mp4|already holds
refused.gif|a.gif b.gif|cannot be joined without encoding again
refused.mp4|cut/m00000.mp4 cut/m00004.mp4 cut/m00008.mp4|"cut/m00004.mp4" is truncated
refused.webm|cut/m00000.webm cut/m00004.webm cut/m00008.webm|"cut/m00008.webm" is truncated
refused.mp4|zeroed.mp4 parts/m00004.mp4|"zeroed.mp4" is corrupt
refused.webm|parts/m00000.webm q00004.webm parts/m00008.webm|(quality 20, not quality 50)
refused.mp4|parts/m00000.mp4 t00004.mp4|"t00004.mp4" was rendered .* (--time 13.0, not --time 12.0)
parts/m00004.mp4|parts/m00004.mp4 parts/m00008.mp4|is the segment "parts/m00004.mp4"
link.mp4|parts/m00000.mp4 parts/m00004.mp4 parts/m00008.mp4|is the segment "parts/m00000.mp4"
parts/m00000.mp4|parts/m00004.mp4 parts/m00008.mp4|holds frames 0 to 3 of this render, which the segments do not
CASES
check "refused joins touch nothing" test "$untouched" = "$(md5sum parts/* cut/* zeroed.mp4 q00004.webm t00004.mp4)"
check "refused joins write nothing" test ! -e refused.mp4 -a ! -e refused.webm

# Slice 1 (frames 4-7) cannot write its first file.
mkdir -p bad/f00004.png
if "$farm" 11 4 bad/f%05d.png --size $size 2>err.txt; then
    check "a failing slice fails the render" false
fi
check "the failing slice names its first file" grep -q 'bad/f00004.png": is a directory' err.txt
check "what the slices left is whole" same_frames bad
# A movie slice's name is taken as it is, only its number field filled.
MORVAKINE_SLICE=1 "$top/farm/render-slice.sh" 8 4 'odd\x41 \n/s%05d.mp4' --size $size 2>err.txt ||
    check "a slice with a backslash in its name renders" false
check "a slice's name is no printf format" test -f 'odd\x41 \n/s00004.mp4'

# A signal stops every slice and ends the script with 128 + its number,
# however it reaches the run, leaving no temporary file (job control, so
# that SIGINT is not ignored).
while read -r program signal to status; do
    rm -rf stop
    set -m
    if [ "$program" = render-parallel.sh ]; then
        "$farm" 90000 45000 stop/f%05d.png --size $size 2>err.txt &
    else
        "$one_command" --engine parallel -o stop/f%05d.png --frames 90000 --slice 45000 --size $size 2>err.txt &
    fi
    set +m
    pid=$!
    for ((tries = 600; tries > 0; tries--)); do  # a bound only a hang reaches
        [ -e stop/f00000.png ] && break
        sleep 0.1
    done
    # The script, or GNU parallel alone.
    [ "$to" = script ] || pid=$(ps -o pid=,comm= --ppid "$pid" | awk '$2 == "parallel" { print $1 }')
    kill -"$signal" $pid
    wait "$!" && got=0 || got=$?
    check "SIG$signal to the $to ends $program with $status, not $got" test "$got" -eq "$status"
    check "SIG$signal to the $to of $program leaves no temporary file" test -z "$(find stop -name '.*' -type f)"
done <<'SIGNALS'
render-parallel.sh INT script 130
render-parallel.sh TERM script 143
render-parallel.sh TERM parallel 143
morvakine-farm TERM parallel 143
SIGNALS

# A slice checks its own first file before drawing.
if "$MORVAKINE_RENDER" -o gone/f%05d.png --first 2 --frames 3 --size $size 2>err.txt; then
    check "a slice with no directory fails" false
fi
check "a slice with no directory names its first file" grep -q 'gone/f00002.png": no such directory' err.txt
finish
