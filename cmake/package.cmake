# The Windows zip with CPack (./run package windows): what `cmake --install`
# installs from the mingw-w64 build (install.cmake), stripped. The Debian
# packages are built by debhelper from debian/ (./run package), not here.
if(NOT WIN32)
  return()
endif()

set(CPACK_PACKAGE_NAME voicecontrol)
set(CPACK_PACKAGE_VENDOR "The voicecontrol developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "client library of a voice-conference service, with a C interface")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES TRUE)
set(CPACK_THREADS 0)
set(CPACK_GENERATOR ZIP)
# voicecontrol-VERSION-win32.zip or -win64.zip (install-windows.cmake), its
# files under a folder of the same name.
set(CPACK_PACKAGE_FILE_NAME ${VC_WINDOWS_PACKAGE_NAME})

include(CPack)
