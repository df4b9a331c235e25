# morvakine-render: draws the figure headless (EGL, no display) into PNG
# files or a movie, or captures it as a glTF scene. Run through the
# launcher, which sets MORVAKINE_LIBDIR.

set program morvakine-render
set here [file dirname [file normalize [info script]]]
source [file join $here options.tcl]
::morvakine::guard $program [info script]
set here [::morvakine::names_as_bytes $here]

# "a, b or c (default 50)" and "d (default 90)", a line each: the
# extensions that take a quality, in `graded` (extension to its default),
# grouped by default.
proc quality_defaults {graded} {
    set groups {}
    dict for {extension default} $graded {
        dict lappend groups $default $extension
    }
    set parts {}
    dict for {default extensions} $groups {
        set names [join [lrange $extensions 0 end-1] {, }]
        set names [expr {[llength $extensions] > 1 ? "$names or [lindex $extensions end]" : $extensions}]
        lappend parts "$names (default $default)"
    }
    return [join $parts "\n                    "]
}

# The help; the formats, their limits and defaults come from the host
# library's table, the one place they are kept.
proc help_text {} {
    set png [::morvakine::format_row png]
    set movie [::morvakine::format_row mp4]
    set formats {}
    set graded {}
    set clear {}
    foreach format [zelkori::formats] {
        dict with format {
            if {${takes-quality} && $extension ni [dict keys $graded]} {
                dict set graded $extension ${default-quality}
            }
            if {$alpha && !$stdout && $extension ni $clear} {
                lappend clear $extension
            }
            set name [expr {$pattern ? "f%04d$extension" : [string trim "$extension $alias"]}]
            set limits {}
            if {${max-frames} > 1 && ${max-frames} < 1000000000} {
                lappend limits "up to ${max-frames} frames"
            }
            if {${max-fps} < Inf} {
                lappend limits "up to [format %g ${max-fps}] fps"
            }
            append formats [format "\n                      %-10s %s" $name $summary]
            if {[llength $limits]} {
                append formats [format "\n                      %-10s (%s)" "" [join $limits ", "]]
            }
            if {[llength $codecs] > 1} {
                set choices [linsert [lrange $codecs 1 end] 0 "[lindex $codecs 0] (default)"]
                append formats [format "\n                      %-10s --codec %s or %s" "" \
                    [join [lrange $choices 0 end-1] {, }] [lindex $choices end]]
            }
        }
    }
    return "Usage: morvakine-render \[options\]
Draws the animated figure without a display and writes PNG or JPEG files, a
movie, a glTF scene or a web page, its format named by the output's extension.

  -o FILE           output file (default morvakine.png):$formats
  --size WxH        image size in pixels (default 800x600)
  --time T          clock time in seconds (default 12: all five arms moving)
  --set ID=VALUE    set a control by id or label, e.g. --set 1=300 or
                    --set \"x view=300\"; sliders clamp to their range (repeatable)
  --manual          tick \"manual control\": pose from the sliders, not the clock;
                    a --set of a slider that only poses under manual control
                    ticks it too, as moving that slider in the viewer does
  --frames N        render N frames (default 1); a movie needs it
  --fps F           frames per second of the clock for --frames, and the
                    movie's or scene's rate (default [format %g [dict get $png default-fps]])
  --first K         with --frames, start at frame K: frame k shows clock time
                    --time + k/fps and a sequence numbers its files from K,
                    so slices of a run match one long run
  --codec C         a movie's codec, one of those its format holds (above)
  --quality Q       quality 0-[dict get $movie max-quality] of files
                    [quality_defaults $graded]:
                    the codec's or JPEG's own quality, or GIF's palette colours
  --plugin FILE     draw with the plug-in FILE (a library whose Name_Init
                    registers ::model::setup, resize and redraw) instead of
                    the build's own morvakine.so
  --samples N       samples a pixel, for smooth edges (default 4; 1 draws
                    each pixel once, with stepped edges); above the most the
                    OpenGL driver offers, that many
  --background COLOUR
                    what shows behind the figure: a colour name as in Tk
                    (white, \"light grey\", SteelBlue) or #rrggbb (default black)
  --transparent     a transparent background: the image keeps its alpha, 0
                    where nothing is drawn ([join $clear {, }] files and -)
  --lights L        a scene's lights: web (default; right in three.js and web
                    viewers at exposure 1), blender (studio levels for
                    Blender's importer) or none
  --framed          frame the whole figure, the default: a still on its own
                    pose, a run of frames on all of them together, each
                    whole in the picture with a small margin
  --run-frames N    frame the run's frames 0 to N-1 together rather than
                    those rendered, so that every slice (--first) of a run
                    of N frames has one framing (the farm passes it)
  --plugin-camera   the plug-in's own camera, unframed (the host's view)
  --view Z,X,Y      zoom Z and shift X, Y (in half-widths and half-heights)
                    around the plug-in's camera, as the viewer's copied
                    render command gives them
  --check           judge the options and the output's name as a render
                    would, touch nothing and draw nothing; print what the
                    output is, for scripts: pairs of NUL-ended fields,
                    format, kind, joinable, extension and target (the first
                    file written), with before, field and after where the
                    name holds a number field
  --help            show this text
  --version         show the version

Exit status: 0 done, 2 bad usage, 1 failure while running."
}

set accepted {-o string --size size --time number --set set --manual flag
              --frames count --fps number --first count --quality count --lights string
              --codec string
              --framed flag --run-frames count --plugin-camera flag --view string
              --plugin string --check flag --help flag --version flag
              --samples count --background string --transparent flag}
set defaults {-o morvakine.png --size {800 600} --time 12.0 --manual 0
              --framed 0 --plugin-camera 0 --check 0 --help 0 --version 0
              --transparent 0}
set options [::morvakine::parse_options $program $argv $accepted $defaults]
set libdir [expr {[info exists env(MORVAKINE_LIBDIR)] ? $env(MORVAKINE_LIBDIR) : $here}]
if {[dict get $options --help]} {
    ::morvakine::require_host $program $libdir
    # A reader that stops early (--help | head) wants nothing more.
    if {[catch {puts [help_text]; flush stdout} message]} {
        lassign $::errorCode domain code reason
        catch {close stdout}
        if {$domain eq "POSIX" && $code eq "EPIPE"} {
            exit 1
        }
        ::morvakine::fail $program "cannot write the help: [expr {$domain eq "POSIX" ? $reason : $message}]"
    }
    exit 0
}
if {[dict get $options --version]} {
    ::morvakine::show_version $program $here
}

set output [dict get $options -o]
set frames [expr {[dict exists $options --frames] ? [dict get $options --frames] : 0}]
lassign [dict get $options --size] width height
if {[dict exists $options --first] && $frames == 0} {
    ::morvakine::usage_error $program "--first needs --frames"
}
if {[dict exists $options --frames] && $frames == 0} {
    ::morvakine::usage_error $program "--frames expects at least 1"
}
set first [expr {[dict exists $options --first] ? [dict get $options --first] : 0}]
set cameras [lmap option {--framed --plugin-camera --view} {
    expr {[dict exists $options $option] && [dict get $options $option] ne "0" ? $option : [continue]}
}]
if {[llength $cameras] > 1} {
    ::morvakine::usage_error $program "[join $cameras " and "] cannot be combined"
}
if {[dict exists $options --view]} {
    set view [::morvakine::parse_view $program [dict get $options --view]]
}
if {[dict exists $options --run-frames]} {
    set run [dict get $options --run-frames]
    if {$run == 0 || $run < $first + $frames} {
        ::morvakine::usage_error $program "--run-frames must hold the frames rendered: at least [expr {$first + max($frames, 1)}], got $run"
    }
}
::morvakine::require_host $program $libdir
::morvakine::check_size $program --size [list $width $height]
set look [::morvakine::picture_options $program $options]
::morvakine::check_samples $program $options
# The format the name makes, from the host library's table, the one place
# formats and their limits are kept.
set row [::morvakine::output_row $program $output]
set kind [dict get $row kind]
# A page draws live on its own clock with the plug-in built into it: the
# options of frames drawn here mean nothing for it.
if {$kind eq "page"} {
    foreach option {--frames --fps --first --run-frames --quality --lights --plugin --samples --background} {
        if {[dict exists $options $option]} {
            ::morvakine::usage_error $program "$option means nothing for a web page, which draws the figure live with the plug-in built into it"
        }
    }
}
set params [list -size [list $width $height] -first $first -frames [expr {max($frames, 1)}]]
foreach {option name} {--fps -fps --quality -quality --lights -lights --codec -codec} {
    if {[dict exists $options $option]} {
        lappend params $name [dict get $options $option]
    }
}
if {[dict get $options --transparent]} {
    lappend params -alpha 1
}
# Frames are written as they are drawn: a format with a level takes the
# one its row gives for that.
if {[dict get $row takes-level]} {
    lappend params -level [dict get $row drawn-level]
}
# A scene is the only output here: its primitives need only be recorded.
if {$kind eq "scene"} {
    lappend params -pictures 0
}
# The output is judged once, by opening it, before anything is drawn (its
# files appear only when it closes). A movie's tag holds the framing, known
# once the figure is set up: its parameters are checked here and it opens
# then; --check only checks.
if {$kind eq "movie" || [dict get $options --check]} {
    set format [::morvakine::output $program check $output $params]
} else {
    set writer [::morvakine::output $program open $output $params]
}
if {$kind eq "movie" && $frames == 0} {
    ::morvakine::usage_error $program "a movie needs --frames N, got -o \"$output\" alone"
}
set frames [expr {max($frames, 1)}]
set fps [expr {[dict exists $options --fps] ? [dict get $options --fps] : [dict get $row default-fps]}]
# Every frame's clock reading must be a number; the last is the largest.
if {[catch {::zelkori::frame_time [dict get $options --time] [expr {$first + $frames - 1}] $fps} last]
        || abs($last) == Inf} {
    ::morvakine::usage_error $program "--time and --fps take the clock past any number by frame [expr {$first + $frames}]"
}
set plugin [::morvakine::plugin_option $program $options]
::morvakine::load_plugin $program $libdir $plugin
if {[dict get $options --check]} {
    set said [dict create format [dict get $format format] kind $kind \
        joinable [dict get $row joinable] extension [dict get $row extension] \
        target [dict get $format target]]
    foreach key {before field after} {
        if {[dict exists $format $key]} {
            dict set said $key [dict get $format $key]
        }
    }
    if {[catch {puts -nonewline [join $said \0]\0; flush stdout} message]} {
        ::morvakine::fail $program "cannot write to standard output: $message"
    }
    exit 0
}

# Without a usable driver Mesa's EGL prints warnings of its own; the one
# line below already says what failed. EGL_LOG_LEVEL=warning shows them.
if {![info exists env(EGL_LOG_LEVEL)]} {
    set env(EGL_LOG_LEVEL) fatal
}
::morvakine::draw_with_samples $program $options [list zelkori::offscreen $width $height]
::model::setup
::morvakine::apply_controls $program $options
::model::resize $width $height
::morvakine::imply_manual $options
# The picture's framing: the one asked for, or what the frames draw, all
# of a run's frames together.
if {[info exists view]} {
    set framing [dict create zoom [lindex $view 0] x [lindex $view 1] y [lindex $view 2]]
} elseif {$kind eq "page" && ![dict get $options --plugin-camera]} {
    # A page plays on and turns under the pointer: framed as the viewer
    # opens, around all it draws over the 15 s of a turn (60 readings), at
    # any angle.
    set framing [zelkori::fit -turns 1 -times [::zelkori::run_times [dict get $options --time] 0 60 4]]
} elseif {![dict get $options --plugin-camera]} {
    set span [expr {[info exists run] ? [list 0 $run] : [list $first $frames]}]
    set framing [zelkori::fit -times [::zelkori::run_times [dict get $options --time] {*}$span $fps]]
}
if {[info exists framing]} {
    zelkori::frame [dict get $framing zoom] [dict get $framing x] [dict get $framing y]
}
# What a movie's frames show goes into its tag, so that morvakine-join
# refuses slices of another picture; not --first or --frames, in which
# slices differ.
if {$kind eq "movie"} {
    set shows [list "--time [expr {double([dict get $options --time])}]"]
    foreach {control setting} [dict get $options --set] {
        lappend shows "--set $control=$setting"
    }
    if {[dict get $options --manual]} {
        lappend shows --manual
    }
    if {[info exists framing]} {
        lappend shows "--view [join [lmap key {zoom x y} {format %.17g [dict get $framing $key]}] ,]"
    }
    lappend shows {*}$look
    if {$plugin ne ""} {
        if {[catch {set chan [open $plugin rb]; set code [read $chan]; close $chan} message]} {
            ::morvakine::fail $program "cannot read the plug-in $plugin: $message"
        }
        lappend shows "--plugin [file tail $plugin] crc32 [format %08x [zlib crc32 $code]]"
    }
    regsub -all {[[:cntrl:]]} [join $shows ", "] ? tag
    set writer [::morvakine::output $program open $output [concat $params [list -tag $tag]]]
}
# One loop for every format: frame k shows the clock at --time + k/fps and
# goes to the writer, which encodes in the background where it can (a
# failure then surfaces at a later frame or at the end).
# Progress on a terminal only: frames done, rate, time left.
# MORVAKINE_PROGRESS=1 asks for it in a log too (a farm's slices), once
# a second.
set every 200
if {[info exists env(MORVAKINE_PROGRESS)] && $env(MORVAKINE_PROGRESS) eq "1"} {
    set progress [expr {$frames > 1}]
    set every 1000
} else {
    set progress [expr {$frames > 1 && ![catch {exec test -t 2 2>@ stderr}]}]
}
set began [clock milliseconds]
set shown 0
set start [dict get $options --time]
for {set k $first} {$k < $first + $frames} {incr k} {
    zelkori::clock set [::zelkori::frame_time $start $k $fps]
    ::model::redraw
    if {[catch {zelkori::output add $writer} message]} {
        ::morvakine::fail $program $message
    }
    set now [clock milliseconds]
    if {$progress && ($now - $shown >= $every || $k == $first + $frames - 1)} {
        set shown $now
        set done [expr {$k - $first + 1}]
        set rate [expr {$done * 1000.0 / max(1, $now - $began)}]
        puts -nonewline stderr [format "\r%s: frame %d of %d, %.0f frames/s, %.0f s left " \
            $program $done $frames $rate [expr {($frames - $done) / $rate}]]
        flush stderr
        set ::morvakine::line_open 1
    }
}
if {[catch {zelkori::output close $writer} message]} {
    ::morvakine::fail $program $message
}
if {$progress} {
    puts stderr ""
}
exit 0
