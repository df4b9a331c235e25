# The control panel: the plug-in's controls as it declares them, the clock,
# and the outputs, in a column that scrolls when the window is short.

namespace eval ::viewer {
    variable content .side.canvas.content
    variable time_entry {}
    variable widget               ;# array: control id -> its slider or check box
    variable shown                ;# array: control id -> the value as shown
}

proc ::viewer::build_panel {} {
    variable side
    variable content
    variable panel
    variable time_entry
    ttk::frame $side
    canvas $side.canvas -yscrollcommand [list $side.scroll set] -width 1 -height 1
    ttk::scrollbar $side.scroll -orient vertical -command [list $side.canvas yview]
    ttk::frame $content -padding [px 6]
    $side.canvas create window 0 0 -anchor nw -window $content -tags content
    grid $side.canvas $side.scroll -sticky ns
    grid $side.canvas -sticky nsew
    grid rowconfigure $side 0 -weight 1
    grid columnconfigure $side 0 -weight 1
    bind $content <Configure> ::viewer::panel_resized
    bind $side.canvas <Configure> ::viewer::panel_resized

    set gap [px 6]
    set panel $content.model
    ttk::labelframe $panel -text Model
    grid columnconfigure $panel 1 -weight 1
    set clock $content.clock
    ttk::labelframe $clock -text Clock
    ttk::button $clock.play -textvariable ::viewer::play_label -width 6 \
        -command ::viewer::toggle_play
    ttk::label $clock.time_name -text "time (s)"
    set time_entry $clock.time
    ttk::entry $time_entry -width 8 -textvariable ::viewer::time_text
    bind $time_entry <Return> ::viewer::apply_time
    bind $time_entry <KP_Enter> ::viewer::apply_time
    bind $time_entry <Escape> {focus $::viewer::gl; ::viewer::update_readouts; break}
    bind $time_entry <Control-a> {%W selection range 0 end; %W icursor end; break}
    ttk::label $clock.speed_name -text speed
    ttk::scale $clock.speed -orient horizontal -from [tune speed_low] -to [tune speed_high] \
        -variable ::viewer::speed
    ttk::label $clock.speed_value -style Value.TLabel -textvariable ::viewer::speed_shown \
        -width 5 -anchor e
    bind_steps $clock.speed $clock.speed_name ::viewer::step_speed
    grid $clock.play $clock.time_name $time_entry -sticky w -pady [list 0 [expr {$gap / 2}]]
    grid configure $clock.time_name -sticky e -padx [list 0 [expr {$gap / 2}]]
    grid $clock.speed_name $clock.speed $clock.speed_value -sticky ew
    grid configure $clock.speed_name -sticky w
    grid columnconfigure $clock 1 -weight 1

    set view $content.view
    ttk::labelframe $view -text View
    ttk::button $view.fit -text "Fit" -width 4 -command ::viewer::fit_view
    ttk::button $view.reset -text "Reset" -width 6 -command ::viewer::reset_view
    ttk::label $view.zoom -style Value.TLabel -textvariable ::viewer::zoom_shown
    grid $view.fit $view.reset $view.zoom -sticky w
    grid configure $view.reset -padx [list [expr {$gap / 2}] 0]
    grid configure $view.zoom -sticky e -padx [list $gap 0]
    grid columnconfigure $view 2 -weight 1

    set output $content.output
    ttk::labelframe $output -text Output
    ttk::button $output.save -text "Save frame…" -command ::viewer::save_frame_as
    ttk::button $output.export -text "Export scene…" -command ::viewer::export_scene_as
    ttk::button $output.record -textvariable ::viewer::record_label \
        -command ::viewer::toggle_recording
    grid $output.save $output.export -sticky ew -pady [list 0 [expr {$gap / 2}]]
    grid $output.record - -sticky ew
    grid configure $output.save -padx [list 0 [expr {$gap / 2}]]
    grid columnconfigure $output {0 1} -weight 1 -uniform output

    foreach part [list $panel $clock $view $output] {
        pack $part -side top -fill x -pady [list 0 $gap]
    }
    trace add variable ::viewer::speed write ::viewer::speed_changed
    speed_changed
    # The wheel scrolls the panel wherever the pointer is over it.
    foreach button {4 5} {
        bind PanelWheel <Button-$button> [list ::viewer::scroll_panel $button]
    }
    bind PanelWheel <MouseWheel> {::viewer::scroll_panel [expr {%D > 0 ? 4 : 5}]}
    bind PanelWheel <FocusIn> {::viewer::show_in_panel %W}
}

# Each widget of the panel scrolls it with the wheel and comes into sight
# when it takes the focus.
proc ::viewer::wheel_tags {w} {
    if {"PanelWheel" ni [bindtags $w]} {
        bindtags $w [linsert [bindtags $w] 1 PanelWheel]
    }
    foreach child [winfo children $w] {
        wheel_tags $child
    }
}

proc ::viewer::scroll_panel {button} {
    variable side
    # Scales take the wheel for themselves: the panel moves instead.
    $side.canvas yview scroll [expr {$button == 4 ? -1 : 1}] units
    return -code break
}

# Scrolls the panel so that `w` can be seen.
proc ::viewer::show_in_panel {w} {
    variable side
    variable content
    set height [winfo height $content]
    set view [winfo height $side.canvas]
    if {$height <= $view || $height <= 0} {
        return
    }
    set top [expr {[winfo rooty $w] - [winfo rooty $content]}]
    set bottom [expr {$top + [winfo height $w]}]
    lassign [$side.canvas yview] first last
    set shown_top [expr {$first * $height}]
    if {$top < $shown_top} {
        $side.canvas yview moveto [expr {double($top) / $height}]
    } elseif {$bottom > $shown_top + $view} {
        $side.canvas yview moveto [expr {double($bottom - $view) / $height}]
    }
}

# Keeps the scroll region in step with the panel, shows the scroll bar only
# while the panel is taller than the window, and lets the panel take the
# width the bar leaves.
proc ::viewer::panel_resized {} {
    variable side
    variable content
    set canvas $side.canvas
    $canvas configure -scrollregion [list 0 0 [winfo reqwidth $content] [winfo reqheight $content]]
    set short [expr {[winfo reqheight $content] > [winfo height $canvas]}]
    if {$short && ![winfo ismapped $side.scroll]} {
        grid $side.scroll
    } elseif {!$short && [winfo ismapped $side.scroll]} {
        grid remove $side.scroll
        $canvas yview moveto 0
    }
    $canvas itemconfigure content -width [winfo width $canvas]
}

# Arrow keys step a slider by one of its steps, Page keys by ten, Home
# and End go to its ends; the name beside it shows where the focus is.
proc ::viewer::bind_steps {scale name command} {
    foreach {key steps} {Left -1 Down -1 Right 1 Up 1 Prior 10 Next -10} {
        bind $scale <KeyPress-$key> "$command $steps; break"
    }
    bind $scale <FocusIn> [list $name configure -style Focus.TLabel]
    bind $scale <FocusOut> [list $name configure -style TLabel]
    # Clicking a slider gives it the keys too.
    bind $scale <ButtonPress-1> +[list focus $scale]
}

proc ::viewer::add_control {id} {
    variable panel
    variable value
    variable widget
    set w $panel.c$id
    if {[winfo exists $w]} {
        return
    }
    set info [zelkori::control info $id]
    set value($id) [dict get $info value]
    set row [llength [grid slaves $panel -column 0]]
    if {[dict get $info kind] eq "checkbox"} {
        ttk::checkbutton $w -text [dict get $info label] -variable ::viewer::value($id)
        grid $w -row $row -column 0 -columnspan 3 -sticky w
    } else {
        ttk::label $panel.n$id -text [dict get $info label]
        ttk::scale $w -orient horizontal -variable ::viewer::value($id) \
            -from [dict get $info low] -to [dict get $info high] \
            -command [list ::viewer::slider_moved $id]
        ttk::label $panel.v$id -style Value.TLabel -textvariable ::viewer::shown($id) \
            -width 5 -anchor e
        bind_steps $w $panel.n$id [list ::viewer::step_control $id]
        grid $panel.n$id $w $panel.v$id -row $row -sticky ew -pady [expr {[px 2]}]
        grid configure $panel.n$id -sticky w -padx [list 0 [px 4]]
    }
    set widget($id) $w
    show_value $id
    trace add variable value($id) write [list ::viewer::control_changed $id]
    wheel_tags $panel
}

# The value on the slider's step, as the host holds it, and shown beside
# the slider with as many decimals as the step has.
proc ::viewer::show_value {id} {
    variable shown
    set info [zelkori::control info $id]
    set step [dict get $info step]
    set digits [expr {$step == round($step) ? 0 : 1}]
    set shown($id) [format %.${digits}f [dict get $info value]]
}

proc ::viewer::control_changed {id args} {
    variable value
    set info [zelkori::control info $id]
    if {[dict get $info kind] ne "checkbox"} {
        # A dragged slider stops anywhere: bring it onto the control's step.
        set low [dict get $info low]
        set step [dict get $info step]
        set snapped [expr {$low + round(($value($id) - $low) / $step) * $step}]
        set snapped [expr {min(max($snapped, $low), [dict get $info high])}]
        if {$snapped != $value($id)} {
            set value($id) $snapped
        }
    }
    zelkori::control set $id $value($id)
    show_value $id
    refit
    request_redraw
}

proc ::viewer::step_control {id steps} {
    variable value
    set info [zelkori::control info $id]
    set value($id) [expr {min(max($value($id) + $steps * [dict get $info step],
                                  [dict get $info low]), [dict get $info high])}]
    slider_moved $id
}

# A slider the user moved. One that poses the figure only under manual
# control ticks it, so that the figure answers, and the status line says
# why the box came on.
proc ::viewer::slider_moved {id args} {
    variable gl
    variable value
    set manual [zelkori::manual_id]
    if {$manual eq "" || [zelkori::control get $manual] || ![winfo ismapped $gl]} {
        return
    }
    $gl makecurrent
    project
    if {[zelkori::needs_manual $id]} {
        set value($manual) 1
        show_message "manual control ticked: [dict get [zelkori::control info $id] label] poses the figure only under it"
    }
}

proc ::viewer::step_speed {steps} {
    variable speed
    set speed [expr {min(max($speed + $steps * [tune speed_step], [tune speed_low]),
                         [tune speed_high])}]
}

# Brings the widgets in line with the host's values (after --set).
proc ::viewer::sync_panel {} {
    variable value
    foreach control [zelkori::control list] {
        set id [dict get $control id]
        if {[info exists value($id)] && $value($id) != [dict get $control value]} {
            set value($id) [dict get $control value]
        }
    }
}

# The panel keeps its width whatever the window's height: the drawing area
# alone decides how tall the window is, and a short window scrolls the
# panel.
proc ::viewer::fix_side_width {} {
    variable side
    variable content
    wheel_tags $content
    update idletasks
    set width [expr {[winfo reqwidth $content] + [winfo reqwidth $side.scroll]}]
    grid propagate $side 0
    $side configure -width $width -height 1
}
