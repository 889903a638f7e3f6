cmake_minimum_required(VERSION 3.20)
# Checks that a Windows binary needs nothing a host would not have.
#
#   cmake -DOBJDUMP=... -DBINARY=voicecontrol.dll [-DALSO=voicecontrol.dll] -P check-imports.cmake
#
# ALSO names DLLs of the zip that BINARY may import besides (voicectl.exe
# imports voicecontrol.dll).
# Every DLL that BINARY imports must be a system DLL of the allowed set. The
# C++ runtime (libgcc, libstdc++, winpthreads) is linked in statically (see
# windows.cmake), so an import of libgcc_s_*.dll, libstdc++-6.dll or
# libwinpthread-1.dll, or of anything else, fails the check.
set(system_dlls kernel32.dll msvcrt.dll ws2_32.dll ole32.dll oleaut32.dll user32.dll advapi32.dll)
list(APPEND system_dlls ${ALSO})

execute_process(COMMAND ${OBJDUMP} -p ${BINARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${BINARY}")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
get_filename_component(file_name ${BINARY} NAME)
set(imports "")
set(failed FALSE)
foreach(line ${lines})
  string(REGEX REPLACE "DLL Name: " "" name "${line}")
  string(STRIP "${name}" name)
  string(TOLOWER "${name}" name)
  list(APPEND imports ${name})
  if(NOT name IN_LIST system_dlls)
    message(SEND_ERROR "${file_name} imports ${name}, which is not a system DLL")
    set(failed TRUE)
  endif()
endforeach()
message(STATUS "${file_name} imports: ${imports}")
if(NOT imports)
  message(FATAL_ERROR "no imports found in ${BINARY}: not a Windows DLL?")
endif()
if(failed)
  message(FATAL_ERROR "import check failed")
endif()
