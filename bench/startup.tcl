# Where the renderer's start-up goes. Runs apps/morvakine-render.tcl in
# this interpreter with the given arguments, stamping the time as each of
# its steps ends, and prints the steps when it exits.
#   tclsh startup.tcl LIBDIR RENDERER-ARGS...
# START_NS in the environment is when the process was started (date +%s%N),
# so that the interpreter's own start-up shows too.
# Each line is the time from the end of the step before it.

set script_start [clock microseconds]
set stamps {}

lassign $argv libdir
set argv [lrange $argv 1 end]
set argc [llength $argv]
set env(MORVAKINE_LIBDIR) $libdir
set renderer [file join [file dirname [file dirname [file normalize [info script]]]] apps morvakine-render.tcl]

proc stamp {step} {
    lappend ::stamps $step [clock microseconds]
}

# The steps, by the command that ends each, in the order they run.
set steps {
    zelkori::offscreen   "EGL context on llvmpipe + framebuffer"
    ::model::resize      "controls and projection"
    ::model::redraw      "the plug-in's redraw (the first drawn compiles meshes and shaders)"
    zelkori::fit         "framing: the frames' poses recorded, not drawn"
    zelkori::output      "output"
}

# zelkori::output's steps are told apart by their subcommand: check, open,
# add (finish drawing, read back, encode), close (write the file).
proc watch {command} {
    trace add execution $command leave [list apply {{step command args} {
        if {[lindex $command 0] eq "zelkori::output"} {
            append step " [lindex $command 1]"
        }
        stamp $step
    }} [dict get $::steps $command]]
}

# Each load names its library: the host's (through package require), then
# the plug-in.
trace add execution load leave [list apply {{command args} {
    stamp "load [file tail [lindex $command 1]]"
}}]

# The host's commands exist only once its package is loaded.
trace add execution load leave [list apply {args {
    foreach command [dict keys $::steps] {
        if {[llength [info commands $command]] && ![llength [trace info execution $command]]} {
            watch $command
        }
    }
}}]

rename exit real_exit
proc exit {{code 0}} {
    stamp "exit"
    set previous $::script_start
    if {[info exists ::env(START_NS)]} {
        set started [expr {$::env(START_NS) / 1000}]
        puts [format "%8.1f ms  %s" [expr {($::script_start - $started) / 1000.0}] \
            "process start to script (exec, Tcl init)"]
    }
    foreach {step time} $::stamps {
        puts [format "%8.1f ms  %s" [expr {($time - $previous) / 1000.0}] $step]
        set previous $time
    }
    if {[info exists started]} {
        puts [format "%8.1f ms  total to exit" [expr {($previous - $started) / 1000.0}]]
    }
    real_exit $code
}

source $renderer
