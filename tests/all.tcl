# Runs every tests/*.test file, each in its own tclsh, and exits non-zero
# when any test fails. ctest runs one file per entry (-file NAME.test); by
# hand, `tclsh tests/all.tcl` runs them all.
package require tcltest 2.5
namespace import ::tcltest::*

configure -testdir [file dirname [file normalize [info script]]] {*}$argv
configure -singleproc 0
exit [runAllTests]
