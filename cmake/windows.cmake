# Settings of the 32-bit Windows build (mingw-w64, see mingw-i686.cmake).
#
# The DLL and every executable land in one bin directory, beside the
# toolchain's runtime DLLs, as a Windows host would ship them.

set(VC_WINDOWS_BIN_DIR ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${VC_WINDOWS_BIN_DIR})
set_target_properties(voicecontrol PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${VC_WINDOWS_BIN_DIR})

# The system services the library is built on: Windows Sockets and the
# COM-based XML DOM (ole32/oleaut32 for COM and BSTRs, uuid for the IIDs).
target_link_libraries(voicecontrol PRIVATE ws2_32 ole32 oleaut32 uuid)

# The C++ runtime stays in its DLLs (libgcc_s_dw2-1, libstdc++-6 and, with
# the posix thread flavour, libwinpthread-1). i686 mingw unwinds with DWARF-2
# tables that each module registers with the unwinder it is linked with: with
# a static libgcc the DLL and the host each carry an unwinder of their own,
# and an exception thrown in the DLL cannot unwind through the host's frames
# (std::terminate). A static libstdc++ over a shared libgcc still splits the
# per-thread exception bookkeeping (std::uncaught_exceptions goes wrong).
# One shared runtime for DLL and host is the only arrangement in which the
# library's exceptions reach the host's catch blocks intact.
set(VC_RUNTIME_DLLS libgcc_s_dw2-1.dll libstdc++-6.dll libwinpthread-1.dll)
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
