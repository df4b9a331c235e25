# morvakine-render: draws the figure headless (EGL, no display) into PNG
# files or a movie, or captures it as a glTF scene. Run through the
# launcher, which sets MORVAKINE_LIBDIR.

set program morvakine-render
set here [file dirname [file normalize [info script]]]
source [file join $here options.tcl]
::morvakine::guard $program [info script]

set help {Usage: morvakine-render [options]
Draws the animated figure without a display and writes PNG files or a movie,
or a glTF scene when FILE ends in .glb (binary) or .gltf (JSON).

  -o FILE           output file (default morvakine.png); with --frames a
                    movie or a printf pattern holding one number field:
                      .mp4   H.264, plays in every browser and player
                      .webm  VP9, the open web format
                      .gif   GIF with a palette made for the animation, loops
                      .apng  animated PNG, lossless, loops
                      f%04d.png  one PNG per frame, numbered from --first
                    a .glb or .gltf file holds all the frames as one animation;
                    - writes PNG data to standard output (one image a frame)
  --size WxH        image size in pixels (default 800x600)
  --time T          clock time in seconds (default 12: all five arms moving)
  --set ID=VALUE    set a control by id or label, e.g. --set 1=300 or
                    --set "x view=300"; sliders clamp to their range (repeatable)
  --manual          tick "manual control": pose from the sliders, not the clock
  --frames N        render N frames from --time on
  --fps F           frames per second of the clock for --frames, and the
                    movie's rate (default 30)
  --first K         start at frame K: frame k shows clock time --time + k/fps
                    (default 0), so slices of a sequence match one long run
  --quality Q       movie quality 0-100 (default 50); H.264 and VP9 constant
                    quality, GIF palette colours; animated PNG is lossless
  --help            show this text
  --version         show the version

Exit status: 0 done, 2 bad usage, 1 failure while running.}

set accepted {-o string --size size --time number --set set --manual flag
              --frames count --fps number --first count --quality count --help flag
              --version flag}
set defaults {-o morvakine.png --size {800 600} --time 12.0 --manual 0
              --frames -1 --fps 30.0 --first 0 --quality 50 --help 0 --version 0}
set options [::morvakine::parse_options $program $argv $accepted $defaults]
if {[dict get $options --help]} {
    puts $help
    flush stdout
    exit 0
}
if {[dict get $options --version]} {
    ::morvakine::show_version $program $here
}

set output [dict get $options -o]
set frames [dict get $options --frames]
set fps [dict get $options --fps]
lassign [dict get $options --size] width height
# Without --frames (-1) one image is written.
if {$frames == 0} {
    ::morvakine::usage_error $program "--frames expects at least 1"
}
if {$fps <= 0} {
    ::morvakine::usage_error $program "--fps must be above 0, got \"$fps\""
}
if {[dict get $options --quality] > 100} {
    ::morvakine::usage_error $program "--quality expects 0 to 100, got \"[dict get $options --quality]\""
}
# A movie or a scene is named by its extension; anything else with --frames
# is a PNG pattern holding exactly one integer field (%% is a literal
# percent sign).
set movie [expr {[string tolower [file extension $output]] in {.mp4 .webm .gif .apng}}]
set scene [regexp -nocase {\.(glb|gltf)$} $output]
set bare [string map {%% {}} $output]
set pattern [expr {!$movie && !$scene && $frames > 0 && $output ne "-"}]
if {$scene && $frames > 10000} {
    ::morvakine::usage_error $program "a scene holds at most 10000 frames, got $frames"
}
if {$movie && $fps > 1000} {
    ::morvakine::usage_error $program "--fps for a movie must be at most 1000, got \"$fps\""
}
if {$movie && $frames < 0} {
    ::morvakine::usage_error $program "a movie needs --frames N, got -o \"$output\" alone"
}
if {$pattern && ([regexp -all {%[-0 +#]*[0-9]*[dui]} $bare] != 1 || [regexp -all {%} $bare] != 1)} {
    ::morvakine::usage_error $program "-o with --frames takes .mp4, .webm, .gif, .apng, .glb, .gltf, - or a PNG pattern with one number field such as f%04d.png, got \"$output\""
}
if {$pattern && [regexp {%[-0 +#]*([0-9]*)[dui]} $bare -> padding]
        && $padding ne "" && [catch {::morvakine::whole $padding 12}]} {
    ::morvakine::usage_error $program "-o: the number field pads to 1 to 12 digits, got \"$output\""
}
# Every frame's clock reading must be a number; the last is the largest.
if {$frames > 0 && ([catch {expr {[dict get $options --time] + double($frames - 1) / $fps}} last]
                    || abs($last) == Inf)} {
    ::morvakine::usage_error $program "--time and --fps take the clock past any number by frame $frames"
}
set libdir [expr {[info exists env(MORVAKINE_LIBDIR)] ? $env(MORVAKINE_LIBDIR) : $here}]
::morvakine::load_plugin $program $libdir
# A sequence is checked by its first file's name, the one for --first: the
# pattern's own directory part may hold %%.
set streaming [expr {$output eq "-"}]
if {!$streaming} {
    ::morvakine::check_output $program -o [expr {$pattern ? [format $output [dict get $options --first]] : $output}]
}

# Without a usable driver Mesa's EGL prints warnings of its own; the one
# line below already says what failed. EGL_LOG_LEVEL=warning shows them.
if {![info exists env(EGL_LOG_LEVEL)]} {
    set env(EGL_LOG_LEVEL) fatal
}
if {[catch {zelkori::offscreen $width $height} message]} {
    ::morvakine::fail $program $message
}
::model::setup
::morvakine::apply_controls $program $options
::model::resize $width $height

# PNG compression: the library's fast path (ISA-L's deflate), made for
# sequences; files somewhat larger than the default level's.
set png_level fast

# Draws the frame for `seconds` and runs `save`, the command that writes
# it. A sequence saves in the background (-async) and a movie encodes on
# its own thread, so encoding overlaps the next frames; a failure then
# surfaces at a later frame or at the end.
proc render_frame {seconds save} {
    zelkori::clock set $seconds
    ::model::redraw
    if {[catch $save message]} {
        ::morvakine::fail $::program [expr {$::movie ? "cannot write \"$::output\": $message" : $message}]
    }
}
# With -o -, each frame's PNG goes to standard output as it is drawn.
proc stream_png {} {
    puts -nonewline stdout [zelkori::png $::png_level]
    flush stdout
}
if {$streaming} {
    fconfigure stdout -translation binary
}

set start [dict get $options --time]
if {$scene} {
    zelkori::clock set [expr {$start + double([dict get $options --first]) / $fps}]
    if {[catch {zelkori::scene $output -frames [expr {max($frames, 1)}] -fps $fps} message]} {
        ::morvakine::fail $program $message
    }
    exit 0
}
if {$frames < 0} {
    render_frame $start [expr {$streaming ? "stream_png" : [list zelkori::save $output $png_level]}]
    exit 0
}
if {$movie && [catch {zelkori::movie open $output -fps $fps -quality [dict get $options --quality] -first [dict get $options --first]} message]} {
    ::morvakine::fail $program $message
}
# Progress on a terminal only: frames done, rate, time left.
set progress [expr {![catch {exec test -t 2 2>@ stderr}]}]
set began [clock milliseconds]
set shown 0
set first [dict get $options --first]
for {set k $first} {$k < $first + $frames} {incr k} {
    set save [expr {$movie ? {zelkori::movie add} : $streaming ? "stream_png"
                    : [list zelkori::save -async [format $output $k] $png_level]}]
    render_frame [expr {$start + double($k) / $fps}] $save
    set now [clock milliseconds]
    if {$progress && ($now - $shown >= 200 || $k == $first + $frames - 1)} {
        set shown $now
        set done [expr {$k - $first + 1}]
        set rate [expr {$done * 1000.0 / max(1, $now - $began)}]
        puts -nonewline stderr [format "\r%s: frame %d of %d, %.0f frames/s, %.0f s left " \
            $program $done $frames $rate [expr {($frames - $done) / $rate}]]
        flush stderr
        set ::morvakine::line_open 1
    }
}
set finish [expr {$movie ? {zelkori::movie close} : {zelkori::wait}}]
if {[catch $finish message]} {
    ::morvakine::fail $program [expr {$movie ? "cannot write \"$output\": $message" : $message}]
}
if {$progress} {
    puts stderr ""
}
exit 0
