cmake_minimum_required(VERSION 3.20)
# Writes the module-definition file of the C interface:
#
#   cmake -DHEADER=include/voicecontrol/voicecontrol.h -DOUTPUT=voicecontrol.def -P write-def.cmake
#
# An MSVC user makes an import library from it (lib /def:voicecontrol.def
# /machine:x86 /out:voicecontrol.lib, /machine:x64 for the 64-bit DLL). The
# C functions are __cdecl, which both DLLs export under their plain names.
include(${CMAKE_CURRENT_LIST_DIR}/c-functions.cmake)
vc_c_functions(${HEADER} names)
set(text "LIBRARY voicecontrol.dll\nEXPORTS\n")
foreach(name ${names})
  string(APPEND text "    ${name}\n")
endforeach()
file(WRITE ${OUTPUT} "${text}")
