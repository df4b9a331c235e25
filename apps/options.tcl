# Command-line options shared by the renderer and the viewer, and the
# steps that turn them into host state.

namespace eval ::morvakine {}

# Reports a usage error the way both applications do and leaves with 2.
proc ::morvakine::usage_error {program message} {
    puts stderr "$program: $message (try --help)"
    exit 2
}

# Reports a failure at run time and leaves with 1.
proc ::morvakine::fail {program message} {
    puts stderr "$program: $message"
    exit 1
}

proc ::morvakine::parse_size {program option value} {
    if {![regexp {^([0-9]+)[xX]([0-9]+)$} $value -> w h]} {
        usage_error $program "$option expects WIDTHxHEIGHT, got \"$value\""
    }
    # Leading zeros would read as octal.
    scan $w %d w
    scan $h %d h
    if {$w < 1 || $h < 1 || $w > 16384 || $h > 16384} {
        usage_error $program "$option: width and height must be 1 to 16384, got \"$value\""
    }
    return [list $w $h]
}

proc ::morvakine::parse_number {program option value {kind double}} {
    if {$kind eq "int"} {
        if {![string is entier -strict $value] || $value < 0 || $value > 1000000000} {
            usage_error $program "$option expects a whole number, got \"$value\""
        }
        scan $value %d value
        return $value
    }
    if {![string is double -strict $value] || [catch {expr {double($value)}} number]
            || $number != $number || abs($number) == Inf} {
        usage_error $program "$option expects a number, got \"$value\""
    }
    return $number
}

# Parses argv against the options in `accepted` (a dict of option name to
# kind: flag, size, number, count, string, set). Returns a dict of option
# to value; --set collects ID VALUE pairs in order.
proc ::morvakine::parse_options {program argv accepted defaults} {
    set options $defaults
    dict set options --set {}
    for {set i 0} {$i < [llength $argv]} {incr i} {
        set word [lindex $argv $i]
        set value {}
        if {[regexp {^(--?[A-Za-z][-A-Za-z]*)=(.*)$} $word -> name inline]} {
            set word $name
            set value $inline
            set has_inline 1
        } else {
            set has_inline 0
        }
        if {![dict exists $accepted $word]} {
            usage_error $program "unknown option \"[lindex $argv $i]\""
        }
        set kind [dict get $accepted $word]
        if {$kind eq "flag"} {
            if {$has_inline} {
                usage_error $program "$word takes no value"
            }
            dict set options $word 1
            continue
        }
        if {!$has_inline} {
            if {$i + 1 >= [llength $argv]} {
                usage_error $program "$word needs a value"
            }
            set value [lindex $argv [incr i]]
        }
        switch -- $kind {
            size { dict set options $word [parse_size $program $word $value] }
            number { dict set options $word [parse_number $program $word $value] }
            count { dict set options $word [parse_number $program $word $value int] }
            string { dict set options $word $value }
            set {
                if {![regexp {^([^=]+)=(.*)$} $value -> control setting]} {
                    usage_error $program "--set expects ID=VALUE or LABEL=VALUE, got \"$value\""
                }
                dict lappend options --set [string trim $control] [string trim $setting]
            }
        }
    }
    return $options
}

# Applies --manual and each --set to the declared controls. Sliders clamp
# to their range as a real slider would.
proc ::morvakine::apply_controls {program options} {
    if {[dict get $options --manual]} {
        zelkori::control set {manual control} 1
    }
    foreach {control setting} [dict get $options --set] {
        if {[catch {zelkori::control info $control} info]} {
            set known {}
            foreach c [zelkori::control list] {
                lappend known "[dict get $c id] \"[dict get $c label]\""
            }
            usage_error $program "unknown control \"$control\"; controls are: [join $known {, }]"
        }
        if {[dict get $info kind] eq "checkbox"} {
            if {![string is boolean -strict $setting]} {
                usage_error $program "--set $control expects on or off, got \"$setting\""
            }
        } else {
            parse_number $program "--set $control" $setting
        }
        zelkori::control set $control $setting
    }
}

# Checks, before anything is drawn, that `file` names a file that can be
# written: the host library makes the same checks as its saves (a regular
# file or a link to one, in an existing directory).
proc ::morvakine::check_output {program option file} {
    if {$file eq ""} {
        usage_error $program "$option needs a file name"
    }
    if {[catch {zelkori::writable $file} message]} {
        fail $program $message
    }
}

# `path` safe to hand to Tcl's file commands, which in Tcl 8.6 read a
# leading ~ as a home directory: a name is a name.
proc ::morvakine::literal {path} {
    return [expr {[string match ~* $path] ? "./$path" : $path}]
}

# Loads the host package and the plug-in from `libdir`, reporting a missing
# piece by name rather than with a stack trace.
proc ::morvakine::load_plugin {program libdir} {
    set plugin [file join $libdir morvakine.so]
    foreach needed [list [file join $libdir pkgIndex.tcl] [file join $libdir libzelkori.so] $plugin] {
        if {![file readable $needed]} {
            fail $program "missing file $needed (is the build complete?)"
        }
    }
    set ::auto_path [linsert $::auto_path 0 $libdir]
    if {[catch {package require zelkori} message]} {
        fail $program "cannot load the host library: $message"
    }
    if {[catch {load $plugin} message]} {
        fail $program "cannot load the plug-in $plugin: $message"
    }
}

# Prints the version, the one the host library provides, and leaves with 0.
# `here` is the script's directory, used when no launcher names the
# library directory.
proc ::morvakine::show_version {program here} {
    set libdir [expr {[info exists ::env(MORVAKINE_LIBDIR)] ? $::env(MORVAKINE_LIBDIR) : $here}]
    set ::auto_path [linsert $::auto_path 0 $libdir]
    if {[catch {package require zelkori} version]} {
        fail $program "cannot load the host library: $version"
    }
    puts "$program $version"
    exit 0
}
