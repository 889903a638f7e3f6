# Release packages with CPack (./run package): a Debian package on Linux, a
# zip of the DLL and what a Windows host needs from the mingw-w64 build.
# Both take what `cmake --install` installs (install.cmake), stripped.
set(CPACK_PACKAGE_NAME voicecontrol)
set(CPACK_PACKAGE_VENDOR "voicecontrol")
set(CPACK_PACKAGE_CONTACT "voicecontrol maintainers <voicecontrol@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "client library of a voice-conference service, with a C interface and a simulator")
set(CPACK_PACKAGE_DESCRIPTION
    "voicecontrol drives a voice-conference server: six commands, each one HTTP/1.1 request \
on its own TCP connection, answers delivered to the host's callbacks. C++17 and C interfaces, \
a CMake package, a pkg-config file, and voicectl, a command-line client and simulated server.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES TRUE)
set(CPACK_THREADS 0)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  # voicecontrol-VERSION-win32.zip or -win64.zip (install-windows.cmake), its
  # files under a folder of the same name.
  set(CPACK_PACKAGE_FILE_NAME ${VC_WINDOWS_PACKAGE_NAME})
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  # The install runs under DESTDIR with the real prefix, so that files
  # written at install time (voicecontrol.pc) name /usr, not the staging
  # directory.
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # voicecontrol_0.1.0_amd64.deb
  set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://localhost/voicecontrol")
  # Depends from the ELF files (libc6, libstdc++6, libgcc-s1, the DOM
  # library): dpkg-shlibdeps, from dpkg-dev.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # voicectl links the package's own library.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
  # A shlibs file and the ldconfig trigger for libvoicecontrol.so.0.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cmake, pkg-config, g++ | c-compiler, python3")
endif()

include(CPack)
