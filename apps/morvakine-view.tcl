# morvakine-view: the figure live in a window, steered from the control
# panel the plug-in declares. Run through the launcher, which sets
# MORVAKINE_LIBDIR.

set program morvakine-view
set here [file dirname [file normalize [info script]]]
source [file join $here options.tcl]

# Tuning constants: times in milliseconds, angles in degrees, lengths in
# pixels.
namespace eval ::viewer {
    variable tuning [dict create \
        orbit_degrees_per_pixel 0.5 \
        fps_period_ms 500 \
        readout_period_ms 100 \
        speed_low 0.25 \
        speed_high 4.0 \
        speed_step 0.25 \
        slider_length 200 \
        slider_width 11]

    variable togl .view
    variable panel .side.panel
    variable frames 0          ;# frames drawn since start
    variable shot {}           ;# file to save with the next frame
    variable shot_result {}    ;# {code message} of the last save
    variable value             ;# array: control id -> widget value
    variable drag {}           ;# {x y x-view z-view} where a drag began
    variable meter {}          ;# {milliseconds frames} where fps counting began
    variable fps_text {}
    variable message {}
    variable readout_ms 0
    variable play_label Pause
    variable speed 1.0
    variable time_text 0.00
}

set help {Usage: morvakine-view [options]
Shows the animated figure in a window, with its control panel on the right.

  --size WxH        drawing area in pixels (default 800x600)
  --time T          clock time to start from, in seconds (default 0)
  --paused          start with the clock stopped
  --set ID=VALUE    set a control by id or label, e.g. --set 1=300 or
                    --set "x view=300"; sliders clamp to their range (repeatable)
  --manual          tick "manual control": pose from the sliders, not the clock
  --screenshot FILE
                    draw one frame at these settings, save it as PNG, exit
  --bench SECONDS   run for SECONDS (playing unless --paused), print
                    "frames N seconds S fps F", exit
  --eval FILE       source a Tcl script once the window is up (automation)
  --help            show this text
  --version         show the version

In the window: drag with the left button to orbit (moves "x view" and
"z view"), space plays or pauses, s saves a screenshot named with the clock
time in the current directory, e (or "Export scene") saves the pose as a
glTF scene named the same way, Escape or q quits.

Without a display, morvakine-render draws the figure headless.
Exit status: 0 done, 2 bad usage, 1 failure while running.}

set accepted {--size size --time number --paused flag --set set --manual flag
              --screenshot string --bench number --eval string --help flag
              --version flag}
set defaults {--size {800 600} --time 0.0 --paused 0 --manual 0 --help 0 --version 0}
set options [::morvakine::parse_options $program $argv $accepted $defaults]
if {[dict get $options --help]} {
    puts $help
    exit 0
}
if {[dict get $options --version]} {
    ::morvakine::show_version $program $here
}
if {[dict exists $options --bench] && [dict get $options --bench] <= 0} {
    ::morvakine::usage_error $program "--bench must be above 0, got \"[dict get $options --bench]\""
}
if {[dict exists $options --screenshot]} {
    if {[dict exists $options --bench]} {
        ::morvakine::usage_error $program "--screenshot and --bench cannot be combined"
    }
    if {[dict get $options --screenshot] eq ""} {
        ::morvakine::usage_error $program "--screenshot needs a file name"
    }
}
if {[dict exists $options --eval] && ![file readable [dict get $options --eval]]} {
    ::morvakine::fail $program "cannot read the script \"[dict get $options --eval]\""
}

# Tk reads its own options from argv; everything there has been handled.
set argv {}
set argc 0
if {[catch {package require Tk} message]} {
    ::morvakine::fail $program "cannot open a window ($message); morvakine-render draws the figure without a display"
}
if {[catch {package require Togl 2.0} message]} {
    ::morvakine::fail $program "cannot load the Togl 2.0 OpenGL widget (Debian package libtogl2): $message"
}
set libdir [expr {[info exists env(MORVAKINE_LIBDIR)] ? $env(MORVAKINE_LIBDIR) : $here}]
::morvakine::load_plugin $program $libdir
if {[dict exists $options --screenshot]} {
    ::morvakine::check_output $program --screenshot [dict get $options --screenshot]
}

proc ::viewer::tune {key} {
    variable tuning
    return [dict get $tuning $key]
}

# ---- control panel: one widget per control, made as the plug-in declares

proc ::viewer::add_control {id} {
    variable panel
    variable value
    set w $panel.c$id
    if {[winfo exists $w]} {
        return
    }
    set info [zelkori::control info $id]
    set value($id) [dict get $info value]
    if {[dict get $info kind] eq "checkbox"} {
        checkbutton $w -text [dict get $info label] -anchor w -takefocus 0 \
            -variable ::viewer::value($id)
    } else {
        scale $w -orient horizontal -label [dict get $info label] \
            -from [dict get $info low] -to [dict get $info high] \
            -resolution [dict get $info step] -showvalue 1 -takefocus 0 \
            -length [tune slider_length] -width [tune slider_width] \
            -variable ::viewer::value($id)
    }
    pack $w -side top -fill x
    trace add variable value($id) write [list ::viewer::control_changed $id]
}

proc ::viewer::control_changed {id args} {
    variable value
    zelkori::control set $id $value($id)
    request_redraw
}

# Brings the widgets in line with the host's values (after --set).
proc ::viewer::sync_panel {} {
    variable value
    foreach control [zelkori::control list] {
        set id [dict get $control id]
        if {[info exists value($id)] && $value($id) != [dict get $control value]} {
            set value($id) [dict get $control value]
        }
    }
}

# ---- drawing

proc ::viewer::request_redraw {} {
    variable togl
    if {[winfo exists $togl]} {
        $togl postredisplay
    }
}

proc ::viewer::reshape {w} {
    # A squeezed or unmapped window can report no area at all; the
    # projection needs at least a pixel each way.
    ::model::resize [expr {max(1, [$w cget -width])}] [expr {max(1, [$w cget -height])}]
}

proc ::viewer::display {w} {
    variable frames
    variable shot
    variable shot_result
    ::model::redraw
    incr frames
    if {$shot ne ""} {
        # Read before the swap: the back buffer still holds this frame, while
        # the front buffer reads back black here.
        set shot_result [list [catch {zelkori::save $shot} result] $result]
        if {[lindex $shot_result 0] == 0} {
            set result "saved [file normalize [::morvakine::literal $shot]]"
        }
        set shot {}
        show_message $result
    }
    $w swapbuffers
    if {[zelkori::clock playing]} {
        # Postredisplay from inside the display callback is dropped by Togl,
        # and `after 0` starves its idle redraw: queue the next frame as idle
        # work so that events still get through between frames.
        after idle ::viewer::request_redraw
        if {[clock milliseconds] - $::viewer::readout_ms >= [tune readout_period_ms]} {
            update_readouts
        }
    }
}

# Draws one frame now, saving it to `file` when given; a failed save is an
# error of this command.
proc ::viewer::draw_now {{file {}}} {
    variable togl
    variable shot
    variable shot_result
    set shot $file
    set shot_result {}
    $togl render
    if {$file ne "" && [lindex $shot_result 0] != 0} {
        return -code error [lindex $shot_result 1]
    }
}

proc ::viewer::screenshot {} {
    variable shot
    set shot [file join [pwd] [format morvakine-%.2f.png [zelkori::clock get]]]
    request_redraw
}

# Saves the pose on screen as a binary glTF scene in the current directory.
proc ::viewer::export_scene {} {
    variable togl
    set file [file join [pwd] [format morvakine-%.2f.glb [zelkori::clock get]]]
    $togl makecurrent
    if {[catch {zelkori::scene $file} result] == 0} {
        set result "saved [file normalize $file]"
    }
    show_message $result
    # The capture cleared the back buffer without drawing into it.
    request_redraw
}

# ---- clock, readouts and status line

proc ::viewer::set_playing {on} {
    variable play_label
    variable meter
    variable fps_text
    after cancel ::viewer::measure_fps
    if {$on} {
        zelkori::clock play
        set play_label Pause
        set meter [list [clock milliseconds] $::viewer::frames]
        set fps_text "measuring"
        after [tune fps_period_ms] ::viewer::measure_fps
    } else {
        zelkori::clock pause
        set play_label Play
        set fps_text paused
    }
    update_readouts
    if {$on} {
        request_redraw
    }
}

proc ::viewer::toggle_play {} {
    set_playing [expr {![zelkori::clock playing]}]
}

proc ::viewer::measure_fps {} {
    variable meter
    variable frames
    variable fps_text
    lassign $meter start counted
    set now [clock milliseconds]
    if {$now > $start} {
        set fps_text [format "%.1f fps" [expr {($frames - $counted) * 1000.0 / ($now - $start)}]]
    }
    set meter [list $now $frames]
    update_readouts
    after [tune fps_period_ms] ::viewer::measure_fps
}

proc ::viewer::show_message {text} {
    variable message
    set message $text
    update_readouts
}

proc ::viewer::update_readouts {} {
    variable time_text
    variable fps_text
    variable message
    variable readout_ms [clock milliseconds]
    set now [zelkori::clock get]
    # Leave the entry alone while someone is typing in it.
    if {[focus] ne ".side.clock.time"} {
        set time_text [format %.2f $now]
    }
    set status [format "time %.2f s  |  speed x%g  |  %s" $now [zelkori::clock speed] $fps_text]
    if {$message ne ""} {
        append status "  |  $message"
    }
    .status configure -text $status
}

proc ::viewer::apply_time {} {
    variable time_text
    variable togl
    if {[string is double -strict $time_text] && ![catch {zelkori::clock set $time_text}]} {
        show_message {}
        request_redraw
    } else {
        show_message "time must be a number of seconds, got \"$time_text\""
    }
    focus $togl
    update_readouts
}

proc ::viewer::speed_changed {args} {
    variable speed
    zelkori::clock speed $speed
    update_readouts
}

# ---- orbiting with the mouse

proc ::viewer::view_id {label} {
    if {[catch {zelkori::control info $label} info]} {
        return {}
    }
    return [dict get $info id]
}

proc ::viewer::orbit_start {x y} {
    variable drag
    variable value
    set drag {}
    set ids [list [view_id "x view"] [view_id "z view"]]
    foreach id $ids {
        if {$id eq "" || ![info exists value($id)]} {
            return
        }
    }
    set drag [list $x $y $value([lindex $ids 0]) $value([lindex $ids 1])]
}

proc ::viewer::orbit_move {x y} {
    variable drag
    variable value
    if {$drag eq ""} {
        return
    }
    lassign $drag x0 y0 tilt turn
    set rate [tune orbit_degrees_per_pixel]
    set value([view_id "x view"]) [wrap_degrees [expr {$tilt + ($y - $y0) * $rate}] "x view"]
    set value([view_id "z view"]) [wrap_degrees [expr {$turn + ($x - $x0) * $rate}] "z view"]
}

# An angle brought into 0..360 and onto the control's step.
proc ::viewer::wrap_degrees {angle label} {
    set step [dict get [zelkori::control info $label] step]
    set angle [expr {fmod($angle, 360.0)}]
    if {$angle < 0} {
        set angle [expr {$angle + 360.0}]
    }
    set angle [expr {round($angle / $step) * $step}]
    return [expr {$angle >= 360.0 ? 0.0 : $angle}]
}

# ---- keys

proc ::viewer::key {action} {
    set w [focus]
    if {$w ne "" && [winfo class $w] in {Entry TEntry}} {
        return
    }
    switch -- $action {
        play { toggle_play }
        shot { screenshot }
        export { export_scene }
        quit { exit 0 }
    }
}

# Errors in callbacks go to stderr and the status line: a dialog per frame
# would bury the window.
proc ::viewer::background_error {message options} {
    puts stderr "$::program: $message"
    catch {show_message "error: $message"}
}

# ---- the window

proc ::viewer::build {width height} {
    variable togl
    variable panel
    wm title . morvakine
    wm protocol . WM_DELETE_WINDOW {exit 0}
    interp bgerror {} ::viewer::background_error

    ttk::label .status -anchor w -width 1
    frame .side
    ttk::labelframe $panel -text model
    ttk::labelframe .side.clock -text clock
    ttk::button .side.clock.play -textvariable ::viewer::play_label -width 6 \
        -takefocus 0 -command ::viewer::toggle_play
    scale .side.clock.speed -orient horizontal -label speed -takefocus 0 \
        -from [tune speed_low] -to [tune speed_high] -resolution [tune speed_step] \
        -length [tune slider_length] -width [tune slider_width] \
        -variable ::viewer::speed
    ttk::label .side.clock.label -text "time (s)"
    ttk::entry .side.clock.time -width 10 -textvariable ::viewer::time_text
    bind .side.clock.time <Return> ::viewer::apply_time
    bind .side.clock.time <KP_Enter> ::viewer::apply_time
    bind .side.clock.time <Escape> {focus $::viewer::togl; ::viewer::update_readouts; break}
    ttk::button .side.export -text "Export scene" -takefocus 0 \
        -command ::viewer::export_scene
    grid .side.clock.play - -sticky w
    grid .side.clock.speed - -sticky ew
    grid .side.clock.label .side.clock.time -sticky w
    pack $panel .side.clock -side top -fill x -padx 4 -pady 2
    pack .side.export -side top -anchor w -padx 4 -pady 2
    trace add variable ::viewer::speed write ::viewer::speed_changed

    togl $togl -width $width -height $height -rgba true -double true -depth true \
        -reshapecommand ::viewer::reshape -displaycommand ::viewer::display
    pack .status -side bottom -fill x
    pack .side -side right -fill y
    pack $togl -side left -fill both -expand 1

    bind $togl <ButtonPress-1> {focus %W; ::viewer::orbit_start %x %y}
    bind $togl <B1-Motion> {::viewer::orbit_move %x %y}
    bind $togl <ButtonRelease-1> {set ::viewer::drag {}}
    bind . <KeyPress-space> {::viewer::key play}
    bind . <KeyPress-s> {::viewer::key shot}
    bind . <KeyPress-e> {::viewer::key export}
    bind . <KeyPress-q> {::viewer::key quit}
    bind . <KeyPress-Escape> {::viewer::key quit}
}

# The panel would stretch a short drawing area to its own height: keep its
# width but let the drawing area alone decide the window's height.
proc ::viewer::fix_side_width {} {
    update idletasks
    set width [winfo reqwidth .side]
    pack propagate .side 0
    .side configure -width $width -height 1
}

proc ::viewer::finish_bench {start counted} {
    variable frames
    set seconds [expr {([clock milliseconds] - $start) / 1000.0}]
    set drawn [expr {$frames - $counted}]
    puts [format "frames %d seconds %.2f fps %.1f" $drawn $seconds [expr {$drawn / $seconds}]]
    exit 0
}

lassign [dict get $options --size] width height
::viewer::build $width $height

# The panel follows the plug-in's declarations, in their order; controls
# declared again make no new widget.
zelkori::control ondeclare ::viewer::add_control
::model::setup
::morvakine::apply_controls $program $options
::viewer::sync_panel
::viewer::fix_side_width

zelkori::clock set [dict get $options --time]
# --bench counts frames as the viewer runs: playing, or paused with
# --paused, where nothing should be drawn once the window is up.
set playing [expr {![dict get $options --paused]}]
if {[dict exists $options --screenshot]} {
    set playing 0
}

tkwait visibility $::viewer::togl
update
::viewer::set_playing $playing
focus $::viewer::togl

if {[dict exists $options --screenshot]} {
    if {[catch {::viewer::draw_now [dict get $options --screenshot]} message]} {
        ::morvakine::fail $program $message
    }
    exit 0
}
if {[dict exists $options --bench]} {
    after [expr {int(ceil([dict get $options --bench] * 1000))}] \
        [list ::viewer::finish_bench [clock milliseconds] $::viewer::frames]
}
if {[dict exists $options --eval]} {
    if {[catch {uplevel #0 [list source [dict get $options --eval]]} message]} {
        ::morvakine::fail $program "error in [dict get $options --eval]: $::errorInfo"
    }
}
vwait forever
