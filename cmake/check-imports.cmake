cmake_minimum_required(VERSION 3.20)
# Checks that a Windows binary needs nothing a host would not have.
#
#   cmake -DOBJDUMP=... -DBINARY=voicecontrol.dll -DBIN_DIR=... -P check-imports.cmake
#
# Every DLL that BINARY imports must be a system DLL of the allowed set, or
# one of the toolchain runtime DLLs shipped in BIN_DIR, whose own imports
# are checked the same way. A DLL built with the runtime linked in
# (VC_WINDOWS_STATIC_RUNTIME, see windows.cmake) has no runtime DLLs beside
# it, so there any import beyond the system set fails.
set(system_dlls kernel32.dll msvcrt.dll ws2_32.dll ole32.dll oleaut32.dll user32.dll advapi32.dll)
# libgcc is libgcc_s_dw2-1.dll on i686 (DWARF-2 unwinding), libgcc_s_seh-1.dll
# on x86_64 (the system's SEH unwinding).
set(runtime_dlls libgcc_s_dw2-1.dll libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll)

function(imports_of file out)
  execute_process(COMMAND ${OBJDUMP} -p ${file} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${file}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
  set(names "")
  foreach(line ${lines})
    string(REGEX REPLACE "DLL Name: " "" name "${line}")
    string(STRIP "${name}" name)
    string(TOLOWER "${name}" name)
    list(APPEND names ${name})
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

set(pending ${BINARY})
set(seen "")
set(failed FALSE)
while(pending)
  list(POP_FRONT pending file)
  get_filename_component(file_name ${file} NAME)
  string(TOLOWER "${file_name}" file_name)
  if(file_name IN_LIST seen)
    continue()
  endif()
  list(APPEND seen ${file_name})
  imports_of(${file} imports)
  message(STATUS "${file_name} imports: ${imports}")
  foreach(dll ${imports})
    if(dll IN_LIST system_dlls)
      continue()
    endif()
    if(dll IN_LIST runtime_dlls)
      if(NOT EXISTS ${BIN_DIR}/${dll})
        message(SEND_ERROR "${file_name} needs ${dll}, which is not shipped in ${BIN_DIR}")
        set(failed TRUE)
      else()
        list(APPEND pending ${BIN_DIR}/${dll})
      endif()
      continue()
    endif()
    message(SEND_ERROR "${file_name} imports ${dll}, which is neither a system DLL nor a shipped runtime DLL")
    set(failed TRUE)
  endforeach()
endwhile()
if(failed)
  message(FATAL_ERROR "import check failed")
endif()
