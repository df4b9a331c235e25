# The window's core: drawing, the clock, the status line and the layout.

# Tuning constants: times in milliseconds, angles in degrees, lengths in
# pixels.
namespace eval ::viewer {
    variable tuning [dict create \
        orbit_degrees_per_pixel 0.5 \
        fps_period_ms 500 \
        readout_period_ms 100 \
        speed_low 0.25 \
        speed_high 4.0 \
        speed_step 0.25]

    variable gl .view              ;# the drawing area
    variable side .side            ;# the panel with its scroll bar
    variable panel {}              ;# the plug-in's controls, set by build_panel
    variable frames 0              ;# frames drawn since start
    variable updating 0            ;# depth of `update` calls under way
    variable frame_due 0           ;# the next frame of play is scheduled
    variable shot {}               ;# file to save with the next frame
    variable shot_result {}        ;# {code message} of the last save
    variable shot_output {}        ;# --screenshot's output, opened at the start
    variable value                 ;# array: control id -> widget value
    variable meter {}              ;# {milliseconds frames} where fps counting began
    variable fps_text {}
    variable message {}
    variable readout_ms 0
    variable play_label Pause
    variable speed 1.0
    variable time_text 0.00
    variable drawn_size {0 0}      ;# the drawing area's size, as last reshaped
    variable samples {}            ;# -samples N from --samples, or the host's default
    variable picture {}            ;# --samples and --background as given, for commands
}

proc ::viewer::tune {key} {
    variable tuning
    return [dict get $tuning $key]
}

# ---- drawing

proc ::viewer::request_redraw {} {
    variable gl
    if {[winfo exists $gl]} {
        $gl postredisplay
    }
}

# The drawing area took a new size; it draws again next.
proc ::viewer::reshape {w width height} {
    variable drawn_size
    # A squeezed or unmapped window can report no area at all; the
    # projection needs at least a pixel each way.
    set size [list [expr {max(1, $width)}] [expr {max(1, $height)}]]
    if {$size ne $drawn_size} {
        set drawn_size $size
        refit
        size_changed
    }
    draw_into
    project
}

# Draws into the host's framebuffer of the drawing area's size, multisampled
# as the renderer's, so that both show one picture; zelkori::finish puts
# each frame on the window.
proc ::viewer::draw_into {} {
    variable drawn_size
    variable samples
    if {[catch {zelkori::target {*}$drawn_size {*}$samples} message]} {
        fail $message
    }
}

# Sets the projection for the drawing area: the plug-in's, then the view's
# zoom and pan around it. Needs the window's context current.
proc ::viewer::project {} {
    variable drawn_size
    ::model::resize {*}$drawn_size
    view_transform
}

proc ::viewer::display {w} {
    variable frames
    variable shot
    variable shot_result
    if {$::viewer::fit_due} {
        project
    }
    timeline::keep_in_range
    ::model::redraw
    zelkori::finish
    incr frames
    # Read before the swap: the back buffer still holds this frame, while
    # the front buffer reads back black here.
    take_frame
    if {$shot ne ""} {
        set shot_result [list [catch {save_shot $shot} result] $result]
        if {[lindex $shot_result 0] == 0} {
            set result "saved [file normalize [::morvakine::literal $shot]]"
        }
        set shot {}
        show_message $result
    }
    $w swapbuffers
    if {[zelkori::clock playing]} {
        # The next frame comes from a timer set once the idle work this one
        # left is done. A chain of idle work alone never lets the idle queue
        # run dry, which Tk waits for before it maps a new toplevel (the
        # list of keys would never appear, and nothing else would run); a
        # chain of timers due at once would starve the idle work (widgets
        # redrawn, geometry). Inside `update` the timer waits a
        # millisecond, so that update finds nothing due and returns.
        if {!$::viewer::frame_due} {
            set ::viewer::frame_due 1
            after idle [list after [expr {$::viewer::updating ? 1 : 0}] ::viewer::next_frame]
        }
        if {[clock milliseconds] - $::viewer::readout_ms >= [tune readout_period_ms]} {
            update_readouts
        }
    }
}

proc ::viewer::next_frame {} {
    variable gl
    set ::viewer::frame_due 0
    if {[zelkori::clock playing] && [winfo exists $gl]} {
        $gl render
    }
}

# `update` in an --eval script (or anywhere) returns while playing: see
# ::viewer::display.
rename update ::viewer::update_now
proc update {args} {
    incr ::viewer::updating
    try {
        ::viewer::update_now {*}$args
    } finally {
        incr ::viewer::updating -1
    }
}

# Writes the frame drawn to `file`: through the output opened for it
# (--screenshot's), or as a save.
proc ::viewer::save_shot {file} {
    variable shot_output
    if {$shot_output eq ""} {
        zelkori::save $file
        return
    }
    set handle $shot_output
    set shot_output {}
    if {[catch {zelkori::output add $handle} message options]} {
        zelkori::output abort $handle
        return -options $options $message
    }
    zelkori::output close $handle
}

# Draws one frame now, saving it to `file` when given; a failed save is an
# error of this command.
proc ::viewer::draw_now {{file {}}} {
    variable gl
    variable shot
    variable shot_result
    set shot $file
    set shot_result {}
    $gl render
    if {$file ne "" && [lindex $shot_result 0] != 0} {
        return -code error [lindex $shot_result 1]
    }
}

# A number as a person types it: the shortest decimal that reads back as
# the same double (0.1, -5.2, 3), never 0.10000000000000001 or 3.0.
proc ::viewer::number {value} {
    set value [expr {double($value)}]
    if {$value == 0} {
        return 0
    }
    # Tcl writes a double as the shortest string that reads back the same.
    regsub {\.0$} $value {} value
    return $value
}

# The name of a file for the clock reading `seconds`: morvakine-2.5.png,
# and morvakine-t-5.2.png before zero (no double dash).
proc ::viewer::clock_name {seconds extension} {
    set text [number $seconds]
    return [expr {$seconds < 0 ? "morvakine-t$text$extension" : "morvakine-$text$extension"}]
}

# A file name in the current directory made from the clock time, to the
# hundredth the readouts show.
proc ::viewer::timed_name {extension} {
    set seconds [expr {round([zelkori::clock get] * 100) / 100.0}]
    return [file join [pwd] [clock_name $seconds $extension]]
}

# The extension of the host library's first format of `kind` (still,
# sequence, movie, scene): what quick saves and dialogs offer first.
proc ::viewer::first_extension {kind} {
    foreach format [zelkori::formats] {
        if {[dict get $format kind] eq $kind && ![dict get $format stdout]} {
            return [dict get $format extension]
        }
    }
    error "the host library has no $kind format"
}

# Saves the next frame drawn as a still image named `file` (PNG, JPEG).
proc ::viewer::save_frame {{file {}}} {
    variable shot
    set shot [expr {$file eq "" ? [timed_name [first_extension still]] : $file}]
    request_redraw
}

# Saves the pose on screen as a glTF scene, binary unless the name ends in
# .gltf; with `frames` above 1, an animation of that many frames from the
# clock shown on, at the timeline's rate.
proc ::viewer::export_scene {{file {}} {frames 1}} {
    variable gl
    if {$file eq ""} {
        set file [timed_name [first_extension scene]]
    }
    $gl makecurrent
    set fps [timeline::fps]
    if {[catch {zelkori::scene $file -frames $frames -fps $fps} result] == 0} {
        set result "saved [file normalize [::morvakine::literal $file]] ([expr {$frames == 1
            ? "this pose" : "an animation of $frames frames at [number $fps] fps"}])"
    }
    show_message $result
    # The capture cleared the back buffer without drawing into it.
    request_redraw
}

# ---- clock, readouts and status line

# Plays or pauses what the window shows. While recording the clock is
# stepped frame by frame and only the recording learns of the change.
proc ::viewer::set_playing {on} {
    variable play_label
    variable meter
    variable fps_text
    after cancel ::viewer::measure_fps
    set play_label [expr {$on ? "Pause" : "Play"}]
    if {[recording]} {
        record_play $on
    } elseif {$on} {
        zelkori::clock play
        start_meter
    } else {
        zelkori::clock pause
        set fps_text paused
    }
    timeline::playing_changed $on
    update_readouts
    if {$on} {
        request_redraw
    }
}

# Frames a second are counted from here on.
proc ::viewer::start_meter {} {
    variable meter [list [clock milliseconds] $::viewer::frames]
    variable fps_text "measuring"
    after cancel ::viewer::measure_fps
    after [tune fps_period_ms] ::viewer::measure_fps
}

proc ::viewer::playing {} {
    expr {[recording] ? [record_playing] : [zelkori::clock playing] || [timeline::reversing]}
}

proc ::viewer::toggle_play {} {
    set_playing [expr {![playing]}]
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

# `text` on one line, cut with an ellipsis to fit `pixels` in `font`.
proc ::viewer::ellipsize {text font pixels} {
    set text [lindex [split [string trim $text] \n] 0]
    if {[font measure $font $text] <= $pixels} {
        return $text
    }
    # Halve the range that fits until one character decides it.
    set low 0
    set high [string length $text]
    while {$low < $high} {
        set mid [expr {($low + $high + 1) / 2}]
        if {[font measure $font "[string range $text 0 $mid-1]…"] <= $pixels} {
            set low $mid
        } else {
            set high [expr {$mid - 1}]
        }
    }
    return "[string trimright [string range $text 0 $low-1]]…"
}

proc ::viewer::update_readouts {} {
    variable time_text
    variable fps_text
    variable message
    variable readout_ms [clock milliseconds]
    set now [zelkori::clock get]
    # Leave the entry alone while someone is typing in it.
    if {[focus] ne $::viewer::time_entry} {
        set time_text [format %.2f $now]
    }
    set status [format "time %.2f s  ·  speed ×%g  ·  %s" $now [zelkori::clock speed] \
        [expr {[recording] ? ([record_playing] ? "recording" : "paused")
               : [timeline::reversing] ? "backward, $fps_text" : $fps_text}]]
    if {$message ne ""} {
        set room [expr {[winfo width .status] - [font measure TkDefaultFont "$status  ·  "]
                        - [px 12]}]
        append status "  ·  " [ellipsize $message TkDefaultFont [expr {max($room, 40)}]]
    }
    .status.text configure -text $status
    update_title
    timeline::show
}

proc ::viewer::apply_time {} {
    variable time_text
    variable gl
    if {![catch {::morvakine::decimal $time_text} seconds]} {
        zelkori::clock set $seconds
        timeline::page $seconds
        show_message {}
        request_redraw
    } else {
        show_message "time must be a number of seconds, got \"$time_text\""
    }
    focus $gl
    update_readouts
}

proc ::viewer::speed_changed {args} {
    variable speed
    # The slider moves freely; the clock takes whole steps.
    set step [tune speed_step]
    set speed [expr {max([tune speed_low], round($speed / $step) * $step)}]
    zelkori::clock speed $speed
    variable speed_shown [format ×%g $speed]
    update_readouts
}

# Errors in callbacks go to stderr and the status line: a dialog per frame
# would bury the window.
proc ::viewer::background_error {message options} {
    puts stderr "$::program: [expr {[info exists ::env(MORVAKINE_DEBUG)] ? [dict get $options -errorinfo] : $message}]"
    catch {show_message "error: $message"}
}

# ---- the window

proc ::viewer::build {width height} {
    variable gl
    variable side
    wm title . morvakine
    wm protocol . WM_DELETE_WINDOW ::viewer::quit
    reset_view
    set_icon
    # An X error Tk does not expect (drawing into a window another client
    # destroyed, say) ends the viewer in one line rather than in Xlib's
    # report. Without the guard's library the viewer runs unguarded.
    set guard [file join $::zelkori::library xerrors.so]
    if {[file exists $guard] && ![catch {load $guard Xerrors}]} {
        ::viewer::on_x_error {apply {{text} {
            ::viewer::fail "lost the window: X error $text"
        }}} {::viewer::fail "lost the connection to the X server"}
        ::viewer::on_signal ::viewer::signalled
    }
    # Exiting destroys the window too, but runs no more idle work.
    bind . <Destroy> {
        if {"%W" eq "."} {
            after idle ::viewer::window_destroyed
        }
    }
    interp bgerror {} ::viewer::background_error

    ttk::frame .status
    ttk::label .status.text -style Status.TLabel -anchor w -width 1
    ttk::label .status.recording -style Recording.TLabel
    pack .status.text -side left -fill x -expand 1
    build_panel
    build_menus

    if {[catch {zelkori::glwidget $gl -width $width -height $height \
            -reshapecommand ::viewer::reshape -displaycommand ::viewer::display} message]} {
        ::morvakine::fail $::program "cannot open an OpenGL window: [lindex [split $message \n] 0]"
    }
    pack .status -side bottom -fill x
    pack [ttk::separator .rule] -side bottom -fill x
    pack $side -side right -fill y
    pack $gl -side left -fill both -expand 1
    # The drawing area's X window destroyed by another client: the widget
    # draws no more, and the viewer ends.
    bind $gl <<WindowLost>> {
        ::viewer::fail "lost the window: the drawing area was destroyed by another X client"
    }
    bind_navigation $gl
    bind_keys
}

# A window bigger than the screen would put the panel and the status line
# out of reach: the drawing area gives way until the window, its menu bar
# and a margin for the desktop's title bar and panels fit the screen.
proc ::viewer::fit_screen {} {
    variable gl
    update idletasks
    set over_x [expr {[winfo reqwidth .] - ([winfo screenwidth .] - [px 12])}]
    set over_y [expr {[winfo reqheight .] + [winfo reqheight .menubar]
                      - ([winfo screenheight .] - [px 60])}]
    if {$over_x <= 0 && $over_y <= 0} {
        return
    }
    set width [expr {max([px 120], [$gl cget -width] - max(0, $over_x))}]
    set height [expr {max([px 90], [$gl cget -height] - max(0, $over_y))}]
    $gl configure -width $width -height $height
    show_message "drawing area ${width}x$height, to fit the screen"
}

# The window's icon, from the installed icon theme or the source tree.
proc ::viewer::set_icon {} {
    set name morvakine-view.png
    foreach candidate [list [file join $::here .. icons hicolor 256x256 apps $name] \
                           [file join $::here .. packaging $name]] {
        if {[file readable $candidate]
                && ![catch {image create photo ::viewer::icon -file $candidate}]} {
            wm iconphoto . -default ::viewer::icon
            return
        }
    }
}

# Quits, asking first while a recording runs (the recording is then
# finished with the frames it has).
proc ::viewer::quit {} {
    if {[recording] && [tk_messageBox -parent . -title "Quit morvakine-view" -icon question \
            -type okcancel -default cancel -message "Stop recording and quit?" \
            -detail "The recording is saved with the frames it has."] ne "ok"} {
        return
    }
    exit 0
}

# `destroy .` from a script closes the viewer as quitting does; the window
# destroyed by another X client is a failure.
rename destroy ::viewer::destroy_now
proc destroy {args} {
    if {"." in $args} {
        set ::viewer::closing 1
    }
    ::viewer::destroy_now {*}$args
}

proc ::viewer::window_destroyed {} {
    if {[info exists ::viewer::closing]} {
        exit 0
    }
    fail "the window was destroyed by another X client"
}

proc ::viewer::finish_bench {start counted} {
    variable frames
    set seconds [expr {([clock milliseconds] - $start) / 1000.0}]
    set drawn [expr {$frames - $counted}]
    # Run from a timer: a failed write would otherwise be a background
    # error, and the viewer would go on.
    if {[catch {
        puts [format "frames %d seconds %.2f fps %.1f" $drawn $seconds [expr {$drawn / $seconds}]]
        flush stdout
    } message]} {
        ::morvakine::fail $::program $message
    }
    exit 0
}
