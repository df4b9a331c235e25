# Runs every benchmark and prints one table of figures and ratios, each
# ratio measured within one run.
#   tclsh bench/run.tcl ?BUILD-DIR?     (default: build)
# Needs a Release or RelWithDebInfo build; the viewer part needs Xvfb.

set top [file dirname [file dirname [file normalize [info script]]]]
set build [file normalize [expr {$argc > 0 ? [lindex $argv 0] : [file join $top build]}]]
foreach program {bench/bench_plugin bench/bench_frame bench/bench_output bench/egl_floor morvakine-render} {
    if {![file executable [file join $build $program]]} {
        puts stderr "run.tcl: no $program in $build (build it first)"
        exit 1
    }
}

# How each measurement is repeated: medians of interleaved repetitions, so
# that load from other processes falls on both sides of a ratio alike.
set repeat {--benchmark_repetitions=5 --benchmark_enable_random_interleaving=true}
set sequence_repeat {--benchmark_repetitions=5 --benchmark_enable_random_interleaving=true}
set sequence_frames 300
set startup_runs 10
set viewer_seconds 5
set idle_seconds 3
set viewer_sizes {800x600 1280x720}

set work [file join [expr {[info exists env(TMPDIR)] ? $env(TMPDIR) : "/tmp"}] \
    morvakine-bench-[pid]]
file mkdir $work

# --- reading Google Benchmark's JSON --------------------------------------

# The flat objects of the "benchmarks" array, each as a dict.
proc parse_results {file} {
    set channel [open $file]
    set text [read $channel]
    close $channel
    set text [string range $text [string first {"benchmarks"} $text] end]
    set results {}
    foreach object [regexp -all -inline {\{[^{}]*\}} $text] {
        set entry {}
        foreach {- key value} [regexp -all -inline \
                {"([^"]+)":\s*("(?:[^"\\]|\\.)*"|[-+0-9.eE]+|true|false)} $object] {
            dict set entry $key [string trim $value \"]
        }
        lappend results $entry
    }
    return $results
}

# The median (or the only run) of benchmark `name`, as a dict.
proc result {results name} {
    set single {}
    foreach entry $results {
        if {[dict get $entry run_name] ne $name && [dict get $entry name] ne $name} {
            continue
        }
        if {[dict exists $entry aggregate_name]} {
            if {[dict get $entry aggregate_name] eq "median"} {
                return $entry
            }
        } elseif {$single eq ""} {
            set single $entry
        }
    }
    if {$single eq ""} {
        error "no result for $name"
    }
    return $single
}

# A result's real time in milliseconds.
proc ms {entry} {
    set scale [dict get {ns 1e-6 us 1e-3 ms 1.0 s 1e3} [dict get $entry time_unit]]
    return [expr {[dict get $entry real_time] * $scale}]
}

# Runs a benchmark program; returns its results, and prints its "check:"
# lines (the comparisons it makes besides timing).
proc run_benchmark {program arguments} {
    set out [file join $::work [file tail $program].json]
    set output [exec [file join $::build bench $program] {*}$arguments \
        --benchmark_out=$out --benchmark_out_format=json 2>@1]
    foreach line [split $output \n] {
        if {[string match check:* $line]} {
            puts "    [string range $line 7 end]"
        }
    }
    return [parse_results $out]
}

proc row {what figure baseline ratio goal} {
    puts [format "  %-34s %-22s %-28s %-9s %s" $what $figure $baseline $ratio $goal]
}

proc heading {text} {
    puts "\n$text"
}

puts "morvakine benchmarks, [clock format [clock seconds] -format {%Y-%m-%d %H:%M}],\
    [exec nproc] cores, load [lindex [split [exec cat /proc/loadavg]] 0]"
puts "build: $build"

# --- 1. plug-in cost --------------------------------------------------------

heading "1. Plug-in cost: ::model::redraw through Tcl over a null host, against the same GL calls from C++"
set results [run_benchmark bench_plugin $repeat]
set plugin [ms [result $results plugin/redraw_via_tcl/real_time]]
set floor [ms [result $results plugin/floor_direct_gl/real_time]]
row "redraw, null host" [format "%.2f us/frame" [expr {$plugin * 1e3}]] \
    [format "floor %.2f us/frame" [expr {$floor * 1e3}]] \
    [format "%.2fx" [expr {$plugin / $floor}]] "goal <= 1.5x"

# --- 2. whole frame ---------------------------------------------------------

heading "2. Whole frame offscreen, clock advancing: our primitives against the naive GLU host"
set results [run_benchmark bench_frame $repeat]
foreach size {640x480 1280x720} {
    set ours [result $results frame/ours/$size/real_time]
    set naive [result $results frame/naive/$size/real_time]
    row "frame $size" \
        [format "%.2f ms, %d tris" [ms $ours] [expr {int([dict get $ours triangles])}]] \
        [format "naive %.2f ms, %d tris" [ms $naive] [expr {int([dict get $naive triangles])}]] \
        [format "%.1fx" [expr {[ms $naive] / [ms $ours]}]] "goal >= 4x faster"
}

# --- 3. renderer throughput -------------------------------------------------

heading "3. $sequence_frames-frame 640x480 PNG sequences (in one process; files in memory\
    unless said), and the renderer itself"
set results [run_benchmark bench_output \
    [list {*}$sequence_repeat --benchmark_filter=sequence/]]
set disk [expr {[info exists env(TMPDIR)] && $env(TMPDIR) ne "" ? $env(TMPDIR) : "/tmp"}]
puts "  memory: /dev/shm ([exec stat -f -c %T /dev/shm]), disk: $disk ([exec stat -f -c %T $disk])"
set only [result $results sequence/render_readback/iterations:1/real_time]
set only_fps [dict get $only fps]
row "render + read back only" [format "%.0f frames/s" $only_fps] \
    [format "%.2f ms CPU/frame" [dict get $only cpu_ms_per_frame]] "" ""
foreach {name label} {
    save_background_fast "saved in background, fast"
    save_background_fast_disk "the same, files on disk (each flushed)"
    save_background_fast_disk_replacing "the same, replacing"
    save_foreground_fast "saved in foreground, fast"
    save_foreground_level1 "saved in foreground, level 1"
    save_foreground_level6 "saved in foreground, level 6"
} {
    set entry [result $results sequence/$name/iterations:1/real_time]
    row $label [format "%.0f frames/s" [dict get $entry fps]] \
        [format "%.2f ms CPU/frame, %.1f KB" [dict get $entry cpu_ms_per_frame] \
            [expr {[dict get $entry bytes_per_frame] / 1000.0}]] \
        [format "%.2fx" [expr {[dict get $entry fps] / $only_fps}]] \
        [expr {$name in {save_background_fast save_background_fast_disk} ? "goal >= 0.95x" : ""}]
}
set directory [file join $work frames]
file mkdir $directory
foreach attempt {1 2} {
    set start [clock microseconds]
    exec [file join $build morvakine-render] --frames $sequence_frames --size 640x480 \
        -o [file join $directory f%04d.png]
    set seconds [expr {([clock microseconds] - $start) / 1e6}]
    set bytes 0
    foreach file [glob -directory $directory *.png] {
        incr bytes [file size $file]
    }
    row "morvakine-render --frames $sequence_frames" \
        [format "%.0f frames/s" [expr {$sequence_frames / $seconds}]] \
        [format "%.2f s with start-up, %.1f KB" $seconds \
            [expr {$bytes / 1000.0 / $sequence_frames}]] "" "goal >= 150 frames/s"
    file delete {*}[glob -directory $directory *.png]
}
puts "  PNG encoders on one frame, in memory (fast: ISA-L level 1 after the Up filter;\
    the rest libpng's settings); time and size against the fast path's:"
set results [run_benchmark bench_output [list {*}$repeat --benchmark_filter=png/]]
foreach size {640x480 1280x720} {
    set medians {}
    foreach entry $results {
        if {[dict exists $entry aggregate_name] && [dict get $entry aggregate_name] eq "median"
                && [lindex [split [dict get $entry run_name] /] 1] eq $size} {
            lappend medians [list [ms $entry] $entry]
        }
    }
    set fast [result $results png/$size/fast/real_time]
    foreach pair [lsort -real -index 0 $medians] {
        lassign $pair time entry
        puts [format "    %-8s %-16s %6.2f ms  %6.1f KB  %5.1fx time  %5.2fx size" $size \
            [lindex [split [dict get $entry run_name] /] 2] $time \
            [expr {[dict get $entry bytes] / 1000.0}] [expr {$time / [ms $fast]}] \
            [expr {[dict get $entry bytes] / [dict get $fast bytes]}]]
    }
}

# --- 4. viewer --------------------------------------------------------------

heading "4. Viewer under Xvfb (its own frame counter)"
proc free_display {} {
    for {set n 90} {$n < 200} {incr n} {
        if {![file exists /tmp/.X$n-lock] && ![file exists /tmp/.X11-unix/X$n]} {
            return $n
        }
    }
    error "no free X display number"
}

# CPU seconds a process has used so far.
proc cpu_seconds {pid} {
    set channel [open /proc/$pid/stat]
    set fields [split [lindex [split [read $channel] )] 1]]
    close $channel
    # utime and stime, fields 14 and 15 of the whole line.
    return [expr {([lindex $fields 12] + [lindex $fields 13]) / double([exec getconf CLK_TCK])}]
}

set viewer [file join $build morvakine-view]
if {![file executable $viewer]} {
    puts "  no $viewer: skipped"
} elseif {[catch {exec which Xvfb}]} {
    puts "  no Xvfb: skipped"
} else {
    set display [free_display]
    set xvfb [exec Xvfb :$display -screen 0 1600x1200x24 -nolisten tcp >/dev/null 2>@1 &]
    for {set waited 0} {![file exists /tmp/.X11-unix/X$display] && $waited < 50} {incr waited} {
        after 100
    }
    set env(DISPLAY) :$display
    set goals {800x600 120 1280x720 60}
    foreach size $viewer_sizes {
        set line [exec $viewer --size $size --bench $viewer_seconds]
        regexp {fps ([0-9.]+)} $line -> fps
        row "viewer $size, playing" [format "%.0f frames/s" $fps] $line "" \
            "goal >= [dict get $goals $size]"
    }
    set line [exec $viewer --size 800x600 --paused --bench $idle_seconds]
    row "viewer --paused --bench $idle_seconds" "" $line "" "goal ~0 frames"
    # The CPU a paused viewer burns, sampled after its start-up.
    set pid [exec $viewer --size 800x600 --paused &]
    after 1500
    set before [cpu_seconds $pid]
    after [expr {$idle_seconds * 1000}]
    set used [expr {[cpu_seconds $pid] - $before}]
    exec kill $pid
    row "viewer --paused, idle" [format "%.1f %% CPU" [expr {100.0 * $used / $idle_seconds}]] \
        [format "%.2f s CPU in %d s" $used $idle_seconds] "" "goal ~0 %"
    exec kill $xvfb
}

# --- 5. start-up ------------------------------------------------------------

heading "5. Start-up: morvakine-render, process start to one 800x600 PNG written"
set times {}
for {set k 0} {$k < $startup_runs} {incr k} {
    set start [clock microseconds]
    exec [file join $build morvakine-render] -o [file join $work start.png]
    lappend times [expr {([clock microseconds] - $start) / 1000.0}]
}
set times [lsort -real $times]
row "morvakine-render -o start.png" \
    [format "%.0f ms median" [lindex $times [expr {$startup_runs / 2}]]] \
    [format "fastest %.0f ms, slowest %.0f ms" [lindex $times 0] [lindex $times end]] \
    "" "goal < 300 ms"
puts "  first 64x48 PNG against the bare EGL program (bench/startup_pairs.tcl):"
foreach line [split [exec [info nameofexecutable] [file join $top bench startup_pairs.tcl] \
        $build 21 $work] \n] {
    puts "    $line"
}
puts "  where the time goes (one run, bench/startup.tcl):"
set env(START_NS) [expr {[clock microseconds] * 1000}]
foreach line [split [exec [info nameofexecutable] [file join $top bench startup.tcl] \
        $build -o [file join $work start.png]] \n] {
    puts "    $line"
}

# --- 6. glTF scenes ---------------------------------------------------------

heading "6. glTF scenes, 800x600 pose at time 12: capture and write, against one PNG (bench/scene.tcl)"
set figures {}
foreach line [split [exec [info nameofexecutable] [file join $top bench scene.tcl] $build $work] \n] {
    dict set figures {*}$line
}
lassign [dict get $figures png] png_ms png_bytes
lassign [dict get $figures still] still_ms still_bytes
lassign [dict get $figures animation] animation_ms animation_bytes
row "PNG: draw, read back, fast" [format "%.2f ms, %.1f KB" $png_ms [expr {$png_bytes / 1000.0}]] "" "" ""
row "still .glb" [format "%.2f ms, %.1f KB" $still_ms [expr {$still_bytes / 1000.0}]] \
    "against the PNG" [format "%.2fx" [expr {$still_ms / $png_ms}]] "goal well under 1x"
row "300-sample animation .glb" [format "%.0f ms, %.1f KB" $animation_ms \
    [expr {$animation_bytes / 1000.0}]] "" "" "goal < 1000 ms"
set start [clock microseconds]
exec [file join $build morvakine-render] --frames 300 -o [file join $work render.glb]
row "morvakine-render --frames 300 -o .glb" \
    [format "%.0f ms with start-up" [expr {([clock microseconds] - $start) / 1000.0}]] "" "" ""

# --- 7. movies --------------------------------------------------------------

heading "7. Movies: morvakine-render writing .mp4 in one step, against a PNG sequence then\
    ffmpeg -framerate 30 -i f%04d.png -c:v libx264 -pix_fmt yuv420p (median of 3, interleaved)"
source [file join $top bench movie.tcl]

file delete -force $work
