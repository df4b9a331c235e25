# Tcl, and Tk for the viewer, each from one installation: headers, library
# and tclsh of the version its tclConfig.sh (tkConfig.sh) names. The first
# prefix in CMAKE_PREFIX_PATH holding a Tcl wins, then /usr/local and /usr.
# Sets MORVAKINE_TCL_VERSION (8.6, 9.0), MORVAKINE_TCL_MAJOR, TCL_TCLSH and
# the target morvakine_tcl; with a Tk of the same major, morvakine_tk and
# MORVAKINE_TK_FOUND, and morvakine_tk_stubs for modules that reach Tcl
# and Tk through their stub tables alone.

# Reads the NAME='value' lines of a tclConfig.sh or tkConfig.sh.
function(morvakine_read_config file)
  file(STRINGS ${file} lines REGEX "^T[CK]L?_[A-Z_]+='[^']*'$")
  foreach(line IN LISTS lines)
    string(REGEX MATCH "^([A-Z_]+)='([^']*)'$" _ "${line}")
    set(${CMAKE_MATCH_1} "${CMAKE_MATCH_2}" PARENT_SCOPE)
  endforeach()
endfunction()

# The first -I or -L directory of a compiler or linker flag string.
function(morvakine_flag_dir out flag flags)
  string(REGEX MATCH "${flag}([^ ]+)" _ "${flags}")
  set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

set(_arch ${CMAKE_LIBRARY_ARCHITECTURE})
# Debian keeps each version apart; 8.6 first, where a system holds both.
set(_suffixes lib/${_arch}/tcl8.6 lib/${_arch}/tcl9.0 lib/tcl8.6 lib/tcl9.0 lib)
find_file(TCL_CONFIG tclConfig.sh PATHS ${CMAKE_PREFIX_PATH} /usr/local /usr
  PATH_SUFFIXES ${_suffixes} NO_DEFAULT_PATH)
if(NOT TCL_CONFIG)
  message(FATAL_ERROR "No Tcl found: no tclConfig.sh under ${CMAKE_PREFIX_PATH} /usr/local /usr "
    "(Debian package tcl8.6-dev, or -DCMAKE_PREFIX_PATH=<Tcl prefix>, or -DTCL_CONFIG=<file>)")
endif()
morvakine_read_config(${TCL_CONFIG})
morvakine_flag_dir(_tcl_include -I "${TCL_INCLUDE_SPEC}")
morvakine_flag_dir(_tcl_libdir -L "${TCL_LIB_SPEC}")
set(TCL_TCLSH ${TCL_EXEC_PREFIX}/bin/tclsh${TCL_VERSION})

# The three pieces must agree with the configuration file.
file(STRINGS ${_tcl_include}/tcl.h _header_version
  REGEX "^#[ \t]*define[ \t]+TCL_VERSION[ \t]")
string(REGEX MATCH "[0-9]+\\.[0-9]+" _header_version "${_header_version}")
set(_shell_version)
if(EXISTS ${TCL_TCLSH})
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "puts [info tclversion]"
    COMMAND ${TCL_TCLSH} OUTPUT_VARIABLE _shell_version OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
set(_library_state missing)
if(EXISTS ${_tcl_libdir}/${TCL_LIB_FILE})
  set(_library_state there)
endif()
if(NOT _header_version STREQUAL TCL_VERSION OR NOT _shell_version STREQUAL TCL_VERSION
   OR NOT _library_state STREQUAL there)
  message(FATAL_ERROR "${TCL_CONFIG} names Tcl ${TCL_VERSION}, but ${_tcl_include}/tcl.h "
    "is Tcl '${_header_version}', ${TCL_TCLSH} runs Tcl '${_shell_version}' and "
    "${_tcl_libdir}/${TCL_LIB_FILE} is ${_library_state}: headers, library and tclsh "
    "must come from one Tcl (-DTCL_CONFIG=<its tclConfig.sh> picks another)")
endif()
# Cached too, for the tests of a build beside this one.
set(MORVAKINE_TCL_VERSION ${TCL_VERSION} CACHE INTERNAL "Tcl version built for")
set(TCL_TCLSH ${TCL_TCLSH} CACHE INTERNAL "tclsh of that version")
set(MORVAKINE_TCL_MAJOR ${TCL_MAJOR_VERSION})
message(STATUS "Tcl ${TCL_VERSION}${TCL_PATCH_LEVEL}: ${TCL_TCLSH}, ${_tcl_libdir}/${TCL_LIB_FILE}")
add_library(morvakine_tcl INTERFACE)
target_include_directories(morvakine_tcl INTERFACE ${_tcl_include})
target_link_libraries(morvakine_tcl INTERFACE ${_tcl_libdir}/${TCL_LIB_FILE})

# Tk of the same version, beside this Tcl.
find_file(TK_CONFIG tkConfig.sh PATHS ${CMAKE_PREFIX_PATH} /usr/local /usr
  PATH_SUFFIXES lib/${_arch}/tk${TCL_VERSION} lib/tk${TCL_VERSION} lib NO_DEFAULT_PATH)
set(MORVAKINE_TK_FOUND OFF)
if(TK_CONFIG)
  morvakine_read_config(${TK_CONFIG})
  morvakine_flag_dir(_tk_include -I "${TK_INCLUDE_SPEC}")
  morvakine_flag_dir(_tk_libdir -L "${TK_LIB_SPEC}")
  if(TK_VERSION STREQUAL TCL_VERSION AND EXISTS ${_tk_include}/tk.h
     AND EXISTS ${_tk_libdir}/${TK_LIB_FILE}
     AND EXISTS "${TK_STUB_LIB_PATH}" AND EXISTS "${TCL_STUB_LIB_PATH}")
    set(MORVAKINE_TK_FOUND ON)
    add_library(morvakine_tk INTERFACE)
    target_include_directories(morvakine_tk INTERFACE ${_tk_include})
    target_link_libraries(morvakine_tk INTERFACE ${_tk_libdir}/${TK_LIB_FILE} morvakine_tcl)
    add_library(morvakine_tk_stubs INTERFACE)
    target_include_directories(morvakine_tk_stubs INTERFACE ${_tk_include} ${_tcl_include})
    target_compile_definitions(morvakine_tk_stubs INTERFACE USE_TCL_STUBS USE_TK_STUBS)
    target_link_libraries(morvakine_tk_stubs INTERFACE ${TK_STUB_LIB_PATH} ${TCL_STUB_LIB_PATH})
  endif()
endif()
if(NOT MORVAKINE_TK_FOUND)
  message(STATUS "No Tk ${TCL_VERSION} found beside Tcl ${TCL_VERSION}: the viewer is left out")
endif()
