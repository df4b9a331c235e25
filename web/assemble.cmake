# Puts the page's script and the compiled module (WebAssembly inside) into
# the page's template: one self-contained .html.
#   cmake -DTEMPLATE=page.html -DSCRIPT=page.js -DMODULE=module.js -DOUTPUT=x.html -P assemble.cmake
cmake_minimum_required(VERSION 3.16)
file(READ ${TEMPLATE} page)
file(READ ${SCRIPT} script)
file(READ ${MODULE} module)
foreach(part script module)
  string(FIND "${${part}}" "</script" closes)
  if(NOT closes EQUAL -1)
    message(FATAL_ERROR "${part} holds </script, which would end its element early")
  endif()
endforeach()
string(REPLACE "%SCRIPT%" "${script}" page "${page}")
string(REPLACE "%MODULE%" "${module}" page "${page}")
file(WRITE ${OUTPUT}.new "${page}")
file(RENAME ${OUTPUT}.new ${OUTPUT})
