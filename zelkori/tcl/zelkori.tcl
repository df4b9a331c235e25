# The host library's Tcl face, the part that composes rather than parses:
# the commands here are made of zelkori::output and zelkori::clock, which
# libzelkori.so provides. pkgIndex.tcl sources this file into every
# interpreter the package is loaded into, so each keeps its own state.

namespace eval ::zelkori {
    variable movie {}  ;# zelkori::movie's one output, a zelkori::output handle
}

# The check box "manual control" where the plug-in has one, else empty:
# the sliders that pose the figure answer only while it is ticked.
proc ::zelkori::manual_id {} {
    if {[catch {zelkori::control info "manual control"} info] || [dict get $info kind] ne "checkbox"} {
        return {}
    }
    return [dict get $info id]
}

# Whether the slider `id` changes nothing drawn with manual control off but
# does with it on: a pose slider that only answers under manual control.
# The renderer's --set, the viewer's panel and the web page's tick manual
# control by this rule.
# Told by drawing (zelkori::fit's digest of what is drawn) at either end
# of the slider, with everything put back; needs a drawing context.
proc ::zelkori::needs_manual {id} {
    set manual [manual_id]
    set info [zelkori::control info $id]
    if {$manual eq "" || [dict get $info kind] ne "scale" || [zelkori::control get $manual]} {
        return 0
    }
    set value [dict get $info value]
    # Every drawing at one clock reading, even while the clock runs.
    set now [list [zelkori::clock get]]
    set answers {}
    foreach on {0 1} {
        zelkori::control set $manual $on
        set digests {}
        foreach end {low high} {
            zelkori::control set $id [dict get $info $end]
            lappend digests [dict get [zelkori::fit -times $now] drawn]
        }
        lappend answers [expr {[lindex $digests 0] ne [lindex $digests 1]}]
    }
    zelkori::control set $id $value
    zelkori::control set $manual 0
    expr {$answers eq {0 1}}
}

# The clock reading frame k of a run of frames shows: the reading at frame
# 0 plus k frames at `fps` frames per clock second. The renderer, scenes
# and the viewer's recordings all step the clock by this rule.
proc ::zelkori::frame_time {start k fps} {
    expr {$start + double($k) / $fps}
}

# The clock readings that framing a run of `count` frames from frame
# `first` looks at: every frame's, or for a long run 1000 spread evenly
# from the first to the last, which the framing's margin covers.
proc ::zelkori::run_times {start first count fps} {
    set most 1000
    set times {}
    if {$count <= $most} {
        for {set k $first} {$k < $first + $count} {incr k} {
            lappend times [frame_time $start $k $fps]
        }
        return $times
    }
    for {set i 0} {$i < $most} {incr i} {
        lappend times [frame_time $start [expr {$first + ($i * ($count - 1)) / ($most - 1)}] $fps]
    }
    return $times
}

# `value` as one of `choices` or a unique prefix of one, as C commands
# take options; a usage error naming them otherwise.
proc ::zelkori::choose {what choices value} {
    tcl::prefix match -message $what $choices $value
}

proc ::zelkori::wrong_args {usage} {
    return -code error -level 2 -errorcode {TCL WRONGARGS} \
        "wrong # args: should be \"[lindex [info level -1] 0] $usage\""
}

# zelkori::movie open FILE ?-fps F? ?-quality Q? ?-codec C? | add | close | abort:
# one movie per interpreter, of the viewport's size.
proc ::zelkori::movie {args} {
    variable movie
    if {[llength $args] < 1} {
        wrong_args "option ?arg ...?"
    }
    set option [choose option {open add close abort} [lindex $args 0]]
    # The handle is an ordinary output's: one ended by zelkori::output
    # leaves no movie open.
    if {$movie ne "" && [catch {zelkori::output frames $movie}]} {
        set movie {}
    }
    if {$option eq "open" ? [llength $args] < 2 || [llength $args] % 2 : [llength $args] != 1} {
        wrong_args [expr {$option eq "open" ? "open file ?-fps fps? ?-quality quality? ?-codec codec?" : $option}]
    }
    if {$option eq "open"} {
        set file [lindex $args 1]
        if {[catch {zelkori::formats $file} row] || [dict get $row kind] ne "movie"} {
            set known {}
            foreach format [zelkori::formats] {
                if {[dict get $format kind] eq "movie"} {
                    lappend known [dict get $format extension]
                }
            }
            return -code error -errorcode {ZELKORI USAGE name} [format \
                {unknown movie format "%s": use %s or %s} $file \
                [join [lrange $known 0 end-1] ", "] [lindex $known end]]
        }
        set params {}
        foreach {name value} [lrange $args 2 end] {
            lappend params [choose option {-fps -quality -codec} $name] $value
        }
        if {$movie ne ""} {
            return -code error -errorcode {ZELKORI WRITE} \
                "cannot write \"$file\": a movie is already open"
        }
        set movie [zelkori::output open $file {*}$params]
        return
    }
    if {$movie eq ""} {
        if {$option eq "abort"} {
            return
        }
        return -code error -errorcode {ZELKORI MOVIE} "no movie is open"
    }
    if {$option eq "add"} {
        zelkori::output add $movie
        return
    }
    set handle $movie
    set movie {}
    zelkori::output $option $handle
    return
}

# zelkori::scene FILE ?-frames N? ?-fps F? ?-lights L? ?-pictures B?
# ?-draw SCRIPT?: captures what SCRIPT (default ::model::redraw) draws and
# writes it as a glTF scene. With -frames the clock is paused and frame k drawn at
# frame_time's reading, then the clock is put back as it was. A SCRIPT
# that returns ends its frame; break and continue are errors.
proc ::zelkori::scene {args} {
    set usage "file ?-frames n? ?-fps f? ?-lights l? ?-pictures b? ?-draw script?"
    if {[llength $args] < 1 || [llength $args] % 2 == 0} {
        wrong_args $usage
    }
    set file [lindex $args 0]
    set draw ::model::redraw
    set params {-frames 1}
    foreach {name value} [lrange $args 1 end] {
        set name [choose option {-frames -fps -lights -pictures -draw} $name]
        if {$name eq "-draw"} {
            set draw $value
        } else {
            dict set params $name $value
        }
    }
    # The name's format; the open judges the rest.
    if {[dict get [zelkori::formats $file] kind] ne "scene"} {
        set scenes [lmap row [zelkori::formats] {
            expr {[dict get $row kind] eq "scene" ? [dict get $row extension] : [continue]}
        }]
        return -code error -errorcode {ZELKORI USAGE name} \
            "a scene is written as [join $scenes { or }], got \"$file\""
    }
    set handle [zelkori::output open $file {*}$params]
    # The count as checked: decimal, whatever its leading zeros.
    scan [dict get $params -frames] %lld frames
    set fps [zelkori::output fps $handle]
    set start [zelkori::clock get]
    set playing [zelkori::clock playing]
    if {$frames > 1} {
        zelkori::clock pause
    }
    set code [catch {
        for {set k 0} {$k < $frames} {incr k} {
            if {$frames > 1} {
                zelkori::clock set [frame_time $start $k $fps]
            }
            set drew [catch {uplevel #0 $draw} result options]
            if {$drew == 2} {
                # A return ends the frame, as what it returns with.
                set drew [expr {[dict get $options -level] == 1 ? [dict get $options -code] : 0}]
                set drew [expr {$drew == 2 ? 0 : $drew}]
                dict set options -code $drew
                dict set options -level 0
            }
            if {$drew == 3 || $drew == 4} {
                throw {ZELKORI DRAW} "the draw script invoked\
                    \"[expr {$drew == 3 ? "break" : "continue"}]\" outside of a loop"
            } elseif {$drew != 0} {
                # An error, or a code of the script's own: it ends the
                # scene and goes to the caller, as from a loop's body.
                return -options $options $result
            }
            zelkori::output add $handle
        }
    } result options]
    if {$frames > 1} {
        zelkori::clock set $start
        if {$playing} {
            zelkori::clock play
        }
    }
    if {$code} {
        # The script may have ended the output itself; its failure is the one to tell.
        catch {zelkori::output abort $handle}
        return -options $options $result
    }
    zelkori::output close $handle
    return
}
