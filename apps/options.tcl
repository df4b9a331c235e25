# Command-line options shared by the renderer and the viewer, and the
# steps that turn them into host state.

namespace eval ::morvakine {
    # Set while a progress line without its newline is on the terminal.
    variable line_open 0
}

# Reports a usage error the way both applications do and leaves with 2.
proc ::morvakine::usage_error {program message} {
    puts stderr "$program: $message (try --help)"
    exit 2
}

# Reports a failure at run time and leaves with 1.
proc ::morvakine::fail {program message} {
    variable line_open
    if {$line_open} {
        puts stderr ""
    }
    puts stderr "$program: $message"
    exit 1
}

# The applications' top-level handler: an error nothing else caught ends in
# one line and status 1, or the whole Tcl trace when MORVAKINE_DEBUG is set.
proc ::morvakine::unexpected {program message options} {
    if {[info exists ::env(MORVAKINE_DEBUG)]} {
        set message [dict get $options -errorinfo]
    }
    catch {fail $program $message}
    exit 1
}

# Called first thing by each application script `file`: sources it again
# under the top-level handler and leaves once it is done; in that run,
# returns at once.
proc ::morvakine::guard {program file} {
    variable guarded
    if {[info exists guarded]} {
        return
    }
    set guarded 1
    if {[catch {uplevel #0 [list source $file]} message options]} {
        unexpected $program $message $options
    }
    exit 0
}

# A number as a user types it: decimal, where leading zeros mean nothing
# (no octal, no hex, no inf or nan), and finite. Returns it as a double;
# raises an error for anything else.
proc ::morvakine::decimal {text} {
    if {![regexp {^\s*[-+]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][-+]?[0-9]+)?\s*$} $text]
            || [scan $text %f number] != 1 || abs($number) == Inf} {
        error "not a decimal number"
    }
    return $number
}

# A whole number in 0..`high`, decimal as above; raises an error otherwise.
proc ::morvakine::whole {text high} {
    if {![regexp {^\s*\+?0*([0-9]{1,18})\s*$} $text -> digits]
            || [scan $digits %d number] != 1 || $number > $high} {
        error "not a whole number up to $high"
    }
    return $number
}

# WIDTHxHEIGHT, decimal whatever the leading zeros; its bounds are the
# host library's (check_size), known once the library is loaded.
proc ::morvakine::parse_size {program option value} {
    if {![regexp {^([0-9]+)[xX]([0-9]+)$} $value -> w h]} {
        usage_error $program "$option expects WIDTHxHEIGHT, got \"$value\""
    }
    return [lmap side [list $w $h] {regsub {^0+(?=[0-9])} $side {}}]
}

# Refuses a size with a side under 1 or over the largest the host
# library's formats (and framebuffer) take.
proc ::morvakine::check_size {program option size} {
    set most 0
    foreach format [zelkori::formats] {
        set most [expr {max($most, [dict get $format max-side])}]
    }
    lassign $size w h
    if {$w < 1 || $h < 1 || $w > $most || $h > $most} {
        usage_error $program "$option: width and height must be 1 to $most, got \"[join $size x]\""
    }
}

# A count's own bound is its field's in the host library's table (checked
# with the output); here only the largest any field takes, -first's.
proc ::morvakine::parse_number {program option value {kind double}} {
    if {$kind eq "int"} {
        if {[catch {whole $value 999999999999} number]} {
            usage_error $program "$option expects a whole number from 0 to 999999999999, got \"$value\""
        }
        return $number
    }
    if {[catch {decimal $value} number]} {
        usage_error $program "$option expects a number, got \"$value\""
    }
    return $number
}

# --view's ZOOM,X,Y: a zoom of 1/1000 to 1000 and shifts of at most 1000
# either way, zelkori::frame's limits.
proc ::morvakine::parse_view {program value} {
    set parts [split $value ,]
    if {[llength $parts] != 3 || [catch {lmap part $parts {decimal $part}} numbers]} {
        usage_error $program "--view expects ZOOM,X,Y, three numbers, got \"$value\""
    }
    lassign $numbers zoom x y
    if {$zoom < 0.001 || $zoom > 1000 || abs($x) > 1000 || abs($y) > 1000} {
        usage_error $program "--view: the zoom must be 0.001 to 1000 and the shifts at most 1000 either way, got \"$value\""
    }
    return $numbers
}

# Makes file names reach the file system byte for byte, in any locale.
# Tcl decodes argv with the system encoding, which turns a byte invalid in
# it (a Latin-1 name under UTF-8) into a character that encodes to other
# bytes. So the program switches to iso8859-1, where each byte is one
# character and back: argv is read again from the kernel's copy, the
# standard channels pass bytes through, and `earlier`, a string decoded
# before the switch (the script's directory), is returned as it reads now.
proc ::morvakine::names_as_bytes {earlier} {
    set system [encoding system]
    set words [lmap word $::argv {encoding convertto $system $word}]
    if {![catch {open /proc/self/cmdline rb} channel]} {
        set fields [split [string range [read $channel] 0 end-1] \0]
        close $channel
        # The script's arguments are the last ones of the command line.
        if {$::argc > 0 && [llength $fields] >= $::argc} {
            set words [lrange $fields end-[expr {$::argc - 1}] end]
        }
    }
    encoding system iso8859-1
    fconfigure stdout -encoding iso8859-1
    fconfigure stderr -encoding iso8859-1
    set ::argv $words
    return [encoding convertto $system $earlier]
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
        set id [control_id $control]
        if {$id eq ""} {
            set known {}
            foreach c [zelkori::control list] {
                lappend known "[dict get $c id] \"[dict get $c label]\""
            }
            usage_error $program "unknown control \"$control\"; controls are: [join $known {, }]"
        }
        set info [zelkori::control info $id]
        if {[dict get $info kind] eq "checkbox"} {
            # A number counts as on or off too, read as decimal.
            if {![catch {decimal $setting} number]} {
                set setting [expr {$number != 0}]
            } elseif {![string is boolean -strict $setting] || [string is entier -strict $setting]} {
                usage_error $program "--set $control expects on or off, got \"$setting\""
            }
        } else {
            set setting [parse_number $program "--set $control" $setting]
        }
        zelkori::control set $id $setting
    }
}

# Ticks manual control when a --set poses with a slider that only answers
# under it and nothing set manual control itself, as moving that slider
# in the viewer does. Needs the projection set.
proc ::morvakine::imply_manual {options} {
    set manual [zelkori::manual_id]
    if {$manual eq "" || [dict get $options --manual]} {
        return
    }
    set ids [lmap {control setting} [dict get $options --set] {control_id $control}]
    if {$manual in $ids} {
        return
    }
    foreach id [lsort -unique $ids] {
        if {[zelkori::needs_manual $id]} {
            zelkori::control set $manual 1
            return
        }
    }
}

# The id of the control that `control` names: a decimal id (012 is 12),
# or failing that a label. Empty when there is no such control.
proc ::morvakine::control_id {control} {
    set controls [zelkori::control list]
    if {![catch {whole $control 1000000000} id]} {
        foreach c $controls {
            if {[dict get $c id] == $id} {
                return $id
            }
        }
    }
    foreach c $controls {
        if {[dict get $c label] eq $control} {
            return [dict get $c id]
        }
    }
    return {}
}

# `path` safe to hand to Tcl's file commands, which in Tcl 8.6 read a
# leading ~ as a home directory: a name is a name.
proc ::morvakine::literal {path} {
    return [expr {[string match ~* $path] ? "./$path" : $path}]
}

# Loads the host package from `libdir`, reporting a missing piece by name
# rather than with a stack trace.
proc ::morvakine::require_host {program libdir} {
    if {[llength [info commands ::zelkori::formats]]} {
        return
    }
    set index [file join $libdir pkgIndex.tcl]
    if {![file readable $index]} {
        fail $program "missing file $index (is the build complete?)"
    }
    set ::auto_path [linsert $::auto_path 0 $libdir]
    # The index is read here: left to `package require`, finding it would
    # read every package index on auto_path first (7 ms of the start-up).
    if {[catch {
        apply {{dir} {source [file join $dir pkgIndex.tcl]}} $libdir
        package require zelkori
    } message]} {
        fail $program "cannot load the host library: $message"
    }
}

# The options each parameter of an output comes from, for usage errors.
namespace eval ::morvakine {
    variable output_options {name -o size --size fps --fps frames --frames
        quality --quality first --first level --level lights --lights tag --set
        codec --codec alpha --transparent}
}

# `zelkori::output check` or `open` (`how`) on `file` with `parameters`:
# a name or parameter the host library refuses is a usage error naming the
# user's option, any other failure (a target that cannot be written) a
# failure. Returns the command's result.
proc ::morvakine::output {program how file parameters} {
    variable output_options
    if {![catch {zelkori::output $how $file {*}$parameters} result]} {
        return $result
    }
    lassign $::errorCode domain kind field
    if {$domain ne "ZELKORI" || $kind ne "USAGE"} {
        fail $program $result
    }
    # The face names its own option; the user typed ours.
    regsub {^-[a-z]+: } $result {} result
    usage_error $program "[dict get $output_options $field]: $result"
}

# The host library's table row of the format `file`'s name makes; a name
# it makes none of is a usage error.
proc ::morvakine::output_row {program file} {
    variable output_options
    if {[catch {zelkori::formats $file} row]} {
        usage_error $program "[dict get $output_options name]: $row"
    }
    return $row
}

# The host library's table row of the format named `name`.
proc ::morvakine::format_row {name} {
    foreach format [zelkori::formats] {
        if {[dict get $format name] eq $name} {
            return $format
        }
    }
    return {}
}

# The file --plugin names, checked; empty without the option.
proc ::morvakine::plugin_option {program options} {
    if {![dict exists $options --plugin]} {
        return {}
    }
    set file [dict get $options --plugin]
    if {$file eq ""} {
        usage_error $program "--plugin needs a file name"
    }
    return [file normalize [literal $file]]
}

# Loads the host package, then the plug-in: `file`, or the build's own
# morvakine.so beside the host library loaded. Reports a missing piece by
# name rather than with a stack trace; messages name `shown` when given
# (the user's file, where `file` is a private copy of it).
proc ::morvakine::load_plugin {program libdir {file {}} {shown {}}} {
    require_host $program $libdir
    set plugin [expr {$file eq "" ? [file join $::zelkori::library morvakine.so] : $file}]
    if {![file exists $plugin]} {
        set hint [expr {$file eq "" ? " (is the build complete?)" : ""}]
        fail $program "missing file $plugin$hint"
    }
    if {![file isfile $plugin] || ![file readable $plugin]} {
        fail $program "cannot load the plug-in $plugin: not a readable regular file"
    }
    if {[catch {load_library $plugin} message]} {
        if {$shown ne ""} {
            set message [string map [list $plugin $shown] $message]
            set plugin $shown
        }
        fail $program "cannot load the plug-in $plugin: $message"
    }
}

# The prefixes of the Tcl entry points (`Name_Init`) that the library
# `file` exports, read from its symbol names; empty when it has none.
proc ::morvakine::init_prefixes {file} {
    if {[file size $file] > (1 << 30)} {
        error "larger than 1 GiB, not a plug-in"
    }
    set channel [open $file rb]
    try {
        set bytes [read $channel 64]
        if {[string range $bytes 0 3] ne "\x7fELF"} {
            error "not a shared library"
        }
        set names [dynamic_names $channel $bytes [file size $file]]
        if {$names eq ""} {
            # Not a 64-bit little-endian library with a dynamic symbol
            # table: every name in the file.
            seek $channel 0
            set names [read $channel]
        }
    } finally {
        close $channel
    }
    set prefixes {}
    # The NUL after a name is the one before the next: looked at, not taken.
    foreach {- prefix} [regexp -all -inline {\x00([A-Z][A-Za-z0-9]*)_Init(?=\x00)} $names] {
        if {$prefix ni $prefixes} {
            lappend prefixes $prefix
        }
    }
    return $prefixes
}

# The names an ELF64 little-endian library defines in its dynamic symbol
# table, the ones dlsym can find, each between NUL bytes, read from
# `channel` (its first 64 bytes are `header`, its size `size`); empty when
# it has no such table. Scanning the whole file instead costs 2 ms of the
# renderer's start-up, and finds names the library only uses or keeps to
# itself.
proc ::morvakine::dynamic_names {channel header size} {
    if {[binary scan $header @4cc@40wu@58susu class order table entry count] != 5
            || $class != 2 || $order != 1 || $entry != 64 || $count == 0
            || $table + 64 * $count > $size} {
        return {}
    }
    seek $channel $table
    set sections [read $channel [expr {64 * $count}]]
    for {set i 0} {$i < $count} {incr i} {
        # SHT_DYNSYM; its sh_link is the section of its names.
        binary scan $sections @[expr {64 * $i + 4}]iu@[expr {64 * $i + 24}]wuwuiu@[expr {64 * $i + 56}]wu \
            type offset length link step
        if {$type != 11} {
            continue
        }
        if {$link >= $count || $step != 24 || $offset + $length > $size
                || [binary scan $sections @[expr {64 * $link + 24}]wuwu strings strings_length] != 2
                || $strings + $strings_length > $size} {
            return {}
        }
        seek $channel $offset
        set symbols [read $channel $length]
        seek $channel $strings
        set text [read $channel $strings_length]
        set names \x00
        for {set at 0} {$at + 24 <= [string length $symbols]} {incr at 24} {
            # st_name, and st_shndx: 0 for a name only used here.
            binary scan $symbols @${at}iu@[expr {$at + 6}]su name section
            if {$section != 0 && $name > 0} {
                set end [string first \x00 $text $name]
                append names [string range $text $name [expr {$end < 0 ? "end" : $end - 1}]] \x00
            }
        }
        return $names
    }
    return {}
}

# Loads the plug-in library `file` into this interpreter by the entry point
# it exports, whatever the file is named, and checks that it registered the
# three commands a host calls. Raises a one-line error otherwise.
proc ::morvakine::load_library {file} {
    set prefixes [init_prefixes $file]
    if {[llength $prefixes] == 0} {
        error "it exports no Tcl entry point (a function Name_Init)"
    }
    if {[llength $prefixes] > 1} {
        error "it exports more than one Tcl entry point: [join [lmap p $prefixes {string cat $p _Init}] {, }]"
    }
    set prefix [lindex $prefixes 0]
    foreach command {setup resize redraw} {
        rename_away ::model::$command
    }
    if {[catch {uplevel #0 [list load $file $prefix]} message]} {
        error [lindex [split $message \n] 0]
    }
    set missing {}
    foreach command {setup resize redraw} {
        if {[namespace which ::model::$command] eq ""} {
            lappend missing ::model::$command
        }
    }
    if {[llength $missing]} {
        error "${prefix}_Init registers no [join $missing {, }]"
    }
    return $prefix
}

# Deletes a command when there is one.
proc ::morvakine::rename_away {command} {
    if {[namespace which $command] ne ""} {
        rename $command {}
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

# --samples, --background and --transparent, the picture's look in the
# renderer and the viewer alike: sets the host's background (the colour
# read where the host library reads colours) and returns how the options
# change the picture, as words for a movie's tag.
proc ::morvakine::picture_options {program options} {
    set look {}
    if {[dict exists $options --samples]} {
        lappend look "--samples [dict get $options --samples]"
    }
    set transparent [expr {[dict exists $options --transparent] && [dict get $options --transparent]}]
    if {[dict exists $options --background]} {
        if {$transparent} {
            usage_error $program "--background and --transparent cannot be combined"
        }
        if {[catch {zelkori::background [dict get $options --background]} message]} {
            usage_error $program "--background: $message"
        }
        lappend look "--background [zelkori::background]"
    } elseif {$transparent} {
        zelkori::background transparent
        lappend look --transparent
    }
    return $look
}

# Refuses a --samples count the host refuses, before any window opens: the
# host checks the count before it looks for an OpenGL context.
proc ::morvakine::check_samples {program options} {
    if {[dict exists $options --samples]
            && [catch {zelkori::target 1 1 -samples [dict get $options --samples]} message]
            && [lrange $::errorCode 0 2] eq {ZELKORI USAGE samples}} {
        regsub {^-samples: } $message {} message
        usage_error $program "--samples: $message"
    }
}

# Makes the frames of `command` (zelkori::offscreen or zelkori::target, its
# arguments and then -samples) have --samples samples a pixel, the host's
# default without it. Returns the samples used; a count the host refuses
# is a usage error, any other failure leaves with 1.
proc ::morvakine::draw_with_samples {program options command} {
    if {[dict exists $options --samples]} {
        lappend command -samples [dict get $options --samples]
    }
    if {[catch {uplevel #0 $command} result]} {
        if {[lrange $::errorCode 0 2] eq {ZELKORI USAGE samples}} {
            regsub {^-samples: } $result {} result
            usage_error $program "--samples: $result"
        }
        fail $program $result
    }
    return $result
}
