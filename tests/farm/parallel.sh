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

# Joins that would not give one run's movie are refused, naming why.
while IFS='|' read -r output segments expected; do
    if "$join" "$output" $segments 2>err.txt; then
        check "join $segments is refused" false
    fi
    check "join $segments says: $expected" grep -q "$expected" err.txt
done <<'CASES'
refused.mp4|parts/m00000.mp4 parts/m00008.mp4|frames 4 to 7 are missing between
refused.mp4|parts/m00004.mp4 parts/m00000.mp4|already holds
refused.mp4|parts/m00000.mp4 one.mp4|already holds
refused.gif|a.gif b.gif|cannot be joined without encoding again
CASES

# Slice 1 (frames 4-7) cannot write its first file.
mkdir -p bad/f00004.png
if "$farm" 11 4 bad/f%05d.png --size $size 2>err.txt; then
    check "a failing slice fails the render" false
fi
check "the failing slice names its first file" grep -q 'bad/f00004.png": is a directory' err.txt
check "what the slices left is whole" same_frames bad
# A slice checks its own first file before drawing.
if "$MORVAKINE_RENDER" -o gone/f%05d.png --first 2 --frames 3 --size $size 2>err.txt; then
    check "a slice with no directory fails" false
fi
check "a slice with no directory names its first file" grep -q 'gone/f00002.png": no such directory' err.txt
finish
