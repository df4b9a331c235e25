# Dialogs: the desktop's own file dialog where one is installed (zenity or
# kdialog), Tk's otherwise; the folder last used is offered next time; and
# the forms that ask how to record and what to export.

namespace eval ::viewer {
    variable last_dir {}           ;# the folder of the last file chosen
    variable asking 0              ;# a file dialog is open
    variable form_state            ;# array: the open form's values and outcome
}

# Ctrl+A selects all of an entry, as on every other desktop, not the
# start of the line (Home does that).
event delete <<LineStart>> <Control-Key-a> <Control-Lock-Key-A>
event delete <<SelectLineStart>> <Control-Key-A> <Control-Lock-Key-a>
event add <<SelectAll>> <Control-Key-a> <Control-Lock-Key-A>

# Which file dialog asks: MORVAKINE_FILE_DIALOG (tk, zenity or kdialog)
# when set, else kdialog on KDE, zenity where installed, kdialog, then Tk's.
proc ::viewer::dialog_program {} {
    set asked [expr {[info exists ::env(MORVAKINE_FILE_DIALOG)] ? $::env(MORVAKINE_FILE_DIALOG) : ""}]
    if {$asked eq "tk"} {
        return {}
    }
    set order {zenity kdialog}
    if {[info exists ::env(XDG_CURRENT_DESKTOP)] && [string match -nocase *kde* $::env(XDG_CURRENT_DESKTOP)]} {
        set order {kdialog zenity}
    }
    if {$asked ne ""} {
        set order [list $asked]
    }
    foreach name $order {
        set path [auto_execok $name]
        if {$path ne ""} {
            return [list $name [lindex $path 0]]
        }
    }
    return {}
}

# Asks for a file name to save to; empty when the dialog is cancelled. The
# clock stops while the dialog is open, so that a name made from it still
# names the time of the frame saved or recorded.
proc ::viewer::ask_file {title types initial} {
    variable last_dir
    variable asking
    if {$asking} {
        return {}
    }
    # The type shown first is the one of the name offered.
    foreach row $types {
        if {[string equal -nocase [lindex $row 1 0] [file extension $initial]]} {
            set types [linsert [lsearch -all -inline -exact -not $types $row] 0 $row]
            break
        }
    }
    set dir [expr {$last_dir ne "" && [file isdirectory $last_dir] ? $last_dir : [pwd]}]
    set playing [zelkori::clock playing]
    zelkori::clock pause
    set asking 1
    try {
        set program [dialog_program]
        if {$program eq ""} {
            set file [tk_dialog_file $title $types $dir [file tail $initial]]
        } else {
            set file [desktop_dialog {*}$program $title $types $dir [file tail $initial]]
        }
    } finally {
        set asking 0
        if {$playing} {
            zelkori::clock play
        }
    }
    if {$file ne ""} {
        # A name typed without an extension takes the offered one.
        if {[file extension $file] eq ""} {
            append file [lindex $types 0 1 0]
        }
        set last_dir [file dirname $file]
    }
    return $file
}

proc ::viewer::tk_dialog_file {title types dir name} {
    # The dialog reads and sets its type variable as a global name.
    set ::viewer::dialog_type [lindex $types 0 0]
    tk_getSaveFile -parent . -title $title -filetypes $types -initialdir $dir \
        -initialfile $name -defaultextension [lindex $types 0 1 0] \
        -typevariable ::viewer::dialog_type
}

# Runs zenity or kdialog and waits for its answer while the window goes on
# drawing; empty when cancelled (or when the program fails).
proc ::viewer::desktop_dialog {name path title types dir file} {
    set start [file join $dir $file]
    if {$name eq "zenity"} {
        set command [list $path --file-selection --save --confirm-overwrite \
            --title=$title --filename=$start]
        foreach row $types {
            lassign $row label extensions
            lappend command "--file-filter=$label | [join [lmap e $extensions {string cat * $e}]]"
        }
    } else {
        set filters [lmap row $types {
            lassign $row label extensions
            string cat [join [lmap e $extensions {string cat * $e}]] | $label
        }]
        set command [list $path --title $title --getsavefilename $start [join $filters \n]]
    }
    variable dialog_answer
    unset -nocomplain dialog_answer
    if {[catch {open |[concat $command [list 2>/dev/null]] r} channel]} {
        show_message "cannot run $name: $channel"
        return {}
    }
    fconfigure $channel -blocking 0
    set ::viewer::dialog_text {}
    fileevent $channel readable [list apply {{channel} {
        append ::viewer::dialog_text [read $channel]
        if {[eof $channel]} {
            fconfigure $channel -blocking 1
            set ::viewer::dialog_answer [expr {[catch {close $channel}] ? "" : $::viewer::dialog_text}]
        }
    }} $channel]
    vwait ::viewer::dialog_answer
    return [string trimright $dialog_answer \n]
}

# Asks in a dialog of its own for `fields`, a list of {key label kind
# value ?choices?}: kind file (an entry and a button asking through
# ask_file with `types`), entry, or choice (radio buttons, `choices` a
# list of value and label). `check` gets the values as a dict and returns
# an error to show, or nothing. Returns the values as a dict; empty when
# cancelled.
proc ::viewer::form {title fields types check} {
    variable form_state
    array unset form_state
    set w .form
    destroy $w
    toplevel $w
    wm title $w $title
    wm transient $w .
    set body [ttk::frame $w.body -padding [px 12]]
    set row 0
    foreach field $fields {
        lassign $field key label kind value choices
        set form_state($key) $value
        grid [ttk::label $body.l$row -text $label] -row $row -column 0 -sticky nw -pady [px 3]
        switch -- $kind {
            file {
                set f [ttk::frame $body.f$row]
                ttk::entry $f.entry -width 40 -textvariable ::viewer::form_state($key)
                ttk::button $f.choose -text "Choose…" -command [list apply {{key title types} {
                    set file [::viewer::ask_file $title $types $::viewer::form_state($key)]
                    if {$file ne ""} {
                        set ::viewer::form_state($key) $file
                    }
                }} $key $title $types]
                pack $f.entry -side left -fill x -expand 1
                pack $f.choose -side left -padx [list [px 6] 0]
                $f.entry icursor end
                $f.entry xview end
            }
            entry {
                set f [ttk::entry $body.f$row -width 12 -textvariable ::viewer::form_state($key)]
            }
            choice {
                set f [ttk::frame $body.f$row]
                set i 0
                foreach {choice text} $choices {
                    grid [ttk::radiobutton $f.c[incr i] -text $text -value $choice \
                              -variable ::viewer::form_state($key)] -sticky w
                }
            }
        }
        grid $f -row $row -column 1 -sticky ew -pady [px 3] -padx [list [px 12] 0]
        incr row
    }
    grid columnconfigure $body 1 -weight 1
    ttk::label $w.problem -style Recording.TLabel -textvariable ::viewer::form_state(problem)
    set buttons [ttk::frame $w.buttons]
    ttk::button $buttons.ok -text OK -default active -command [list ::viewer::form_done $check]
    ttk::button $buttons.cancel -text Cancel -command {set ::viewer::form_state(outcome) cancel}
    pack $buttons.cancel $buttons.ok -side right -padx [list [px 6] 0]
    pack $body -fill both -expand 1
    pack $w.problem -fill x -padx [px 12]
    pack $buttons -fill x -padx [px 12] -pady [px 12]
    bind $w <KeyPress-Return> [list $buttons.ok invoke]
    bind $w <KeyPress-KP_Enter> [list $buttons.ok invoke]
    bind $w <KeyPress-Escape> [list $buttons.cancel invoke]
    wm protocol $w WM_DELETE_WINDOW [list $buttons.cancel invoke]
    set form_state(problem) {}
    set form_state(outcome) {}
    focus [tk_focusNext $w]
    catch {grab $w}
    vwait ::viewer::form_state(outcome)
    catch {grab release $w}
    destroy $w
    if {$form_state(outcome) ne "ok"} {
        return {}
    }
    return [dict create {*}[concat {*}[lmap field $fields {
        list [lindex $field 0] $form_state([lindex $field 0])
    }]]]
}

proc ::viewer::form_done {check} {
    variable form_state
    set values [dict create]
    foreach key [array names form_state] {
        if {$key ni {problem outcome}} {
            dict set values $key $form_state($key)
        }
    }
    set problem [{*}$check $values]
    if {$problem ne ""} {
        set form_state(problem) $problem
        return
    }
    set form_state(outcome) ok
}
