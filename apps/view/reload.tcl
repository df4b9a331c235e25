# Reloading the plug-in in place. The viewer draws with a private copy of
# the plug-in file (Tcl's `load` keeps one library per path, and a linker or
# `cp` writing the file in place would change pages of a library mapped
# from it); with watching on, a new build of the file is copied and loaded
# once the file has stopped changing, and the window goes on with the same
# clock reading, control values, view and size.
#
# A new build is taken only when it loads, registers the three commands,
# and runs its ::model::setup, ::model::resize and a first ::model::redraw
# without an error; otherwise the build before it is put back, commands,
# controls and all, and the status line says why. A crash inside the new
# build's code ends the viewer as it would end any process: nothing in the
# process can undo it.

namespace eval ::viewer::reload {
    variable file {}               ;# the plug-in file watched; {} for the build's own
    variable watching 0            ;# the menu's "Reload on change"
    variable dir {}                ;# the private copies, removed at exit
    variable build 1               ;# number of the build drawing now
    variable tried 1               ;# number given to the last build tried
    variable seen {}               ;# signature of the last version tried
    variable pending {}            ;# signature of a version not yet settled
    variable poll_ms 100
    variable remembered {}         ;# {id kind label} -> the last value seen
}

# A copy of `source` of its own, in the private directory, under the same
# name (Tcl finds the entry point by the name too). Raises an error when
# the file changed while it was copied.
proc ::viewer::reload::copy {source number} {
    variable dir
    if {$dir eq ""} {
        set base [expr {[info exists ::env(TMPDIR)] && $::env(TMPDIR) ne "" ? $::env(TMPDIR) : "/tmp"}]
        if {[catch {exec /usr/bin/mktemp -d [file join $base morvakine-view.XXXXXX]} made]} {
            error "cannot make a private directory in $base: [lindex [split $made \n] 0]"
        }
        set dir $made
        trace add execution exit enter ::viewer::reload::remove_copies
    }
    set before [signature $source]
    set target [file join $dir build-$number [file tail $source]]
    file mkdir [file dirname $target]
    file copy -force -- $source $target
    if {[signature $source] ne $before} {
        file delete -force -- [file dirname $target]
        error "the file changed while it was read"
    }
    return $target
}

proc ::viewer::reload::remove_copies {args} {
    variable dir
    if {$dir ne ""} {
        catch {file delete -force -- $dir}
    }
}

# The private copy the viewer first loads `source` from: none for the
# build's own plug-in unless it is to be watched.
proc ::viewer::reload::first_copy {program source watch} {
    variable file
    variable seen
    if {$source eq "" && !$watch} {
        return {}
    }
    set file $source
    set source [path]
    if {![file isfile $source] || ![file readable $source]} {
        return $source
    }
    set seen [signature $source]
    if {[catch {copy $source 1} copied]} {
        ::morvakine::fail $program "cannot copy the plug-in $source: $copied"
    }
    return $copied
}

# What tells one version of a file from the next: its identity, size and
# time, and, while the time is too recent to tell writes of the same
# second apart, its checksum (up to 64 MiB). Empty while there is no file.
# Compare two with `same`: a signature loses its checksum as the file ages.
proc ::viewer::reload::signature {path} {
    if {[catch {file stat $path info}] || $info(type) ne "file"} {
        return {}
    }
    set sig [list $info(dev) $info(ino) $info(size) $info(mtime) $info(ctime)]
    if {[clock seconds] - $info(mtime) <= 2 && $info(size) <= (64 << 20)
            && ![catch {open $path rb} channel]} {
        lappend sig [zlib crc32 [read $channel]]
        close $channel
    }
    return $sig
}

# Whether signatures `a` and `b` are of one version: the same identity,
# size and times, and the same checksum where both have one.
proc ::viewer::reload::same {a b} {
    if {[lrange $a 0 4] ne [lrange $b 0 4] || ($a eq "") != ($b eq "")} {
        return 0
    }
    expr {[llength $a] < 6 || [llength $b] < 6 || [lindex $a 5] eq [lindex $b 5]}
}

# The plug-in's name for the title: its file's, or morvakine for the
# build's own.
proc ::viewer::reload::name {} {
    variable file
    expr {$file eq "" ? "morvakine" : [file tail $file]}
}

# The plug-in file drawn from: --plugin's, or the build's own.
proc ::viewer::reload::path {} {
    variable file
    expr {$file ne "" ? $file : [file join $::zelkori::library morvakine.so]}
}

# Watching on or off, as the menu's check box says (or `on` when given).
proc ::viewer::reload::watch {{on {}}} {
    variable watching
    variable file
    variable seen
    if {$on ne ""} {
        set watching [expr {!!$on}]
    }
    after cancel ::viewer::reload::poll
    if {$watching} {
        if {$seen eq ""} {
            set seen [signature [path]]
        }
        after $::viewer::reload::poll_ms ::viewer::reload::poll
    }
    return $watching
}

# Looks at the file; a version seen unchanged at two looks in a row has
# settled and is tried.
proc ::viewer::reload::poll {} {
    variable seen
    variable pending
    after $::viewer::reload::poll_ms ::viewer::reload::poll
    # A recording is made with one build; the next waits for its end.
    if {[::viewer::recording]} {
        return
    }
    set now [signature [path]]
    if {$now eq "" || [same $now $seen]} {
        set pending {}
        return
    }
    if {![same $now $pending]} {
        set pending $now
        return
    }
    set pending {}
    take
}

# Tries the plug-in file as it is now: takes it, or keeps the build drawing
# and says why not. Returns the message shown.
proc ::viewer::reload::take {} {
    variable seen
    variable tried
    variable build
    set file [path]
    set number [incr tried]
    set seen [signature $file]
    set name [file tail $file]
    if {[catch {copy $file $number} copied]} {
        return [reject $number $copied]
    }
    foreach command {setup resize redraw} {
        rename ::model::$command ::viewer::reload::kept_$command
    }
    if {[catch {::morvakine::load_library $copied} message]
            || [catch {try_build} message]} {
        foreach command {setup resize redraw} {
            ::morvakine::rename_away ::model::$command
            rename ::viewer::reload::kept_$command ::model::$command
        }
        # The build drawing before puts its controls back as they were.
        catch redeclare
        catch redraw_view
        # What failed is not kept; the message names the file watched.
        catch {file delete -force -- [file dirname $copied]}
        return [reject $number [string map [list $copied $file] $message]]
    }
    foreach command {setup resize redraw} {
        rename ::viewer::reload::kept_$command {}
    }
    set build $number
    ::viewer::request_redraw
    ::viewer::show_message "reloaded $name (build $number)"
    return $::viewer::message
}

proc ::viewer::reload::reject {number reason} {
    set file [path]
    set reason [lindex [split [string trim $reason] \n] 0]
    ::viewer::show_message "[file tail $file] (build $number) not taken: $reason"
    return $::viewer::message
}

# Runs the new build as the window would: setup with the controls' values
# kept, the projection for the drawing area, one frame.
proc ::viewer::reload::try_build {} {
    redeclare
    redraw_view
    ::model::redraw
}

# The projection and the view again, with the window's context current
# (setting the view as it is does both), and a frame to come.
proc ::viewer::reload::redraw_view {} {
    ::viewer::refit
    ::viewer::set_view $::viewer::zoom $::viewer::pan_x $::viewer::pan_y
    ::viewer::request_redraw
}

# Lets ::model::setup declare its controls afresh, then gives each control
# the value last seen for a control of the same id, kind and label, in
# this build or an earlier one (going through a build without it and back
# keeps it), and builds the panel anew for them.
proc ::viewer::reload::redeclare {} {
    variable remembered
    foreach control [zelkori::control list] {
        dict set remembered [identity $control] [dict get $control value]
    }
    set hook [zelkori::control ondeclare]
    zelkori::control ondeclare {}
    zelkori::control clear
    try {
        ::model::setup
    } finally {
        zelkori::control ondeclare $hook
        foreach control [zelkori::control list] {
            if {[dict exists $remembered [identity $control]]} {
                zelkori::control set [dict get $control id] [dict get $remembered [identity $control]]
            }
        }
        rebuild_panel
    }
}

proc ::viewer::reload::identity {control} {
    dict with control {
        return [list $id $kind $label]
    }
}

# The Model frame of the panel, made again for the controls declared now.
proc ::viewer::reload::rebuild_panel {} {
    set panel $::viewer::panel
    foreach w [winfo children $panel] {
        destroy $w
    }
    foreach array {value widget shown} {
        array unset ::viewer::$array
    }
    foreach control [zelkori::control list] {
        ::viewer::add_control [dict get $control id]
    }
    ::viewer::fix_side_width
}

# The Plug-in menu: watching, and trying the file now.
proc ::viewer::reload::build_menu {} {
    set m .menubar.plugin
    if {[winfo exists $m]} {
        return
    }
    .menubar insert [.menubar index end] cascade -label Plug-in -underline 0 -menu [menu $m]
    $m add checkbutton -label "Reload on change" -variable ::viewer::reload::watching \
        -command ::viewer::reload::watch
    $m add command -label "Reload now" -command ::viewer::reload::take
}

# Called once the window is up: the menu, and watching when asked.
proc ::viewer::reload::start {watch} {
    build_menu
    watch $watch
}
