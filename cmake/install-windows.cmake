# The Windows side of the install (included by install.cmake): what the zip
# holds beside the DLL, its import library and the headers.
#
#   bin/                  voicecontrol.dll (the C++ runtime linked in, see windows.cmake),
#                         voicectl.exe (client, simulated server, its admin interface)
#   lib/                  libvoicecontrol.dll.a (mingw), voicecontrol.def (MSVC: lib /def),
#                         libvoicecontrol_testing.a (the simulator, for mingw hosts' tests;
#                         installed by tools/simulator)
#   include/              voicecontrol/... (testing/simulator.h included)
#   examples/host-c/      a C host, built from the zip alone
#   examples/host-loop/   win32_loop.c, a Win32 message loop driving a host-driven
#                         controller, built from the zip alone (its Makefile)
#   bindings/dotnet/      VoiceControl.cs, the C# binding over the C interface
#   docs/html/            the reference (install-reference.cmake, VC_BUILD_REFERENCE=ON)
#   LICENSE.txt, THIRD-PARTY-NOTICES.txt, README-windows.txt, host-guide.md,
#   simulator-admin.md
#
# The zip's name says the process bitness it serves: a 32-bit host process
# can load only the win32 DLL, a 64-bit one only the win64 DLL.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(VC_WINDOWS_PACKAGE_NAME voicecontrol-${PROJECT_VERSION}-win64)
else()
  set(VC_WINDOWS_PACKAGE_NAME voicecontrol-${PROJECT_VERSION}-win32)
endif()

# The runtime DLLs copied beside the build's DLL, debug information
# already stripped: none when the runtime is linked in (the default).
list(TRANSFORM VC_RUNTIME_DLLS PREPEND ${VC_WINDOWS_BIN_DIR}/ OUTPUT_VARIABLE runtime_dlls)
if(runtime_dlls)
  install(FILES ${runtime_dlls} DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(VC_C_HEADER ${PROJECT_SOURCE_DIR}/include/voicecontrol/voicecontrol.h)
set(VC_DEF_FILE ${PROJECT_BINARY_DIR}/voicecontrol.def)
add_custom_command(OUTPUT ${VC_DEF_FILE}
                   COMMAND ${CMAKE_COMMAND} -DHEADER=${VC_C_HEADER} -DOUTPUT=${VC_DEF_FILE}
                           -P ${CMAKE_CURRENT_LIST_DIR}/write-def.cmake
                   DEPENDS ${VC_C_HEADER} ${CMAKE_CURRENT_LIST_DIR}/write-def.cmake
                           ${CMAKE_CURRENT_LIST_DIR}/c-functions.cmake
                   COMMENT "Writing voicecontrol.def from the C interface header")
add_custom_target(voicecontrol_def ALL DEPENDS ${VC_DEF_FILE})
install(FILES ${VC_DEF_FILE} DESTINATION ${CMAKE_INSTALL_LIBDIR})

# voicectl.exe, built like the DLL with the runtime linked in: it needs
# voicecontrol.dll beside it and system DLLs only.
if(TARGET voicectl)
  install(TARGETS voicectl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/host-c DESTINATION examples)
# The message-loop host and the Makefile that builds it; loop.c, the POSIX
# poll loop beside it, is for the Linux packages.
install(FILES ${PROJECT_SOURCE_DIR}/examples/host-loop/Makefile
              ${PROJECT_SOURCE_DIR}/examples/host-loop/win32_loop.c DESTINATION examples/host-loop)
# The C# source alone: Mono's dllmap file beside it is for Linux.
install(FILES ${PROJECT_SOURCE_DIR}/bindings/dotnet/VoiceControl.cs DESTINATION bindings/dotnet)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/THIRD-PARTY-NOTICES.txt
              ${PROJECT_SOURCE_DIR}/packaging/README-windows.txt
              ${PROJECT_SOURCE_DIR}/docs/host-guide.md
              ${PROJECT_SOURCE_DIR}/docs/simulator-admin.md DESTINATION .)
