# Times of glTF scene output against one PNG of the same pose and size, in
# one process through the host library's Tcl face, as medians.
#   tclsh scene.tcl BUILD-DIR WORK-DIR
# Prints lines "png MS BYTES", "still MS BYTES", "animation MS BYTES".
lassign $argv build work
set auto_path [linsert $auto_path 0 $build]
package require zelkori
load [file join $build morvakine.so]
zelkori::offscreen 800 600
::model::setup
::model::resize 800 600
zelkori::clock set 12

# The median time of `script` in milliseconds over `runs` runs.
proc median_ms {runs script} {
    set times {}
    for {set k 0} {$k < $runs} {incr k} {
        set start [clock microseconds]
        uplevel #0 $script
        lappend times [expr {([clock microseconds] - $start) / 1000.0}]
    }
    return [lindex [lsort -real $times] [expr {$runs / 2}]]
}

set png [file join $work scene.png]
set still [file join $work still.glb]
set animation [file join $work animation.glb]
# What the renderer does for a PNG: draw, read back, encode with the fast path.
puts "png [median_ms 21 [list apply {{file} {::model::redraw; zelkori::save $file fast}} $png]] [file size $png]"
# Scenes recorded only, as the renderer writes them: nothing else reads the frames.
puts "still [median_ms 21 [list zelkori::scene $still -pictures 0]] [file size $still]"
puts "animation [median_ms 5 [list zelkori::scene $animation -frames 300 -fps 30 -pictures 0]] [file size $animation]"
