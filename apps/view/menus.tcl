# The menu bar, the keys, the list of keys and the title bar.

namespace eval ::viewer {
    variable fullscreen 0
    variable panel_shown 1
    # Every key the window answers to, and what it does.
    # The menus show the same keys beside their items.
    variable keys {
        {Space}                 {Play or pause}
        {Left drag}             {Orbit (x view and z view)}
        {Middle or Shift+drag}  {Pan}
        {Wheel, + and -}        {Zoom}
        {f}                     {Fit the figure, keeping the angle}
        {Home or r}             {Reset the view: zoom, pan and orbit}
        {s}                     {Save the frame, named by the clock}
        {e}                     {Export the scene, named by the clock}
        {Ctrl+S}                {Save frame as…}
        {Ctrl+E}                {Export scene as…}
        {Ctrl+R}                {Record movie… / Stop recording}
        {F9}                    {Show or hide the control panel}
        {F11}                   {Full screen}
        {Tab}                   {Next control; arrows step a slider}
        {?, h or F1}            {This list}
        {q, Ctrl+Q}             {Quit (asks first while recording)}
    }
}

proc ::viewer::build_menus {} {
    option add *tearOff 0
    menu .menubar
    . configure -menu .menubar
    foreach {name label} {file File view View help Help} {
        .menubar add cascade -label $label -underline 0 -menu [menu .menubar.$name]
    }
    set m .menubar.file
    $m add command -label "Save frame as…" -accelerator Ctrl+S -command ::viewer::save_frame_as
    $m add command -label "Export scene as…" -accelerator Ctrl+E -command ::viewer::export_scene_as
    $m add command -label "Record movie…" -accelerator Ctrl+R -command ::viewer::toggle_recording
    $m add command -label "Export web page…" -command ::viewer::export_page_as
    $m add separator
    $m add command -label Quit -accelerator Ctrl+Q -command ::viewer::quit
    set m .menubar.view
    $m add command -label "Fit the figure" -accelerator f -command ::viewer::fit_view
    $m add command -label "Reset view" -accelerator Home -command ::viewer::reset_view
    $m add command -label "Zoom in" -accelerator + -command ::viewer::zoom_in
    $m add command -label "Zoom out" -accelerator - -command ::viewer::zoom_out
    $m add separator
    $m add checkbutton -label "Full screen" -accelerator F11 \
        -variable ::viewer::fullscreen -command ::viewer::fullscreen_changed
    $m add checkbutton -label "Show control panel" -accelerator F9 \
        -variable ::viewer::panel_shown -command ::viewer::panel_shown_changed
    set m .menubar.help
    $m add command -label "Keyboard shortcuts" -accelerator F1 -command ::viewer::show_keys
    $m add command -label "About morvakine-view" -command ::viewer::show_about
    trace add variable ::viewer::record_label write ::viewer::record_label_changed
}

proc ::viewer::record_label_changed {args} {
    .menubar.file entryconfigure 2 -label $::viewer::record_label
}

proc ::viewer::bind_keys {} {
    # Plain keys act unless the focus is in a text entry; on a slider the
    # arrows, Home and End are the slider's.
    foreach {sequence action} {
        <KeyPress-space> play <KeyPress-s> shot <KeyPress-e> export
        <KeyPress-q> quit
        <KeyPress-Home> reset <KeyPress-r> reset <KeyPress-f> fit
        <KeyPress-plus> zoom_in <KeyPress-equal> zoom_in <KeyPress-KP_Add> zoom_in
        <KeyPress-minus> zoom_out <KeyPress-KP_Subtract> zoom_out
        <KeyPress-question> keys <KeyPress-h> keys <KeyPress-F1> keys
    } {
        bind . $sequence [list ::viewer::key $action]
    }
    foreach {sequence command} {
        <Control-KeyPress-s> save_frame_as <Control-KeyPress-e> export_scene_as
        <Control-KeyPress-r> toggle_recording <Control-KeyPress-q> quit
        <KeyPress-F11> toggle_fullscreen <KeyPress-F9> toggle_panel
    } {
        bind . $sequence "::viewer::$command; break"
    }
}

proc ::viewer::key {action} {
    set w [focus]
    set class [expr {$w eq "" ? "" : [winfo class $w]}]
    if {$class in {Entry TEntry}} {
        return
    }
    if {$class eq "TScale" && $action in {reset fit}} {
        return
    }
    # Space presses a button or ticks a box that has the focus.
    if {$action eq "play" && $class in {TButton TCheckbutton TRadiobutton}} {
        return
    }
    switch -- $action {
        play { toggle_play }
        shot { save_frame }
        export { export_scene }
        quit { quit }
        reset { reset_view }
        fit { fit_view }
        zoom_in { zoom_in }
        zoom_out { zoom_out }
        keys { show_keys }
    }
}

proc ::viewer::toggle_fullscreen {} {
    variable fullscreen
    set fullscreen [expr {!$fullscreen}]
    fullscreen_changed
}

proc ::viewer::fullscreen_changed {} {
    wm attributes . -fullscreen $::viewer::fullscreen
}

proc ::viewer::toggle_panel {} {
    variable panel_shown
    set panel_shown [expr {!$panel_shown}]
    panel_shown_changed
}

proc ::viewer::panel_shown_changed {} {
    variable side
    variable gl
    if {$::viewer::panel_shown} {
        pack $side -side right -fill y -before $gl
    } else {
        pack forget $side
        focus $gl
    }
}

# The list of keys, in a window of its own; Escape or Close closes it.
proc ::viewer::show_keys {} {
    variable keys
    set w .keys
    if {[winfo exists $w]} {
        wm deiconify $w
        raise $w
        focus $w.close
        return
    }
    toplevel $w
    wm title $w "Keyboard shortcuts"
    wm transient $w .
    set body [ttk::frame $w.body -padding [px 12]]
    set row 0
    foreach {shown action} $keys {
        grid [ttk::label $body.k$row -text $shown -style Key.TLabel] \
            [ttk::label $body.a$row -text $action] -sticky w -pady [px 1]
        grid configure $body.k$row -padx [list 0 [px 12]]
        incr row
    }
    ttk::button $w.close -text Close -command [list destroy $w]
    pack $body -fill both -expand 1
    pack $w.close -side bottom -anchor e -padx [px 12] -pady [list 0 [px 12]]
    bind $w <KeyPress-Escape> [list destroy $w]
    bind $w <KeyPress-Return> [list destroy $w]
    focus $w.close
}

proc ::viewer::show_about {} {
    tk_messageBox -parent . -title "About morvakine-view" -icon info \
        -message "morvakine-view [package present zelkori]" \
        -detail "The morvakine figure, live: a body with five jointed arms,\
                 drawn by the plug-in through the host library."
}

# The title says what the window is doing.
proc ::viewer::update_title {} {
    variable title
    set state {}
    if {[recording]} {
        set state "recording"
    } elseif {[timeline::reversing]} {
        set state "playing backward"
    } elseif {![zelkori::clock playing]} {
        set state paused
    }
    set name [reload::name]
    set text [expr {$state eq "" ? $name : "$name — $state"}]
    if {![info exists title] || $title ne $text} {
        set title $text
        wm title . $text
    }
}
