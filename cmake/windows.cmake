# Settings of the Windows builds (mingw-w64, 32-bit: mingw-i686.cmake,
# 64-bit: mingw-x86_64.cmake).
#
# The DLL and every executable land in one bin directory, as a Windows host
# would ship them.

set(VC_WINDOWS_BIN_DIR ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${VC_WINDOWS_BIN_DIR})
set_target_properties(voicecontrol PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${VC_WINDOWS_BIN_DIR})

# The system services the library is built on: Windows Sockets and the
# COM-based XML DOM (ole32/oleaut32 for COM and BSTRs, uuid for the IIDs).
target_link_libraries(voicecontrol PRIVATE ws2_32 ole32 oleaut32 uuid)

# The C++ runtime: libgcc, libstdc++ and winpthreads (the posix thread
# flavour's libstdc++ needs it), linked statically into the DLL and into
# every executable of the build (-static-libgcc -static-libstdc++, and
# -static for winpthreads): voicecontrol.dll imports only system DLLs, and a
# host ships that one DLL. cmake/check-imports.cmake (the windows_dll_imports
# test) holds it to that.
#
# Each module then carries an unwinder and exception bookkeeping of its own.
# i686 unwinds with DWARF-2 tables that each module registers with its own
# unwinder: an exception thrown inside the DLL cannot unwind through the
# host's frames (std::terminate), nor one thrown in a host's callback through
# the DLL's. On x86_64 the unwinding is the system's (SEH), but each
# libstdc++ keeps its own count of exceptions in flight. So no exception
# crosses the DLL's boundary: the calls of the C++ interface that throw
# (XmlParser::Parse, the DOM classes) are inline in their headers over
# exported calls that report errors by value, and throw in the host's
# module (tests/windows/dll_boundary_test.cc).
#
# VC_WINDOWS_STATIC_RUNTIME=OFF leaves the runtime in its DLLs instead,
# copied beside voicecontrol.dll (the zips then carry them too); the import
# check is left out for such a build.
option(VC_WINDOWS_STATIC_RUNTIME
       "Link libgcc, libstdc++ and winpthreads into voicecontrol.dll and the executables"
       ON)
if(VC_WINDOWS_STATIC_RUNTIME)
  set(VC_RUNTIME_DLLS "")
  set(VC_STATIC_RUNTIME -static-libgcc -static-libstdc++ -static)
  target_link_options(voicecontrol PRIVATE ${VC_STATIC_RUNTIME})
  add_link_options(${VC_STATIC_RUNTIME})
else()
  # libgcc's DLL is named after the unwinding scheme: DWARF-2 on i686, SEH
  # on x86_64.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VC_RUNTIME_DLLS libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll)
  else()
    set(VC_RUNTIME_DLLS libgcc_s_dw2-1.dll libstdc++-6.dll libwinpthread-1.dll)
  endif()
endif()
foreach(dll ${VC_RUNTIME_DLLS})
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "the toolchain's ${dll} was not found")
  endif()
  file(COPY ${path} DESTINATION ${VC_WINDOWS_BIN_DIR})
  # Debian's copies carry debug information (libstdc++-6.dll is ~20 MB with
  # it); a host ships them without.
  if(CMAKE_STRIP)
    execute_process(COMMAND ${CMAKE_STRIP} --strip-debug ${VC_WINDOWS_BIN_DIR}/${dll})
  endif()
endforeach()

# Executables run under Wine through a wrapper with the build's own prefix.
if(CMAKE_HOST_UNIX)
  set(VC_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                 GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
endif()
