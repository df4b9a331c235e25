# The renderer's start-up against its floor: `morvakine-render -o F.png
# --size 64x48` and bench/egl_floor (EGL, a context, a framebuffer, one
# cleared pixel read back), and the floor drawing one lit triangle first
# (egl_floor --lit), run in turn, each from its start to its exit.
#   tclsh startup_pairs.tcl BUILD-DIR ?ROUNDS? ?WORK-DIR?   (default 21 rounds)
# Prints the medians and the median of each round's ratio to the floor:
# taking ratios within a round keeps them meaningful while other load on the
# machine drifts. Mesa's shader cache is warm (the uncounted first runs fill
# it); MESA_SHADER_CACHE_DISABLE=1 in the environment measures every run
# cold.

lassign $argv build pairs work
if {$build eq ""} {
    puts stderr "usage: tclsh startup_pairs.tcl BUILD-DIR ?ROUNDS? ?WORK-DIR?"
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
set lit [list [file join $build bench egl_floor] --lit 64 48]

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
run $lit
set ours {}
set bare {}
set drawn {}
set ratios {}
set lit_ratios {}
for {set k 0} {$k < $pairs} {incr k} {
    lappend ours [run $renderer]
    lappend bare [run $floor]
    lappend drawn [run $lit]
    lappend ratios [expr {[lindex $ours end] / [lindex $bare end]}]
    lappend lit_ratios [expr {[lindex $drawn end] / [lindex $bare end]}]
}
puts [format "renderer %.1f ms  floor %.1f ms  ratio %.2fx  (medians of %d rounds; ratios %.2f-%.2f)" \
    [median $ours] [median $bare] [median $ratios] $pairs \
    [tcl::mathfunc::min {*}$ratios] [tcl::mathfunc::max {*}$ratios]]
puts [format "floor with one lit triangle %.1f ms  ratio %.2fx" [median $drawn] [median $lit_ratios]]
set cold [expr {[info exists env(MESA_SHADER_CACHE_DISABLE)]
    && $env(MESA_SHADER_CACHE_DISABLE) ni {"" 0 false}}]
puts "Mesa's shader cache: [expr {$cold ? "off, every run cold" : "warm, filled by the uncounted first runs"}]"

