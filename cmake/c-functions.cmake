# vc_c_functions(header out): the names of the functions that the C
# interface header declares with VC_API, in order. The .def file of the
# Windows package and the check of the DLL's export table both read the
# header itself, so neither can fall behind it.
function(vc_c_functions header out)
  file(READ ${header} text)
  string(REGEX MATCHALL "VC_API[^;(]*VC_CALL[ \t\r\n]+vc_[A-Za-z0-9_]+[ \t\r\n]*\\(" declarations
         "${text}")
  set(names "")
  foreach(declaration ${declarations})
    string(REGEX MATCH "vc_[A-Za-z0-9_]+[ \t\r\n]*\\($" name "${declaration}")
    string(REGEX REPLACE "[ \t\r\n]*\\($" "" name "${name}")
    list(APPEND names ${name})
  endforeach()
  if(NOT names)
    message(FATAL_ERROR "no VC_API function found in ${header}")
  endif()
  set(${out} ${names} PARENT_SCOPE)
endfunction()
