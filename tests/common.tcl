# Shared by the test files: where the build is, how to load what it built,
# and generated arity cases.
package require tcltest 2.5
namespace import ::tcltest::*

namespace eval ::testing {
    variable build [expr {[info exists ::env(MORVAKINE_BUILD)]
        ? $::env(MORVAKINE_BUILD)
        : [file normalize [file join [file dirname [info script]] .. build]]}]
    variable plugin [file join $build morvakine.so]
    # A build for the other major version of Tcl, when there is one.
    variable other [expr {[info exists ::env(MORVAKINE_OTHER_BUILD)]
        ? $::env(MORVAKINE_OTHER_BUILD) : ""}]
}
testConstraint other [expr {$::testing::other ne ""}]

# A value from a build's CMakeCache.txt.
proc ::testing::cached {build name} {
    regexp -line "^$name:\[A-Z\]+=(.*)\$" [slurp [file join $build CMakeCache.txt]] -> value
    return $value
}

# Makes the host package and the plug-in available in this interpreter.
proc ::testing::load_all {} {
    variable build
    variable plugin
    if {[lsearch -exact $::auto_path $build] < 0} {
        set ::auto_path [linsert $::auto_path 0 $build]
    }
    package require zelkori
    load $plugin
}

# Runs a command of the build tree (a launcher) and returns {status stdout
# stderr}.
proc ::testing::run {program args} {
    variable build
    set out [file tempfile outfile]
    set err [file tempfile errfile]
    close $out
    close $err
    set status 0
    if {[catch {exec [file join $build $program] {*}$args >$outfile 2>$errfile < /dev/null} _ options]} {
        set code [lindex [dict get $options -errorcode] 0]
        if {$code eq "CHILDSTATUS"} {
            set status [lindex [dict get $options -errorcode] 2]
        } else {
            set status -1
        }
    }
    set result [list $status [::testing::slurp $outfile] [::testing::slurp $errfile]]
    file delete $outfile $errfile
    return $result
}

# Starts a throwaway Xvfb, with `args` added to its command line, on a
# display number the server picks and claims itself (-displayfd): servers
# of test files running side by side never race for one. Returns the
# display, or {} when there is no Xvfb or it does not come up. A watcher
# stops the server once this process is gone, whichever way it goes.
proc ::testing::xvfb {args} {
    if {[auto_execok Xvfb] eq ""} {
        return {}
    }
    close [file tempfile file]
    # The X server is not ours to check for leaks, whatever is preloaded.
    exec env -u LD_PRELOAD sh -c "Xvfb -displayfd 1 -screen 0 1600x1200x24 -nolisten tcp $args >'$file' 2>/dev/null &
        server=\$!
        while kill -0 [pid] 2>/dev/null && kill -0 \$server 2>/dev/null; do sleep 0.2; done
        kill \$server 2>/dev/null" </dev/null >/dev/null 2>/dev/null &
    set display {}
    for {set tries 0} {$tries < 100 && $display eq ""} {incr tries} {
        # The number is whole once its newline is there.
        set text [::testing::slurp $file 0]
        if {[regexp {^([0-9]+)\n} $text -> number]} {
            set display :$number
        } else {
            after 100
        }
    }
    file delete $file
    return $display
}

# A file's bytes, for files that are not text.
proc ::testing::bytes {file} {
    set channel [open $file rb]
    set data [read $channel]
    close $channel
    return $data
}

proc ::testing::slurp {file {trim 1}} {
    set channel [open $file]
    set text [read $channel]
    close $channel
    if {$trim} {
        set text [string trimright $text]
    }
    return $text
}

# Generates one test per argument count in `counts`, calling `command` with
# that many arguments and expecting `expected` ({code result}) each time.
proc ::testing::arity_cases {prefix command counts expected {setup {}}} {
    foreach count $counts {
        set arguments [lrepeat $count 1]
        uplevel 1 [list test $prefix-$count "$command with $count arguments" \
            -setup $setup \
            -body "list \[[list catch [list $command {*}$arguments] message]\] \$message" \
            -result $expected]
    }
}
