# Shared by the test files: where the build is, how to load what it built,
# and generated arity cases.
package require tcltest 2.5
namespace import ::tcltest::*

namespace eval ::testing {
    variable build [expr {[info exists ::env(MORVAKINE_BUILD)]
        ? $::env(MORVAKINE_BUILD)
        : [file normalize [file join [file dirname [info script]] .. build]]}]
    variable plugin [file join $build morvakine.so]
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

proc ::testing::slurp {file} {
    set channel [open $file]
    set text [read $channel]
    close $channel
    return [string trimright $text]
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
