# morvakine-view: the figure live in a window, steered from the control
# panel the plug-in declares. Run through the launcher, which sets
# MORVAKINE_LIBDIR. The window's parts live in view/, one file a concern.

set program morvakine-view
set here [file dirname [file normalize [info script]]]
source [file join $here options.tcl]
::morvakine::guard $program [info script]

set help {Usage: morvakine-view [options]
Shows the animated figure in a window, with its control panel on the right.

  --size WxH        drawing area in logical pixels (default 800x600): on a
                    2x screen it has twice the pixels each way, as have
                    its screenshots and recordings
  --time T          clock time to start from, in seconds (default 0)
  --paused          start with the clock stopped
  --fps F           frames per second of the timeline and of recordings
                    (default 30); frame k shows the clock at --time + k/F,
                    as morvakine-render numbers its frames
  --first K         start at frame K: the clock at --time + K/F
  --set ID=VALUE    set a control by id or label, e.g. --set 1=300 or
                    --set "x view=300"; sliders clamp to their range (repeatable)
  --manual          tick "manual control": pose from the sliders, not the clock
  --samples N       samples a pixel, for smooth edges (default 4; 1 draws
                    each pixel once), as morvakine-render's
  --background COLOUR
                    what shows behind the figure: a colour name as in Tk
                    (white, "light grey") or #rrggbb (default black)
  --theme NAME      light, dark, or auto (default): dark when the desktop
                    asks for it (GTK_THEME, GNOME's or KDE's colour scheme)
  --screenshot FILE
                    draw one frame at these settings, save it as PNG, exit
  --bench SECONDS   run for SECONDS, at most 1000000 (playing unless --paused),
                    print "frames N seconds S fps F", exit
  --plugin FILE     draw with the plug-in FILE (a library whose Name_Init
                    registers ::model::setup, resize and redraw) instead of
                    the build's own morvakine.so
  --watch, --no-watch
                    load each new build of the plug-in file as it is
                    replaced, keeping the pose, controls and view (on by
                    default with --plugin)
  --eval FILE       source a Tcl script once the window is up (automation)
  --help            show this text
  --version         show the version

The figure opens framed whole, and stays so at any angle. In the window:
drag with the left button to orbit about the figure (moves "x view" and
"z view"); the wheel, + and - zoom; drag with the middle button, or with
Shift held, to pan; f fits the figure again (keeping the angle); Home or r
resets the view (zoom, pan and orbit). Moving a pose slider ticks "manual
control", without which the clock poses the figure. Space
plays or pauses, s saves a screenshot named with the clock time in the
current directory, e saves the pose as a glTF scene named the same way,
Ctrl+R records a movie, F9 hides the panel, F11 goes full screen, ?, h or
F1 lists every key, q or Ctrl+Q quits (asking first while recording). The File menu saves, exports and
records under names of your choosing.

Without a display, morvakine-render draws the figure headless.
Exit status: 0 done, 2 bad usage, 1 failure while running.}

set accepted {--size size --time number --fps number --first count --paused flag --set set --manual flag
              --theme string --screenshot string --bench number --eval string
              --plugin string --watch flag --no-watch flag --help flag --version flag
              --samples count --background string}
set defaults {--size {800 600} --time 0.0 --paused 0 --manual 0 --theme auto
              --watch 0 --no-watch 0 --help 0 --version 0}
set options [::morvakine::parse_options $program $argv $accepted $defaults]
if {[dict get $options --help]} {
    puts $help
    flush stdout
    exit 0
}
if {[dict get $options --version]} {
    ::morvakine::show_version $program $here
}
# Up to a million seconds (eleven days and a half) of benchmark.
if {[dict exists $options --bench]
        && ([dict get $options --bench] <= 0 || [dict get $options --bench] > 1e6)} {
    ::morvakine::usage_error $program "--bench must be above 0 and at most 1000000 seconds, got \"[dict get $options --bench]\""
}
if {[dict exists $options --screenshot]} {
    if {[dict exists $options --bench]} {
        ::morvakine::usage_error $program "--screenshot and --bench cannot be combined"
    }
    if {[dict get $options --screenshot] eq ""} {
        ::morvakine::usage_error $program "--screenshot needs a file name"
    }
}
if {[dict get $options --theme] ni {auto light dark}} {
    ::morvakine::usage_error $program "--theme expects light, dark or auto, got \"[dict get $options --theme]\""
}
if {[dict exists $options --fps]
        && ([dict get $options --fps] <= 0 || [dict get $options --fps] > 1000)} {
    ::morvakine::usage_error $program "--fps must be above 0 and at most 1000, got \"[dict get $options --fps]\""
}
if {[dict get $options --watch] && [dict get $options --no-watch]} {
    ::morvakine::usage_error $program "--watch and --no-watch cannot be combined"
}
set plugin_file [::morvakine::plugin_option $program $options]
if {[dict exists $options --eval] && ![file readable [dict get $options --eval]]} {
    ::morvakine::fail $program "cannot read the script \"[dict get $options --eval]\""
}
set libdir [expr {[info exists env(MORVAKINE_LIBDIR)] ? $env(MORVAKINE_LIBDIR) : $here}]
::morvakine::require_host $program $libdir
::morvakine::check_size $program --size [dict get $options --size]
set picture [::morvakine::picture_options $program $options]
::morvakine::check_samples $program $options

# Tk reads its own options from argv; everything there has been handled.
# The name makes the window's class (WM_CLASS) Morvakine-view, which the
# desktop entry matches.
set argv [list -name $program]
set argc 2
if {[catch {package require Tk} message]} {
    ::morvakine::fail $program "cannot open a window ($message); morvakine-render draws the figure without a display"
}
set libdir [expr {[info exists env(MORVAKINE_LIBDIR)] ? $env(MORVAKINE_LIBDIR) : $here}]
set watch [expr {[dict get $options --watch]
                 || ($plugin_file ne "" && ![dict get $options --no-watch])}]
source [file join $here view reload.tcl]
::morvakine::require_host $program $libdir
::morvakine::load_plugin $program $libdir \
    [::viewer::reload::first_copy $program $plugin_file $watch] $plugin_file
# The drawing area, built for this Tcl beside the host library.
if {[catch {load [file join $::zelkori::library libzelkori_glwidget.so] Glwidget} message]} {
    ::morvakine::fail $program "cannot load the OpenGL widget: $message"
}
foreach part {theme viewer panel navigation record dialogs menus timeline} {
    source [file join $here view $part.tcl]
}
# The screenshot's output is opened, and so judged, before any window
# opens; its file appears once the frame is written.
if {[dict exists $options --screenshot]} {
    set shot [dict get $options --screenshot]
    if {[catch {zelkori::formats $shot} row] || [dict get $row kind] ne "still"} {
        set stills [lmap row [zelkori::formats] {
            expr {[dict get $row kind] eq "still" ? [dict get $row extension] : [continue]}
        }]
        ::morvakine::usage_error $program "--screenshot writes one still image: the name must end in [join $stills { or }], got \"$shot\""
    }
    if {[catch {zelkori::output open $shot} ::viewer::shot_output]} {
        ::morvakine::fail $program $::viewer::shot_output
    }
}

::viewer::theme::apply [::viewer::theme::choose [dict get $options --theme]]
set ::viewer::picture $picture
if {[dict exists $options --samples]} {
    set ::viewer::samples [list -samples [dict get $options --samples]]
}
# --size is in logical pixels: the drawing area has all the screen's own.
lassign [lmap side [dict get $options --size] {
    expr {min(16384, round($side * [::viewer::pixel_scale]))}
}] width height
::viewer::build $width $height
set fps [expr {[dict exists $options --fps] ? [dict get $options --fps] : $::viewer::record_fps}]
::viewer::timeline::build [dict get $options --time] $fps

# The panel follows the plug-in's declarations, in their order; controls
# declared again make no new widget.
zelkori::control ondeclare ::viewer::add_control
::model::setup
::morvakine::apply_controls $program $options
::viewer::sync_panel
::viewer::keep_home_orbit
::viewer::fix_side_width
# A screenshot or a benchmark keeps the size asked, whatever the screen's.
if {![dict exists $options --screenshot] && ![dict exists $options --bench]} {
    ::viewer::fit_screen
}
::viewer::reload::start $watch

set first [expr {[dict exists $options --first] ? [dict get $options --first] : 0}]
zelkori::clock set [::viewer::timeline::time_of $first]
# --bench counts frames as the viewer runs: playing, or paused with
# --paused, where nothing should be drawn once the window is up.
set playing [expr {![dict get $options --paused]}]
if {[dict exists $options --screenshot]} {
    set playing 0
}

tkwait visibility $::viewer::gl
update
# The figure as set up and set: framed afresh. A --set of a pose slider
# ticks manual control, as in the renderer.
$::viewer::gl makecurrent
::viewer::refit
::viewer::project
::morvakine::imply_manual $options
::viewer::sync_panel
::viewer::request_redraw
::viewer::set_playing $playing
focus $::viewer::gl

if {[dict exists $options --screenshot]} {
    if {[catch {::viewer::draw_now [dict get $options --screenshot]} message]} {
        ::morvakine::fail $program $message
    }
    exit 0
}
if {[dict exists $options --bench]} {
    after [expr {int(ceil([dict get $options --bench] * 1000))}] \
        [list ::viewer::finish_bench [clock milliseconds] $::viewer::frames]
}
if {[dict exists $options --eval]} {
    if {[catch {uplevel #0 [list source [dict get $options --eval]]} message details]} {
        if {[info exists env(MORVAKINE_DEBUG)]} {
            set message [dict get $details -errorinfo]
        }
        # The outermost file in the trace is the script itself.
        set where [regexp -all -inline {\(file "[^\n]*" line ([0-9]+)\)} [dict get $details -errorinfo]]
        set line [expr {$where eq "" ? "" : " line [lindex $where end]"}]
        ::morvakine::fail $program "error in [dict get $options --eval]$line: $message"
    }
}
vwait forever
