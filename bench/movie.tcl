# Movies in one step against the two steps a user takes otherwise: the PNG
# sequence, then the ffmpeg program over it. Sourced by run.tcl, which
# provides build, work, row and heading.

set movie_frames 150
set movie_size 640x480
set movie_runs 3

proc movie_seconds {args} {
    set start [clock microseconds]
    exec {*}$args
    expr {([clock microseconds] - $start) / 1e6}
}

proc median {values} {
    lindex [lsort -real $values] [expr {[llength $values] / 2}]
}

# ffmpeg's PSNR in RGB of every frame of `movie` against the PNGs of
# `pattern`: the average and the worst frame.
proc movie_psnr {movie pattern} {
    set log [exec ffmpeg -hide_banner -i $movie -framerate 30 -i $pattern -lavfi \
        {[0:v]settb=1/30,setpts=N,format=rgb24[a];[1:v]settb=1/30,setpts=N,format=rgb24[b];[a][b]psnr} \
        -f null - 2>@1]
    regexp {average:([0-9.]+) min:([0-9.]+)} $log -> average worst
    format "%.1f dB (worst frame %.1f)" $average $worst
}

if {[auto_execok ffmpeg] eq ""} {
    puts "  no ffmpeg: skipped"
    return
}
set renderer [file join $build morvakine-render]
set frames_dir [file join $work movie-frames]
file mkdir $frames_dir
set pattern [file join $frames_dir f%04d.png]
set ours_mp4 [file join $work ours.mp4]
set theirs_mp4 [file join $work theirs.mp4]
set render_args [list --frames $movie_frames --size $movie_size]

# Interleaved: each run times both ways, so load falls on both alike.
set ours_times {}
set theirs_times {}
for {set run 0} {$run < $movie_runs} {incr run} {
    lappend ours_times [movie_seconds $renderer {*}$render_args -o $ours_mp4]
    file delete {*}[glob -nocomplain -directory $frames_dir *.png]
    set sequence [movie_seconds $renderer {*}$render_args -o $pattern]
    set encode [movie_seconds ffmpeg -v error -y -framerate 30 -i $pattern \
        -c:v libx264 -pix_fmt yuv420p $theirs_mp4]
    lappend theirs_times [expr {$sequence + $encode}]
}
set ours [median $ours_times]
set theirs [median $theirs_times]
row "$movie_frames-frame $movie_size .mp4, one step" \
    [format "%.2f s, %.0f frames/s" $ours [expr {$movie_frames / $ours}]] \
    [format "PNGs + ffmpeg: %.2f s" $theirs] \
    [format "%.1fx faster" [expr {$theirs / $ours}]] "goal >= 2x faster"
set ours_size [file size $ours_mp4]
set theirs_size [file size $theirs_mp4]
row ".mp4 size" [format "%.0f KB" [expr {$ours_size / 1000.0}]] \
    [format "ffmpeg's: %.0f KB" [expr {$theirs_size / 1000.0}]] \
    [format "%.2fx" [expr {double($ours_size) / $theirs_size}]] "goal <= 1.5x"
puts "    PSNR against the PNGs, RGB: ours [movie_psnr $ours_mp4 $pattern],\
    ffmpeg's [movie_psnr $theirs_mp4 $pattern]; goal >= 35 dB"

foreach format {webm gif apng} {
    set file [file join $work ours.$format]
    set times {}
    for {set run 0} {$run < $movie_runs} {incr run} {
        lappend times [movie_seconds $renderer {*}$render_args -o $file]
    }
    set seconds [median $times]
    set detail [format "%.2f s, %.0f KB" $seconds [expr {[file size $file] / 1000.0}]]
    if {$format eq "webm"} {
        append detail ", PSNR [lindex [movie_psnr $file $pattern] 0] dB"
    }
    row "$movie_frames-frame $movie_size .$format" \
        [format "%.0f frames/s" [expr {$movie_frames / $seconds}]] $detail "" ""
}
file delete -force $frames_dir
