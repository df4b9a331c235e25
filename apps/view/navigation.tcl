# Moving around the figure. The picture is framed on the figure: a ball
# around everything it draws over the timeline's range, fitted into the
# drawing area (zelkori::fit -turns), so that it stays whole at any angle.
# Orbiting turns the plug-in's view controls, as the plug-in's own panel
# would, and the framing follows, so the turn is about the figure. Zoom and
# pan are the viewer's own, applied around that framing (zelkori::frame),
# so the figure and its controls never know.

namespace eval ::viewer {
    # The zoom and pan the view starts from and resets to: the framing alone.
    variable home {zoom 1.0 x 0.0 y 0.0}
    variable zoom_limits {0.1 20.0}
    variable zoom_step 1.25
    variable zoom 1.0
    variable pan_x 0.0
    variable pan_y 0.0
    variable zoom_shown {}
    variable home_orbit {}         ;# {label angle ...} the view controls reset to
    variable drag {}               ;# {x y x-view z-view} where an orbit began
    variable pan_from {}           ;# {x y} where a pan last was
    variable fitted {zoom 1.0 x 0.0 y 0.0}  ;# the framing on the figure
    variable fit_due 1             ;# the figure or the view changed since
    variable fit_samples 60        ;# clock readings over the range it holds
}

# The zoom and pan that zelkori::frame gets: the viewer's around the framing.
proc ::viewer::shown_view {} {
    variable fitted
    set user $::viewer::zoom
    list [expr {$user * [dict get $fitted zoom]}] \
        [expr {$user * [dict get $fitted x] + $::viewer::pan_x}] \
        [expr {$user * [dict get $fitted y] + $::viewer::pan_y}]
}

# Applies the framing, and the zoom and pan around it, to the projection
# ::model::resize has just set; frames the figure again first when it or
# the view changed.
proc ::viewer::view_transform {} {
    variable fit_due
    variable fitted
    variable fit_samples
    if {$fit_due} {
        set fit_due 0
        set first $::viewer::timeline::first
        set last $::viewer::timeline::last
        set times {}
        for {set k 0} {$k < $fit_samples} {incr k} {
            lappend times [expr {$first + ($last - $first) * $k / ($fit_samples - 1.0)}]
        }
        if {[catch {zelkori::fit -turns 1 -times $times} result]} {
            show_message "cannot frame the figure: $result"
        } else {
            set fitted [dict remove $result box drawn]
        }
    }
    zelkori::frame {*}[shown_view]
}

# The figure or the view changed: the next projection frames it again.
proc ::viewer::refit {} {
    variable fit_due 1
}

# Sets the view and draws it. Zoom is kept within its limits.
proc ::viewer::set_view {new_zoom new_x new_y} {
    variable zoom
    variable pan_x
    variable pan_y
    variable zoom_limits
    variable gl
    lassign $zoom_limits low high
    set zoom [expr {min(max($new_zoom, $low), $high)}]
    set pan_x [expr {min(max($new_x, -10.0), 10.0)}]
    set pan_y [expr {min(max($new_y, -10.0), 10.0)}]
    variable zoom_shown [format "zoom %.0f%%" [expr {100.0 * $zoom}]]
    if {[winfo exists $gl] && [winfo ismapped $gl]} {
        $gl makecurrent
        project
        request_redraw
    }
}

# Back to the framing and the orbit the window opened with.
proc ::viewer::reset_view {} {
    variable home
    variable home_orbit
    variable value
    foreach {label angle} $home_orbit {
        set id [view_id $label]
        if {$id ne "" && [info exists value($id)] && $value($id) != $angle} {
            set value($id) $angle
        }
    }
    refit
    set_view [dict get $home zoom] [dict get $home x] [dict get $home y]
}

# Fits the figure into the drawing area again, at the angle it is seen from.
proc ::viewer::fit_view {} {
    variable home
    refit
    set_view [dict get $home zoom] [dict get $home x] [dict get $home y]
}

# Takes the view controls' values now (the plug-in's, after --set) as the
# orbit that resetting the view returns to.
proc ::viewer::keep_home_orbit {} {
    variable home_orbit {}
    foreach label {"x view" "z view"} {
        if {[view_id $label] ne ""} {
            lappend home_orbit $label [zelkori::control get $label]
        }
    }
}

# Zooms by `factor` keeping the point under window pixel (x, y) in place;
# without a point, about the middle of the drawing area.
proc ::viewer::zoom_by {factor {x {}} {y {}}} {
    variable zoom
    variable pan_x
    variable pan_y
    variable zoom_limits
    variable gl
    set factor [expr {min(max($zoom * $factor, [lindex $zoom_limits 0]),
                          [lindex $zoom_limits 1]) / $zoom}]
    set cx 0.0
    set cy 0.0
    if {$x ne ""} {
        set cx [expr {2.0 * $x / max(1, [winfo width $gl]) - 1.0}]
        set cy [expr {1.0 - 2.0 * $y / max(1, [winfo height $gl])}]
    }
    set_view [expr {$zoom * $factor}] \
        [expr {$cx - $factor * ($cx - $pan_x)}] [expr {$cy - $factor * ($cy - $pan_y)}]
}

proc ::viewer::zoom_in {{x {}} {y {}}} {
    zoom_by $::viewer::zoom_step $x $y
}

proc ::viewer::zoom_out {{x {}} {y {}}} {
    zoom_by [expr {1.0 / $::viewer::zoom_step}] $x $y
}

proc ::viewer::pan_start {x y} {
    variable pan_from [list $x $y]
}

# Moves the picture with the pointer.
proc ::viewer::pan_move {x y} {
    variable pan_from
    variable gl
    if {$pan_from eq ""} {
        return
    }
    lassign $pan_from x0 y0
    set pan_from [list $x $y]
    set_view $::viewer::zoom \
        [expr {$::viewer::pan_x + 2.0 * ($x - $x0) / max(1, [winfo width $gl])}] \
        [expr {$::viewer::pan_y - 2.0 * ($y - $y0) / max(1, [winfo height $gl])}]
}

proc ::viewer::bind_navigation {w} {
    bind $w <ButtonPress-1> {focus %W; ::viewer::orbit_start %x %y}
    bind $w <B1-Motion> {::viewer::orbit_move %x %y}
    bind $w <ButtonRelease-1> {set ::viewer::drag {}}
    foreach press {<ButtonPress-2> <Shift-ButtonPress-1>} {
        bind $w $press {focus %W; ::viewer::pan_start %x %y}
    }
    foreach motion {<B2-Motion> <Shift-B1-Motion>} {
        bind $w $motion {::viewer::pan_move %x %y}
    }
    foreach release {<ButtonRelease-2> <Shift-ButtonRelease-1>} {
        bind $w $release {set ::viewer::pan_from {}; set ::viewer::drag {}}
    }
    bind $w <Button-4> {::viewer::zoom_in %x %y}
    bind $w <Button-5> {::viewer::zoom_out %x %y}
    bind $w <MouseWheel> {::viewer::zoom_by [expr {%D > 0 ? $::viewer::zoom_step : 1.0 / $::viewer::zoom_step}] %x %y}
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
    # Per logical pixel: a 2x screen's drag turns the figure as far.
    set rate [expr {[tune orbit_degrees_per_pixel] / [pixel_scale]}]
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
