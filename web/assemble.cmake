# Puts the page's script and the compiled module (WebAssembly inside) into
# the page's template: one self-contained .html.
# The host library's Tcl part goes in as text, evaluated as a host's
# `package require zelkori` sources it.
#   cmake -DTEMPLATE=page.html -DSCRIPT=page.js -DMODULE=module.js -DHOSTTCL=zelkori.tcl
#         -DOUTPUT=x.html -P assemble.cmake
cmake_minimum_required(VERSION 3.16)
file(READ ${TEMPLATE} page)
file(READ ${SCRIPT} script)
file(READ ${MODULE} module)
file(READ ${HOSTTCL} hosttcl)
foreach(part script module hosttcl)
  string(FIND "${${part}}" "</script" closes)
  if(NOT closes EQUAL -1)
    message(FATAL_ERROR "${part} holds </script, which would end its element early")
  endif()
endforeach()
string(REPLACE "%HOSTTCL%" "${hosttcl}" page "${page}")
string(REPLACE "%SCRIPT%" "${script}" page "${page}")
string(REPLACE "%MODULE%" "${module}" page "${page}")
file(WRITE ${OUTPUT}.new "${page}")
file(RENAME ${OUTPUT}.new ${OUTPUT})
