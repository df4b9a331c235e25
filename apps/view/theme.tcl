# The viewer's look: Tk's clam theme recoloured as a light or a dark
# theme, with spacing that grows with the screen's scaling.

namespace eval ::viewer::theme {
    variable palettes {
        light {bg #f4f4f5 fg #1d1d20 muted #5c5c66 field #ffffff
               border #c3c3ca hover #e4e4e8 pressed #d4d4da accent #2563d8
               select #c9dafc trough #dcdce1 thumb #8d8d99 recording #c62828}
        dark  {bg #26272b fg #e8e8ec muted #a4a4ae field #1b1c1f
               border #4a4b52 hover #34353b pressed #40414a accent #6ea0ff
               select #34528a trough #3a3b41 thumb #9a9ba6 recording #ff6b6b}
    }
    variable name light
}

# The theme `wanted` (light, dark or auto) comes to. Auto follows the
# desktop: GTK_THEME when set (a dark variant ends in :dark), else GNOME's
# colour scheme (prefer-dark, prefer-light), else the colour scheme KDE
# names in kdeglobals; light when none says.
proc ::viewer::theme::choose {wanted} {
    if {$wanted ne "auto"} {
        return $wanted
    }
    if {[info exists ::env(GTK_THEME)] && $::env(GTK_THEME) ne ""} {
        return [expr {[string match -nocase *:dark $::env(GTK_THEME)] ? "dark" : "light"}]
    }
    # Bounded: a broken session bus must not hold the window up.
    if {[file executable /usr/bin/gsettings] && [file executable /usr/bin/timeout]
            && ![catch {exec /usr/bin/timeout 2 /usr/bin/gsettings get \
                            org.gnome.desktop.interface color-scheme 2>/dev/null} scheme]
            && [regexp {prefer-(dark|light)} $scheme -> theme]} {
        return $theme
    }
    if {[info exists ::env(XDG_CONFIG_HOME)] && $::env(XDG_CONFIG_HOME) ne ""} {
        set config $::env(XDG_CONFIG_HOME)
    } elseif {[info exists ::env(HOME)]} {
        set config [file join $::env(HOME) .config]
    } else {
        return light
    }
    if {![catch {open [file join $config kdeglobals]} channel]} {
        set text [read $channel]
        close $channel
        if {[regexp -line {^ColorScheme=(.*)$} $text -> scheme]} {
            return [expr {[string match -nocase *dark* $scheme] ? "dark" : "light"}]
        }
    }
    return light
}

# A colour of the theme in use.
proc ::viewer::theme::colour {key} {
    variable palettes
    variable name
    return [dict get $palettes $name $key]
}

# `points` typographic points in pixels at the screen's scaling, so that
# spacing grows with the fonts on a high-density screen.
proc ::viewer::px {points} {
    return [expr {max(1, round($points * [tk scaling]))}]
}

# The pixels a logical pixel (1/96 inch, what --size counts) takes on this
# screen, to the nearest half: 1 on an ordinary screen, 2 on a 2x one.
proc ::viewer::pixel_scale {} {
    return [expr {max(1.0, round([tk scaling] * 72 / 96.0 * 2) / 2.0)}]
}

proc ::viewer::theme::apply {theme} {
    variable palettes
    variable name $theme
    dict with palettes $theme {}
    ttk::style theme use clam
    set pad [::viewer::px 3]
    ttk::style configure . -background $bg -foreground $fg -bordercolor $border \
        -darkcolor $bg -lightcolor $bg -troughcolor $trough \
        -fieldbackground $field -selectbackground $select -selectforeground $fg \
        -insertcolor $fg -focuscolor $accent
    ttk::style map . -foreground [list disabled $muted] \
        -background [list disabled $bg active $hover]
    ttk::style configure TButton -padding [list [expr {3 * $pad}] $pad] \
        -background $hover -lightcolor $hover -darkcolor $hover
    ttk::style map TButton -background [list pressed $pressed active $pressed] \
        -lightcolor [list pressed $pressed active $pressed] \
        -darkcolor [list pressed $pressed active $pressed] \
        -bordercolor [list focus $accent]
    ttk::style configure TCheckbutton -indicatorbackground $field \
        -indicatorforeground $accent -padding [list 0 $pad] \
        -indicatorsize [::viewer::px 8] -indicatormargin [list 0 0 $pad 0]
    ttk::style map TCheckbutton -indicatorbackground [list pressed $pressed] \
        -background [list active $bg]
    ttk::style configure TEntry -padding [list $pad [expr {$pad / 2}]]
    ttk::style map TEntry -bordercolor [list focus $accent] \
        -lightcolor [list focus $accent]
    ttk::style configure TScale -background $thumb -lightcolor $thumb \
        -darkcolor $thumb -bordercolor $thumb -gripcount 0
    ttk::style map TScale -background [list focus $accent active $pressed] \
        -lightcolor [list focus $accent] -darkcolor [list focus $accent]
    ttk::style configure TScrollbar -background $thumb -lightcolor $thumb \
        -darkcolor $thumb -bordercolor $border -troughcolor $trough \
        -arrowcolor $fg -arrowsize [::viewer::px 10] -gripcount 0
    ttk::style configure TLabelframe -padding [list [expr {2 * $pad}] $pad]
    ttk::style configure TLabelframe.Label -foreground $muted -font TkHeadingFont
    ttk::style configure Value.TLabel -foreground $muted
    ttk::style configure Focus.TLabel -foreground $accent
    ttk::style configure Status.TLabel -padding [list [expr {2 * $pad}] $pad]
    ttk::style configure Recording.TLabel -foreground $recording \
        -padding [list [expr {2 * $pad}] $pad] -font TkHeadingFont
    ttk::style configure Key.TLabel -font TkFixedFont
    # Classic widgets (the menus, the root, dialogs' toplevels) take the
    # same colours through the option database.
    . configure -background $bg
    foreach {pattern value} [list *Menu.background $bg *Menu.foreground $fg \
            *Menu.activeBackground $select *Menu.activeForeground $fg \
            *Menu.selectColor $fg *Menu.relief flat *Menu.activeBorderWidth 0 \
            *Menu.disabledForeground $muted *Toplevel.background $bg \
            *Canvas.background $bg *Canvas.highlightThickness 0 \
            *TCombobox*Listbox.background $field *Listbox.background $field \
            *Listbox.foreground $fg *Listbox.selectBackground $select \
            *Listbox.selectForeground $fg] {
        option add $pattern $value
    }
}
