# Shared by the test files: where the build is, how to load what it built,
# and generated arity cases.
package require tcltest 2.5
namespace import ::tcltest::*

namespace eval ::testing {
    variable here [file dirname [file normalize [info script]]]
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

# The path of an outside program the tests run (python3, node, chromium...),
# as scripts/tools.sh takes it: where its Debian package installs it, at
# the version the tests need, never from PATH. {} when there is none.
proc ::testing::tool {name} {
    variable tools
    if {![info exists tools($name)]} {
        variable here
        set script [file join $here .. scripts tools.sh]
        if {[catch {exec /usr/bin/env -u LD_PRELOAD /bin/bash $script $name 2>/dev/null} path]} {
            set path {}
        }
        set tools($name) $path
    }
    return $tools($name)
}
# Node.js for a check script, with the Chromium it drives; the sanitizer
# runtime preloaded into a test run stays out of both.
proc ::testing::node {} {
    list /usr/bin/env -u LD_PRELOAD CHROMIUM=[::testing::tool chromium] [::testing::tool node]
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

# Whether two PNG files hold the same picture, as libpng decodes them; an
# error when either cannot be read. Files of one picture may differ in
# their bytes: the fast encoder need not choose the same matches each run.
proc ::testing::same_picture {a b} {
    lassign [::testing::run png_probe --same $a $b] status out err
    if {$status ni {0 1} || $err ne ""} {
        error "png_probe: $err"
    }
    expr {$status == 0}
}

# Starts a throwaway Xvfb, with `args` added to its command line, on a
# display number the server picks and claims itself (-displayfd): servers
# of test files running side by side never race for one. Returns the
# display, or {} when there is no Xvfb or it exits without one; the
# server's process id is ::testing::xvfb_pid($display). A watcher stops the
# server once this process is gone, whichever way it goes.
proc ::testing::xvfb {args} {
    if {[auto_execok Xvfb] eq ""} {
        return {}
    }
    # The server writes the number down the pipe once it listens; the pipe
    # ends when it and the watcher are gone. The X server is not ours to
    # check for leaks, whatever is preloaded.
    set channel [open |[list env -u LD_PRELOAD sh -c {
        parent=$1
        shift
        # The shell names its own process, which becomes the server's.
        sh -c 'echo "pid $$"; exec Xvfb -displayfd 1 -screen 0 1600x1200x24 -nolisten tcp "$@" 2>/dev/null' \
            xvfb "$@" &
        server=$!
        while kill -0 $parent 2>/dev/null && kill -0 $server 2>/dev/null; do sleep 0.2; done
        kill $server 2>/dev/null
    } xvfb [pid] {*}$args 2>/dev/null </dev/null] r]
    # Bounded for a server that hangs before it listens, not for a slow one.
    set timer [after 120000 [list set ::testing::xvfb_line {}]]
    fileevent $channel readable [list apply {{channel} {
        set line [gets $channel]
        if {![regexp {^pid ([0-9]+)$} $line -> ::testing::xvfb_server]} {
            set ::testing::xvfb_line $line
        }
    }} $channel]
    vwait ::testing::xvfb_line
    after cancel $timer
    fileevent $channel readable {}
    # Not closed: closing would wait for the watcher. Left open and
    # nonblocking, it is let go without waiting when this process exits.
    fconfigure $channel -blocking 0
    variable servers
    lappend servers $channel
    if {[regexp {^[0-9]+$} $::testing::xvfb_line]} {
        variable xvfb_pid
        set xvfb_pid(:$::testing::xvfb_line) $::testing::xvfb_server
        return :$::testing::xvfb_line
    }
    return {}
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
