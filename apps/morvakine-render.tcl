# morvakine-render: draws the figure headless (EGL, no display) into PNG
# files, or captures it as a glTF scene. Run through the launcher, which
# sets MORVAKINE_LIBDIR.

set program morvakine-render
set here [file dirname [file normalize [info script]]]
source [file join $here options.tcl]

set help {Usage: morvakine-render [options]
Draws the animated figure without a display and writes PNG files, or a
glTF scene when FILE ends in .glb (binary) or .gltf (JSON).

  -o FILE           output file (default morvakine.png); with --frames a
                    printf pattern holding one number field, e.g. frame%04d.png;
                    a .glb or .gltf file holds all the frames as one animation;
                    - writes PNG data to standard output (one image a frame)
  --size WxH        image size in pixels (default 800x600)
  --time T          clock time in seconds (default 12: all five arms moving)
  --set ID=VALUE    set a control by id or label, e.g. --set 1=300 or
                    --set "x view=300"; sliders clamp to their range (repeatable)
  --manual          tick "manual control": pose from the sliders, not the clock
  --frames N        render N frames from --time on
  --fps F           frames per second of the clock for --frames (default 30)
  --help            show this text
  --version         show the version

Exit status: 0 done, 2 bad usage, 1 failure while running.}

set accepted {-o string --size size --time number --set set --manual flag
              --frames count --fps number --help flag --version flag}
set defaults {-o morvakine.png --size {800 600} --time 12.0 --manual 0
              --frames -1 --fps 30.0 --help 0 --version 0}
set options [::morvakine::parse_options $program $argv $accepted $defaults]
if {[dict get $options --help]} {
    puts $help
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
set scene [regexp -nocase {\.(glb|gltf)$} $output]
if {$scene && $frames > 10000} {
    ::morvakine::usage_error $program "a scene holds at most 10000 frames, got $frames"
}
if {$frames > 0 && !$scene && $output ne "-"} {
    # Exactly one integer field; %% stands for a literal percent sign.
    set bare [string map {%% {}} $output]
    if {[regexp -all {%[-0 +#]*[0-9]*[dui]} $bare] != 1 || [regexp -all {%} $bare] != 1} {
        ::morvakine::usage_error $program "-o with --frames needs one number field such as %04d, got \"$output\""
    }
}
set libdir [expr {[info exists env(MORVAKINE_LIBDIR)] ? $env(MORVAKINE_LIBDIR) : $here}]
::morvakine::load_plugin $program $libdir
# A sequence is checked by its first file's name: the pattern's own
# directory part may hold %%.
set streaming [expr {$output eq "-"}]
if {!$streaming} {
    ::morvakine::check_output $program -o [expr {$frames > 0 && !$scene ? [format $output 0] : $output}]
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

# Draws the frame for `seconds` and writes it to `file`. A sequence saves
# in the background (-async), so encoding overlaps the next frames; a
# failure then surfaces at a later frame or at the final wait.
proc render_frame {seconds file {mode {}}} {
    zelkori::clock set $seconds
    ::model::redraw
    if {$::streaming} {
        set failed [catch {puts -nonewline stdout [zelkori::png $::png_level]; flush stdout} message]
    } else {
        set failed [catch {zelkori::save {*}$mode $file $::png_level} message]
    }
    if {$failed} {
        ::morvakine::fail $::program $message
    }
}
if {$streaming} {
    fconfigure stdout -translation binary
}

set start [dict get $options --time]
if {$scene} {
    zelkori::clock set $start
    if {[catch {zelkori::scene $output -frames [expr {max($frames, 1)}] -fps $fps} message]} {
        ::morvakine::fail $program $message
    }
    exit 0
}
if {$frames < 0} {
    render_frame $start $output
    exit 0
}
set progress [expr {![catch {exec test -t 2 2>@ stderr}]}]
for {set k 0} {$k < $frames} {incr k} {
    render_frame [expr {$start + double($k) / $fps}] [format $output $k] -async
    if {$progress} {
        puts -nonewline stderr [format "\r%s: frame %d of %d" $program [expr {$k + 1}] $frames]
        flush stderr
    }
}
if {[catch {zelkori::wait} message]} {
    ::morvakine::fail $program $message
}
if {$progress} {
    puts stderr ""
}
exit 0
