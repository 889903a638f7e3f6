cmake_minimum_required(VERSION 3.20)
# Checks that a DLL exports every function of the C interface under its
# plain name (no leading underscore, no @N suffix), the names that the
# .def file of the Windows package lists and an MSVC host links against:
#
#   cmake -DOBJDUMP=... -DBINARY=voicecontrol.dll -DHEADER=.../voicecontrol.h -P check-exports.cmake
include(${CMAKE_CURRENT_LIST_DIR}/c-functions.cmake)
vc_c_functions(${HEADER} expected)

execute_process(COMMAND ${OBJDUMP} -p ${BINARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${BINARY}")
endif()
# The export table's name list: lines "\t[ n] name" after its heading.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${BINARY} has no export name table")
endif()
string(SUBSTRING "${dump}" ${start} -1 table)
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\r\n]+" rows "${table}")
set(exported "")
foreach(row ${rows})
  string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" name "${row}")
  string(STRIP "${name}" name)
  list(APPEND exported ${name})
endforeach()

set(missing "")
foreach(name ${expected})
  if(NOT name IN_LIST exported)
    list(APPEND missing ${name})
  endif()
endforeach()
list(LENGTH expected count)
if(missing)
  list(FILTER exported INCLUDE REGEX "vc_")
  message(FATAL_ERROR "not exported under their plain names: ${missing}\n"
                      "exported names with vc_: ${exported}")
endif()
message(STATUS "all ${count} C functions exported: ${expected}")
