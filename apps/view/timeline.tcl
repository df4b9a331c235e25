# The timeline under the picture: a time bar over a range of the clock,
# the clock and the frame number at the recording rate, stepping by a
# frame, playing backward, and looping or ping-ponging over the range, or
# playing on with the bar's span following the clock a length at a time.
#
# Frames are numbered as the renderer numbers them: frame k shows the clock
# at origin + k / fps, where the origin is the viewer's --time and the rate
# its --fps (the recording's), so `morvakine-render --time ORIGIN --fps FPS
# --first K` draws the frame the bar shows as K.

namespace eval ::viewer::timeline {
    variable origin 0.0            ;# the clock reading of frame 0
    variable first 0.0             ;# the range the bar spans, in seconds
    variable last 15.0
    variable mode loop             ;# off (play on), loop or bounce (ping-pong) over the range
    variable reverse 0             ;# playing backward
    variable position 0.0          ;# the bar's value
    variable readout {}
    variable tick_ms 15
    variable ticked 0              ;# wall-clock milliseconds of the last tick
    # A plug-in may name its animation's period in ::model::period; the
    # figure's own turns once in 15 s.
    variable default_period 15.0
}

proc ::viewer::timeline::build {start fps} {
    variable origin
    variable first
    variable last
    variable default_period
    set ::viewer::record_fps [expr {double($fps)}]
    set origin [expr {double($start)}]
    set period [expr {[info exists ::model::period] && [string is double -strict $::model::period]
                      && $::model::period > 0 ? $::model::period : $default_period}]
    set first $origin
    set last [expr {$origin + $period}]
    set bar [ttk::frame .timeline -padding [list [::viewer::px 6] [::viewer::px 2]]]
    foreach {name text command} {
        back ◀ {::viewer::timeline::play_backward}
        previous |◀ {::viewer::timeline::step -1}
        next ▶| {::viewer::timeline::step 1}
    } {
        ttk::button $bar.$name -text $text -width 3 -command $command
    }
    ttk::scale $bar.bar -orient horizontal -from $first -to $last -length [::viewer::px 120] \
        -variable ::viewer::timeline::position -command ::viewer::timeline::seek
    # On the bar the arrows step a frame, Home and End go to the range's ends.
    foreach {key command} {Left {step -1} Right {step 1} Home {go_end low} End {go_end high}} {
        bind $bar.bar <KeyPress-$key> "::viewer::timeline::$command; break"
    }
    ttk::label $bar.readout -style Value.TLabel -textvariable ::viewer::timeline::readout \
        -width 30 -anchor e
    # Packed before the readout, the bar keeps its length in a narrow
    # window; the readout gives way.
    pack $bar.back $bar.previous $bar.next -side left
    pack $bar.bar -side left -fill x -expand 1 -padx [::viewer::px 6]
    pack $bar.readout -side right
    pack $bar -side bottom -fill x -after .rule
    # The bar takes the window's width and never widens it: the drawing
    # area keeps the size asked for.
    update idletasks
    $bar configure -width 1 -height [winfo reqheight $bar]
    pack propagate $bar 0
    build_menu
    bind_keys
    show
}

# ---- frames

proc ::viewer::timeline::fps {} {
    return $::viewer::record_fps
}

# The clock reading of frame `k`, computed as the renderer computes it.
proc ::viewer::timeline::time_of {k} {
    variable origin
    expr {$origin + double($k) / [fps]}
}

# The frame the clock shows: the last one at or before it.
proc ::viewer::timeline::frame {{seconds {}}} {
    variable origin
    if {$seconds eq ""} {
        set seconds [zelkori::clock get]
    }
    set k [expr {($seconds - $origin) * [fps]}]
    # Far from the origin (--time 1e301 with the clock not yet there) the
    # count overflows: it is held within what a frame number can be.
    set k [expr {max(-1e15, min(1e15, $k))}]
    # Within rounding of a frame's time is that frame.
    if {abs($k - round($k)) < 1e-6} {
        return [expr {entier(round($k))}]
    }
    return [expr {entier(floor($k))}]
}

# The first and last frame of the range.
proc ::viewer::timeline::frames {} {
    variable first
    variable last
    set low [frame $first]
    if {[time_of $low] < $first - 1e-9} {
        incr low
    }
    list $low [frame $last]
}

# Shows frame `k`, clamped to the range unless `clamp` is 0, paused.
proc ::viewer::timeline::go {k {clamp 1}} {
    lassign [frames] low high
    if {$clamp} {
        set k [expr {min(max($k, $low), $high)}]
    }
    if {[::viewer::playing]} {
        ::viewer::set_playing 0
    }
    zelkori::clock set [time_of $k]
    ::viewer::request_redraw
    ::viewer::update_readouts
    return $k
}

# Shows the first (`low`) or last (`high`) frame of the range.
proc ::viewer::timeline::go_end {which} {
    lassign [frames] low high
    go [set $which]
}

# Steps `count` frames (negative: back) from the frame the clock shows;
# off a frame's time, one step back reaches the frame before the clock.
# Playing on, steps go past the range's ends and the bar follows; else a
# step stops at the end of the range it starts in, and from outside the
# range it moves toward it without a jump.
proc ::viewer::timeline::step {{count 1}} {
    variable mode
    set now [zelkori::clock get]
    set k [frame $now]
    if {$count < 0 && [time_of $k] < $now} {
        incr k
    }
    set k [expr {$k + $count}]
    if {$mode eq "off"} {
        ::viewer::set_playing 0
        zelkori::clock set [time_of $k]
        page [time_of $k]
        ::viewer::request_redraw
        ::viewer::update_readouts
        return $k
    }
    lassign [frames] low high
    set from [expr {$k - $count}]
    go [expr {min(max($k, min($low, $from)), max($high, $from))}] 0
}

# The bar moved by hand: the clock follows, onto a frame's time.
proc ::viewer::timeline::seek {seconds} {
    variable origin
    set k [expr {round(($seconds - $origin) * [fps])}]
    lassign [frames] low high
    set k [expr {min(max($k, $low), $high)}]
    zelkori::clock set [time_of $k]
    ::viewer::request_redraw
    ::viewer::update_readouts
}

# The range the bar spans and loops over, in seconds.
proc ::viewer::timeline::range {{from {}} {to {}}} {
    variable first
    variable last
    if {$from ne ""} {
        foreach value [list $from $to] {
            ::morvakine::decimal $value
        }
        if {$to <= $from} {
            error "the range must end after it starts, got $from to $to"
        }
        set first [expr {double($from)}]
        set last [expr {double($to)}]
        .timeline.bar configure -from $first -to $last
        # The picture is framed on the range.
        ::viewer::refit
        ::viewer::request_redraw
        show
    }
    list $first $last
}

# The range moved by whole lengths until it holds `seconds`: where the bar
# goes while playing on, and after the clock is set outside it by hand.
proc ::viewer::timeline::page {seconds} {
    variable first
    variable last
    set length [expr {$last - $first}]
    if {$seconds >= $first && $seconds <= $last} {
        return
    }
    set pages [expr {floor(($seconds - $first) / $length)}]
    range [expr {$first + $pages * $length}] [expr {$last + $pages * $length}]
}

# The range starts or ends at the clock reading.
proc ::viewer::timeline::mark {end} {
    variable first
    variable last
    set now [zelkori::clock get]
    if {$end eq "start"} {
        range $now [expr {$last > $now ? $last : $now + 1.0 / [fps]}]
    } else {
        range [expr {$first < $now ? $first : $now - 1.0 / [fps]}] $now
    }
}

# ---- playing

# Sets how playing treats the range: off (the clock runs on), loop, or
# bounce (ping-pong); `next` cycles them.
proc ::viewer::timeline::loop {{how next}} {
    variable mode
    set modes {loop bounce off}
    if {$how eq "next"} {
        set how [lindex $modes [expr {([lsearch $modes $mode] + 1) % 3}]]
    }
    if {$how ni $modes} {
        error "expected off, loop, bounce or next, got \"$how\""
    }
    set mode $how
    ::viewer::show_message [dict get {off "range: play on" loop "range: loop"
                                      bounce "range: ping-pong"} $mode]
    follow
    return $mode
}

proc ::viewer::timeline::play_backward {} {
    variable reverse
    variable ticked
    if {[::viewer::recording]} {
        ::viewer::show_message "a recording plays forward only"
        return
    }
    set ticked [clock milliseconds]
    turn_backward
    follow
}

# The clock stops running forward and this timeline moves it backward;
# the window says it is playing.
proc ::viewer::timeline::turn_backward {} {
    variable reverse
    ::viewer::set_playing 0
    set reverse 1
    set ::viewer::play_label Pause
    ::viewer::start_meter
    ::viewer::update_readouts
    ::viewer::request_redraw
}

# Called whenever the viewer plays or pauses: playing backward ends, and
# the range is followed while playing.
proc ::viewer::timeline::playing_changed {on} {
    variable reverse 0
    follow
}

# Keeps the tick running while the clock must be moved or watched.
proc ::viewer::timeline::follow {} {
    variable reverse
    variable mode
    after cancel ::viewer::timeline::tick
    if {$reverse || ([zelkori::clock playing] && ![::viewer::recording])} {
        after $::viewer::timeline::tick_ms ::viewer::timeline::tick
    }
}

# Before a frame is drawn: a clock that ran past the range's end since the
# last tick is turned now, so that no frame or readout shows a time outside
# the range however late the tick comes.
proc ::viewer::timeline::keep_in_range {} {
    variable reverse
    variable mode
    variable last
    if {!$reverse && $mode in {loop bounce} && [zelkori::clock playing]
            && ![::viewer::recording] && [zelkori::clock get] > $last} {
        tick
    }
}

# Moves the clock backward, and turns it at the ends of the range.
proc ::viewer::timeline::tick {} {
    variable reverse
    variable mode
    variable first
    variable last
    variable ticked
    set now [clock milliseconds]
    set t [zelkori::clock get]
    set before $t
    if {$reverse} {
        set t [expr {$t - ($now - $ticked) / 1000.0 * [zelkori::clock speed]}]
    }
    set ticked $now
    set length [expr {$last - $first}]
    if {$mode eq "loop" && !$reverse && $t > $last} {
        set t [expr {$first + fmod($t - $first, $length)}]
    } elseif {$mode eq "loop" && $reverse && $t < $first} {
        set t [expr {$last - fmod($first - $t, $length)}]
    } elseif {$mode eq "bounce" && !$reverse && $t > $last} {
        set t [expr {max($first, $last - fmod($t - $last, $length))}]
        turn_backward
    } elseif {$mode eq "bounce" && $reverse && $t < $first} {
        set t [expr {min($last, $first + fmod($first - $t, $length))}]
        set reverse 0
        zelkori::clock set $t
        ::viewer::set_playing 1
        return
    } elseif {$mode eq "off"} {
        page $t
    }
    if {$t != $before || $reverse} {
        zelkori::clock set $t
    }
    if {$reverse} {
        ::viewer::request_redraw
        ::viewer::update_readouts
    }
    follow
}

proc ::viewer::timeline::reversing {} {
    return $::viewer::timeline::reverse
}

# ---- the readout

proc ::viewer::timeline::show {} {
    variable position
    variable readout
    if {![winfo exists .timeline]} {
        return
    }
    set now [zelkori::clock get]
    set position $now
    set readout [format "%.3f s  ·  frame %d  ·  %g fps" $now [frame $now] [fps]]
}

# ---- the renderer's command for the frame shown

# Quotes `word` for a POSIX shell when it needs it.
proc ::viewer::timeline::shell_word {word} {
    if {[regexp {^[-A-Za-z0-9_./=%:,+]+$} $word]} {
        return $word
    }
    return '[string map {' '\\''} $word]'
}

# The command line that makes morvakine-render draw the frame shown, at
# the drawing area's size and view, with every control's value and the
# plug-in. Between frames (paused while playing) it is the frame the
# readout names.
proc ::viewer::timeline::render_command {} {
    variable origin
    set k [frame]
    lassign $::viewer::drawn_size width height
    # Frames before the origin have no --first: their time is given, and
    # names the file.
    if {$k >= 0} {
        set words [list morvakine-render -o [format morvakine-%04d.png $k] --size ${width}x$height \
            --time [::viewer::number $origin] --fps [::viewer::number [fps]] --frames 1 --first $k]
    } else {
        set words [list morvakine-render -o [::viewer::clock_name [time_of $k] .png] \
            --size ${width}x$height --time [::viewer::number [time_of $k]]]
    }
    if {$::viewer::reload::file ne ""} {
        lappend words --plugin $::viewer::reload::file
    }
    lappend words {*}[join $::viewer::picture]
    foreach control [zelkori::control list] {
        dict with control {
            lappend words --set "$label=[expr {$kind eq "checkbox" ? int($value) : [::viewer::number $value]}]"
        }
    }
    # The framing as shown: the renderer frames a still on its own pose,
    # the viewer on the figure at any angle.
    set view [::viewer::shown_view]
    if {[same_view $view {1 0 0}]} {
        lappend words --plugin-camera
    } else {
        lappend words --view [join [lmap number $view {::viewer::number $number}] ,]
    }
    join [lmap word $words {shell_word $word}]
}

proc ::viewer::timeline::same_view {a b} {
    foreach p $a q $b {
        if {abs($p - $q) > 1e-12} {
            return 0
        }
    }
    return 1
}

# Puts the renderer's command on the clipboard and in the status line.
proc ::viewer::timeline::copy_render_command {} {
    set command [render_command]
    clipboard clear
    clipboard append $command
    ::viewer::show_message "copied: $command"
    return $command
}

# ---- menu and keys

proc ::viewer::timeline::build_menu {} {
    set m .menubar.playback
    .menubar insert [.menubar index end] cascade -label Playback -underline 0 -menu [menu $m]
    $m add command -label "Play or pause" -accelerator Space -command ::viewer::toggle_play
    $m add command -label "Play backward" -accelerator < -command ::viewer::timeline::play_backward
    $m add command -label "Next frame" -accelerator . -command {::viewer::timeline::step 1}
    $m add command -label "Previous frame" -accelerator , -command {::viewer::timeline::step -1}
    $m add separator
    foreach {mode label} {loop "Loop the range" bounce "Ping-pong the range" off "Play on"} {
        $m add radiobutton -label $label -variable ::viewer::timeline::mode -value $mode \
            -command [list ::viewer::timeline::loop $mode]
    }
    $m add command -label "Range starts here" -accelerator \[ -command {::viewer::timeline::mark start}
    $m add command -label "Range ends here" -accelerator \] -command {::viewer::timeline::mark end}
    $m add separator
    $m add command -label "Copy render command" -command ::viewer::timeline::copy_render_command
}

proc ::viewer::timeline::bind_keys {} {
    foreach {sequence command} {
        <KeyPress-period> {step 1} <KeyPress-comma> {step -1}
        <KeyPress-less> play_backward <KeyPress-greater> {::viewer::set_playing 1}
        <KeyPress-l> loop <KeyPress-bracketleft> {mark start} <KeyPress-bracketright> {mark end}
    } {
        bind . $sequence [list ::viewer::timeline::key $command]
    }
    set keys $::viewer::keys
    set at [lsearch -exact $keys {?, h or F1}]
    set ::viewer::keys [linsert $keys $at \
        {. and ,} {Next and previous frame} \
        {< and >} {Play backward, forward} \
        {l} {Range: loop, ping-pong, play on} \
        {[ and ]} {The range starts, ends here}]
}

# A key acts unless the focus is in a text entry.
proc ::viewer::timeline::key {command} {
    set w [focus]
    if {$w ne "" && [winfo class $w] in {Entry TEntry}} {
        return
    }
    namespace eval ::viewer::timeline $command
}
