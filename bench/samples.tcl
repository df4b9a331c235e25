# What smooth edges cost: frames a second at 800x600 with 1 and 4
# samples a pixel, in the renderer (300 frames to a PNG sequence in
# memory, start-up included) and, when DISPLAY is set, in the viewer
# (--bench). Runs alternate between the counts; medians of `runs`.
#   tclsh samples.tcl BUILD ?RUNS?
lassign $argv build runs
if {$runs eq ""} {
    set runs 5
}
set frames 300
set work [file join [expr {[file isdirectory /dev/shm] ? "/dev/shm" : "/tmp"}] samples-bench-[pid]]

proc median {values} {
    set sorted [lsort -real $values]
    lindex $sorted [expr {[llength $sorted] / 2}]
}

set counts {1 4}
foreach samples $counts {
    set render($samples) {}
    set view($samples) {}
}
for {set run 0} {$run < $runs} {incr run} {
    foreach samples $counts {
        file delete -force $work
        file mkdir $work
        set began [clock microseconds]
        exec [file join $build morvakine-render] --size 800x600 --frames $frames \
            --samples $samples -o [file join $work f%04d.png]
        set seconds [expr {([clock microseconds] - $began) / 1e6}]
        lappend render($samples) [expr {$frames / $seconds}]
        if {[info exists env(DISPLAY)]} {
            set out [exec [file join $build morvakine-view] --size 800x600 --bench 3 \
                         --samples $samples]
            regexp {fps ([0-9.]+)} $out -> fps
            lappend view($samples) $fps
        }
    }
}
file delete -force $work
foreach samples $counts {
    set line [format "samples %d: renderer %.0f frames/s" $samples [median $render($samples)]]
    if {[llength $view($samples)]} {
        append line [format ", viewer %.0f frames/s" [median $view($samples)]]
    }
    puts $line
}
