# The renderer's start-up against its floor: `morvakine-render -o F.png
# --size 64x48` and bench/egl_floor (EGL, a context, a framebuffer, one
# cleared pixel read back), run in turn, each from its start to its exit.
#   tclsh startup_pairs.tcl BUILD-DIR ?PAIRS? ?WORK-DIR?    (default 21 pairs)
# Prints the medians of both and the median of the pairs' ratios: pairing
# keeps the ratio meaningful while other load on the machine drifts.

lassign $argv build pairs work
if {$build eq ""} {
    puts stderr "usage: tclsh startup_pairs.tcl BUILD-DIR ?PAIRS? ?WORK-DIR?"
    exit 2
}
if {$pairs eq ""} {
    set pairs 21
}
if {$work eq ""} {
    set work [file join [expr {[info exists env(TMPDIR)] ? $env(TMPDIR) : "/tmp"}] \
        morvakine-startup-[pid]]
}
file mkdir $work
set renderer [list [file join $build morvakine-render] -o [file join $work first.png] --size 64x48]
set floor [list [file join $build bench egl_floor] 64 48]

# Milliseconds from the start of `command` to its exit.
proc run {command} {
    set start [clock microseconds]
    exec {*}$command
    return [expr {([clock microseconds] - $start) / 1000.0}]
}

proc median {values} {
    set values [lsort -real $values]
    set n [llength $values]
    return [expr {($n % 2) ? [lindex $values [expr {$n / 2}]]
        : ([lindex $values [expr {$n / 2 - 1}]] + [lindex $values [expr {$n / 2}]]) / 2.0}]
}

# One of each first, uncounted: the files they read come into the cache.
run $renderer
run $floor
set ours {}
set bare {}
set ratios {}
for {set k 0} {$k < $pairs} {incr k} {
    lappend ours [run $renderer]
    lappend bare [run $floor]
    lappend ratios [expr {[lindex $ours end] / [lindex $bare end]}]
}
puts [format "renderer %.1f ms  floor %.1f ms  ratio %.2fx  (medians of %d pairs; ratios %.2f-%.2f)" \
    [median $ours] [median $bare] [median $ratios] $pairs \
    [tcl::mathfunc::min {*}$ratios] [tcl::mathfunc::max {*}$ratios]]
