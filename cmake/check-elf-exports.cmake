cmake_minimum_required(VERSION 3.20)
# Checks the dynamic symbol table of the shared library: it exports the C
# interface and the C++ interface (namespace voicecontrol), each symbol under
# the version node VERSION_NODE or a later node of the same major version
# (VOICECONTROL_1.1 after VOICECONTROL_1.0: what a minor release adds), and
# nothing else: no instance of a standard library template, no internal
# namespace unless ALLOW_INTERNALS (the builds of this tree's white-box
# tests, VC_EXPORT_INTERNALS).
#
#   cmake -DNM=nm -DBINARY=libvoicecontrol.so.1 -DHEADER=.../voicecontrol.h
#         -DVERSION_NODE=VOICECONTROL_1.0 [-DALLOW_INTERNALS=ON] -P check-elf-exports.cmake
include(${CMAKE_CURRENT_LIST_DIR}/c-functions.cmake)

execute_process(COMMAND ${NM} -D -C --defined-only ${BINARY}
                OUTPUT_VARIABLE dump RESULT_VARIABLE rc ERROR_VARIABLE error)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${BINARY}: ${error}")
endif()
# One symbol a line: "address type name@@node" (no address for the node's
# own absolute symbol). Demangled names hold spaces and may hold ';'.
string(REPLACE ";" "<semicolon>" dump "${dump}")
string(REPLACE "\n" ";" lines "${dump}")

# How the symbols of the C++ interface begin.

set(cxx_interface "^((typeinfo|typeinfo name|vtable|VTT) for |(non-)?virtual thunk to )?voicecontrol::")

# The nodes of VERSION_NODE's major version: "VOICECONTROL_1.0" gives
# "VOICECONTROL_1\.[0-9]+".
string(REGEX REPLACE "\\.[0-9]+$" "" major_node "${VERSION_NODE}")
string(REPLACE "." "\\." major_node "${major_node}")
set(node_pattern "${major_node}\\.[0-9]+")

set(unexpected "")
set(internals "")
set(unversioned "")
set(exported_c "")
set(count 0)
foreach(line ${lines})
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" symbol "${line}")
  if(symbol STREQUAL "" OR symbol MATCHES "^${node_pattern}$")
    continue()
  endif()
  math(EXPR count "${count} + 1")
  if(NOT symbol MATCHES "@@?${node_pattern}$")
    list(APPEND unversioned "${symbol}")
  endif()
  string(REGEX REPLACE "@@?[A-Za-z0-9_.]+$" "" name "${symbol}")
  if(name MATCHES "^vc_[A-Za-z0-9_]+$")
    list(APPEND exported_c ${name})
  elseif(name MATCHES "${cxx_interface}")
    string(REGEX REPLACE "${cxx_interface}" "voicecontrol::" qualified "${name}")
    if(qualified MATCHES "^voicecontrol::(internal|platform|xml_memory|\\(anonymous namespace\\))::"
       AND NOT ALLOW_INTERNALS)
      list(APPEND internals "${name}")
    endif()
  else()
    list(APPEND unexpected "${name}")
  endif()
endforeach()

vc_c_functions(${HEADER} declared)
set(missing "")
foreach(function ${declared})
  if(NOT function IN_LIST exported_c)
    list(APPEND missing ${function})
  endif()
endforeach()

function(report heading entries)
  list(LENGTH entries n)
  string(REPLACE ";" "\n  " entries "${entries}")
  string(REPLACE "<semicolon>" ";" entries "${entries}")
  message(SEND_ERROR "${BINARY}: ${n} ${heading}:\n  ${entries}")
endfunction()
if(unexpected)
  report("symbols outside the interface (standard library instances?)" "${unexpected}")
endif()
if(internals)
  report("internal symbols exported" "${internals}")
endif()
if(unversioned)
  report("symbols without the version node ${VERSION_NODE} or a later one of its major version"
         "${unversioned}")
endif()
if(missing)
  report("C functions of the header not exported" "${missing}")
endif()
if(unexpected OR internals OR unversioned OR missing)
  message(FATAL_ERROR "the exports of ${BINARY} are wrong")
endif()
list(LENGTH exported_c c_count)
message(STATUS "${BINARY}: ${count} dynamic symbols, ${c_count} of them C functions, "
               "all under ${VERSION_NODE} or a later node of its major version")
