# Saving under a chosen name, and recording what the window shows into a
# movie or a numbered image sequence through the host library's writers.
#
# A recording steps the clock itself: frame k shows the clock time it
# started at plus k times the clock's speed over the movie's rate, so a
# movie from the window holds the frames the headless renderer draws for
# the same times. Frames are drawn, read and queued as the window shows
# them, paced to the wall clock; when drawing is slower than the movie's
# rate the window runs slow rather than the movie dropping frames. While
# the clock is paused frames still go in, so whatever is moved by hand is
# recorded as it was seen.
#
# A movie has one size: while recording the window cannot be resized, and
# should the drawing area change anyway (a window manager that tiles, full
# screen, the panel hidden), the recording stops before a frame of the new
# size is drawn and keeps what it has.

namespace eval ::viewer {
    variable record {}             ;# the recording under way, a dict; {} when none
    variable record_label "Record movie…"
    variable record_fps 30.0
    variable take 0                ;# the next frame drawn goes into the recording
    variable opened {}             ;# a recording opened, not yet begun
}

# The dialog's file types for the host library's formats of `kinds`
# (still, sequence, movie, scene), in its table's order.
proc ::viewer::file_types {kinds} {
    set types {}
    foreach format [zelkori::formats] {
        dict with format {
            if {$kind in $kinds && !$stdout} {
                # The table speaks of the renderer's numbering option.
                if {$kind eq "sequence"} {
                    regsub {, numbered from --first$} $summary \
                        ", NAME-0000$extension, NAME-0001$extension, …" summary
                }
                # The export form says whether a scene holds a pose or frames.
                if {$kind eq "scene"} {
                    regsub {, all frames as one animation$} $summary {} summary
                }
                lappend types [list "[string toupper $name]: $summary" [concat $extension $alias]]
            }
        }
    }
    return $types
}

proc ::viewer::save_frame_as {} {
    set file [ask_file "Save frame as" [file_types still] [timed_name [first_extension still]]]
    if {$file ne ""} {
        save_frame $file
    }
}

# File > Export scene: the pose shown, or an animation of the frames from
# the clock on at the timeline's rate (by default the range's length).
proc ::viewer::export_scene_as {} {
    lassign [timeline::frames] low high
    set answer [form "Export scene" [list \
        [list file File file [timed_name [first_extension scene]]] \
        [list what Writes choice pose {pose "this pose: the figure as shown"
                                       animation "an animation: the frames from the clock shown on"}] \
        [list frames "Frames of the animation" entry [expr {$high - $low + 1}]]] \
        [file_types scene] ::viewer::export_problem]
    if {$answer ne ""} {
        export_scene [dict get $answer file] \
            [expr {[dict get $answer what] eq "pose" ? 1 : [dict get $answer frames]}]
    }
}

proc ::viewer::export_page_as {} {
    set file [ask_file "Export web page" [file_types page] [timed_name [first_extension page]]]
    if {$file ne ""} {
        export_page $file
    }
}

# Saves a web page that draws the figure live, opening on what the window
# shows: its size, the clock, the controls and the zoom and pan.
proc ::viewer::export_page {file} {
    variable gl
    $gl makecurrent
    set failed [catch {
        set handle [zelkori::output open $file]
        if {[catch {zelkori::output add $handle; zelkori::output close $handle} message options]} {
            catch {zelkori::output abort $handle}
            return -options $options $message
        }
    } result]
    show_message [expr {$failed ? $result : "saved [file normalize [::morvakine::literal $file]]"}]
}

proc ::viewer::export_problem {values} {
    dict with values {
        set count [expr {$what eq "pose" ? 1 : $frames}]
        if {$file eq ""} {
            return "name the file to write"
        }
        if {[catch {::morvakine::whole $count 10000} count] || $count < 1} {
            return "an animation has 1 to 10000 frames, got \"$frames\""
        }
        # The name's format; the export's open judges the rest.
        if {[catch {zelkori::formats $file} row]} {
            return [library_message $row]
        }
        if {[dict get $row kind] ne "scene"} {
            return "a scene is written as [join [lmap type [file_types scene] {lindex $type 1 0}] { or }]"
        }
    }
    return {}
}

# A message of the host library's without the name of its Tcl option.
proc ::viewer::library_message {text} {
    regsub {^-[a-z]+: } [lindex [split $text \n] 0] {} text
    return $text
}

proc ::viewer::recording {} {
    expr {$::viewer::record ne ""}
}

proc ::viewer::record_playing {} {
    dict get $::viewer::record playing
}

proc ::viewer::record_play {on} {
    dict set ::viewer::record playing $on
}

proc ::viewer::toggle_recording {} {
    if {[recording]} {
        stop_recording
        return
    }
    # The form's check opens the recording: what it refuses is shown there.
    set answer [form "Record movie" [list \
        [list file File file [timed_name [first_extension movie]]] \
        [list fps "Frames a second" entry [number [timeline::fps]]] \
        [list quality "Quality, 0 to 100" entry 50] \
        [list codec Codec choice default [codec_choices]] \
        [list seconds "Seconds (empty: until stopped)" entry {}]] \
        [file_types {movie sequence}] ::viewer::recording_problem]
    if {$answer ne ""} {
        begin_recording
    }
}

# The form's answers as start_recording's options.
proc ::viewer::recording_options {values} {
    set options {}
    foreach key {fps quality codec seconds} {
        if {[string trim [dict get $values $key]] ni {"" default}} {
            lappend options -$key [string trim [dict get $values $key]]
        }
    }
    return $options
}

# The form's codec choices, value and label: the format's own, then the
# codecs of every movie format that holds more than one, in the table's
# order, each with the extensions that hold it.
proc ::viewer::codec_choices {} {
    set held {}
    foreach format [zelkori::formats] {
        set codecs [dict get $format codecs]
        if {[llength $codecs] > 1} {
            foreach codec $codecs {
                dict lappend held $codec [dict get $format extension]
            }
        }
    }
    set choices {default "the format's own"}
    dict for {codec extensions} $held {
        lappend choices $codec "$codec ([join $extensions {, }])"
    }
    return $choices
}

proc ::viewer::recording_problem {values} {
    if {[dict get $values file] eq ""} {
        return "name the file to write"
    }
    if {[catch {open_recording [dict get $values file] [recording_options $values]} problem]} {
        return $problem
    }
    return {}
}

# The rate, output options and frame count of a recording to `file` with
# `options` (-fps F, -quality Q, -codec C, -seconds S: the rate, the
# quality where the format has one, the codec where it holds more than
# one, and a length; none: until stopped), and the name it writes. Raises
# the reason for a value of the form's that cannot be; the output's open
# judges the rest.
proc ::viewer::record_settings {file options} {
    set fps [timeline::fps]
    set quality {}
    set codec {}
    set seconds {}
    foreach {option value} $options {
        switch -- $option {
            -fps {
                if {[catch {::morvakine::decimal $value} fps] || $fps <= 0} {
                    error "the rate must be a number of frames a second, got \"$value\""
                }
            }
            -quality {
                if {[catch {::morvakine::whole $value 100} quality]} {
                    error "the quality must be a whole number from 0 to 100, got \"$value\""
                }
            }
            -codec {
                set codec $value
            }
            -seconds {
                if {$value ne "" && ([catch {::morvakine::decimal $value} seconds] || $seconds <= 0)} {
                    error "the length must be a number of seconds above 0, got \"$value\""
                }
            }
            default {
                error "unknown option \"$option\": expected -fps, -quality, -codec or -seconds"
            }
        }
    }
    set name [record_target $file]
    set row [zelkori::formats $name]
    set level [list -fps $fps]
    if {$quality ne "" && [dict get $row takes-quality]} {
        lappend level -quality $quality
    }
    # Frames written as they come take the level their format's row gives
    # for that, where it has one.
    if {[dict get $row takes-level]} {
        lappend level -level [dict get $row drawn-level]
    }
    # A format that holds one codec takes it whatever was chosen; one that
    # holds others refuses the choice, naming them.
    if {$codec ne "" && [llength [dict get $row codecs]] > 1} {
        lappend level -codec $codec
    }
    set frames [expr {$seconds eq "" ? 0 : max(1, round($seconds * $fps))}]
    if {$frames > [dict get $row max-frames]} {
        error "a [dict get $row name] recording holds at most [dict get $row max-frames] frames"
    }
    list $name $fps $level $frames
}

# The name a recording to `file` writes: a movie's, or a sequence's
# pattern; a still image's name without a number field gets one before its
# extension. Fails with the host library's reason for a name it knows no
# format of.
proc ::viewer::record_target {file} {
    if {[dict get [zelkori::formats $file] kind] eq "still"} {
        set file [string map {% %%} [file rootname $file]]-%04d[file extension $file]
    }
    if {[dict get [zelkori::formats $file] kind] ni {movie sequence}} {
        error "cannot record \"[file tail $file]\": name a movie or an image sequence"
    }
    return $file
}

# Opens the recording to `file` with `options` (as record_settings takes
# them), the one judgement of its target and settings, for begin_recording;
# fails with the reason, one line.
proc ::viewer::open_recording {file options} {
    variable gl
    variable opened
    lassign [record_settings $file $options] name fps level limit
    $gl makecurrent
    project
    # The recording steps the clock from here on; it stops first, so that
    # the first frame shows the time the recording was asked for however
    # long opening takes (a movie's codecs load on first use).
    set playing [zelkori::clock playing]
    zelkori::clock pause
    if {[catch {zelkori::output open $name {*}$level} handle]} {
        if {$playing} {
            zelkori::clock play
        }
        error [library_message $handle]
    }
    set opened [dict create handle $handle name $name fps $fps limit $limit playing $playing]
}

proc ::viewer::start_recording {file args} {
    if {[recording]} {
        return
    }
    if {[catch {open_recording $file $args} problem]} {
        show_message "cannot record: $problem"
        return
    }
    begin_recording
}

# Starts the recording open_recording opened.
proc ::viewer::begin_recording {} {
    variable opened
    variable record
    variable record_label
    variable drawn_size
    set record [dict merge $opened [dict create size $drawn_size frames 0 \
        started [clock milliseconds] stretch {}]]
    set opened {}
    after cancel ::viewer::measure_fps
    wm resizable . 0 0
    set record_label "Stop recording"
    pack .status.recording -side right -before .status.text
    show_message "recording to [file normalize [::morvakine::literal [dict get $record name]]]"
    record_tick
}

# Draws the next frame of the recording and queues it; the next frame
# waits for its time and for the window's pending work.
proc ::viewer::record_tick {} {
    variable record
    variable gl
    variable take
    if {![recording]} {
        return
    }
    step_clock
    set take 1
    $gl render
    set take 0
    if {![recording]} {
        return
    }
    set frames [dict get $record frames]
    if {[dict get $record limit] > 0 && $frames >= [dict get $record limit]} {
        end_recording close {}
        return
    }
    set record_fps [dict get $record fps]
    set seconds [expr {$frames / $record_fps}]
    .status.recording configure -text [format "● REC %d:%02d  %d frames" \
        [expr {int($seconds) / 60}] [expr {int($seconds) % 60}] $frames]
    update_readouts
    set due [expr {[dict get $record started] + round($frames * 1000.0 / $record_fps)}]
    set wait [expr {max(0, $due - [clock milliseconds])}]
    # Idle work first (widgets redrawn, geometry), then the timer.
    after idle [list after $wait ::viewer::record_tick]
}

# Sets the clock for the next frame of the recording while it plays, by
# the renderer's rule from the start of the stretch it belongs to: a
# stretch begins at the first frame, and again wherever the clock was
# paused, moved by hand or given another speed, each frame after its start
# one movie frame of clock time on at the clock's speed.
proc ::viewer::step_clock {} {
    variable record
    set record_fps [dict get $record fps]
    set frames [dict get $record frames]
    if {$frames == 0 || ![record_playing]} {
        dict set record stretch {}
        return
    }
    set now [zelkori::clock get]
    set speed [zelkori::clock speed]
    lassign [dict get $record stretch] start first was_speed shown
    if {[dict get $record stretch] eq "" || $now != $shown || $speed != $was_speed} {
        lassign [list $now [expr {$frames - 1}] $speed] start first was_speed
    }
    set shown [::zelkori::frame_time $start [expr {$frames - $first}] [expr {$record_fps / $speed}]]
    zelkori::clock set $shown
    dict set record stretch [list $start $first $speed $shown]
}

# Called by the display callback before the swap: the frame just drawn
# goes into the recording when a tick asked for it.
proc ::viewer::take_frame {} {
    variable take
    variable record
    if {!$take || ![recording]} {
        return
    }
    set take 0
    if {[catch {zelkori::output add [dict get $record handle]} message]} {
        end_recording abort "recording failed: $message"
        return
    }
    dict incr record frames
}

# Stops the recording and writes its file whole.
proc ::viewer::stop_recording {{why {}}} {
    if {![recording]} {
        return
    }
    end_recording close $why
}

# Ends the recording: `how` is close (finish the file) or abort (remove
# it); `why` leads the message.
proc ::viewer::end_recording {how why} {
    variable record_label
    set playing [dict get $::viewer::record playing]
    lassign [finish_recording $how] ok text
    if {$how eq "abort"} {
        set text $why
    } elseif {$why ne ""} {
        set text "$why; $text"
    }
    wm resizable . 1 1
    set record_label "Record movie…"
    pack forget .status.recording
    set_playing $playing
    show_message $text
}

# Closes the recording's file whole (`how` close) or removes it (abort).
# It touches no widget, so that it serves when the window is gone too.
# Returns {ok text}: whether all went well, and what became of the file.
proc ::viewer::finish_recording {how} {
    variable record
    set handle [dict get $record handle]
    set name [dict get $record name]
    set frames [dict get $record frames]
    set record {}
    after cancel ::viewer::record_tick
    if {$how eq "abort"} {
        zelkori::output abort $handle
        return {1 {}}
    }
    if {[catch {zelkori::output close $handle} message]} {
        return [list 0 "recording failed: $message"]
    }
    return [list 1 "saved [file normalize [::morvakine::literal $name]] ($frames frame[expr {$frames == 1 ? "" : "s"}])"]
}

# Leaving while recording finishes the file first, whoever asks: q, the
# window manager's close, a script's `exit` or `destroy .`. It says so on
# standard output; a file that cannot be finished makes the exit a failure.
# A failure's own exit (status 1) finishes it without a word more.
rename exit ::viewer::exit_now
proc exit {{status 0}} {
    if {[::viewer::recording]} {
        lassign [::viewer::finish_recording close] ok text
        if {$status == 0} {
            set status [expr {$ok ? 0 : 1}]
            catch {puts [expr {$ok ? "stdout" : "stderr"}] "$::program: $text"}
        }
    }
    ::viewer::exit_now $status
}

# A failure that ends the viewer: a recording keeps the frames it has, and
# the line says where.
proc ::viewer::fail {text} {
    if {[recording]} {
        append text "; " [lindex [finish_recording close] 1]
    }
    ::morvakine::fail $::program $text
}

# SIGTERM, SIGHUP or SIGINT (a logout, a closed terminal, `kill`): a
# recording is finished with the frames it has and one line says so; the
# exit status is the shell's for the signal, 128 + its number.
proc ::viewer::signalled {number} {
    if {[recording]} {
        set name [dict get {1 SIGHUP 2 SIGINT 15 SIGTERM} $number]
        catch {puts stderr "$::program: stopped by $name; [lindex [finish_recording close] 1]"}
    }
    exit [expr {128 + $number}]
}

# The drawing area changed size: a recording cannot go on at another size.
proc ::viewer::size_changed {} {
    if {[recording]} {
        end_recording close "recording stopped: the window was resized"
    }
}
