# What `cmake --install` puts where, the CMake package and the pkg-config
# file. Included by the top-level CMakeLists.txt after every target exists.
#
# Linux (GNUInstallDirs):            Windows (the zip, see package.cmake):
#   lib*/libvoicecontrol.so.1.0.0      bin/voicecontrol.dll + runtime DLLs
#   include/voicecontrol/...           lib/libvoicecontrol.dll.a, voicecontrol.def
#   lib*/cmake/voicecontrol/           include/voicecontrol/...
#   lib*/pkgconfig/voicecontrol.pc     README-windows.txt
#   bin/voicectl (RUNPATH $ORIGIN/../lib*), share/man/man1/voicectl.1
#   lib*/libvoicecontrol_testing.a     lib/libvoicecontrol_testing.a, bin/voicectl.exe
#   share/doc/voicecontrol/            docs/html/ (the reference)
#   lib/python3/dist-packages/voicecontrol/ (the Python package)
#
# The reference (share/doc/voicecontrol/html/ on Linux) only with
# -DVC_BUILD_REFERENCE=ON (install-reference.cmake).
#
# A further library joins the CMake package with one line,
#   install(TARGETS name EXPORT voicecontrolTargets)
# (the destinations come from GNUInstallDirs) and, if its link interface
# needs another package, one entry in VC_PACKAGE_DEPENDENCIES below.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VC_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/voicecontrol)

# The packages the exported targets' link interface needs, as arguments of
# find_dependency() in voicecontrolConfig.cmake, one list item per call.
# The DOM backend is a PRIVATE dependency of the shared library (no public
# header includes it): a host neither finds nor links it, the loader does.
set(VC_PACKAGE_DEPENDENCIES "Threads" CACHE INTERNAL "")
if(WIN32)
  set(VC_PACKAGE_DEPENDENCIES "" CACHE INTERNAL "")
endif()

install(TARGETS voicecontrol EXPORT voicecontrolTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
# Exactly the public headers (the simulator's testing/ among them); the
# internal ones under src/ stay behind.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/voicecontrol
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")
# version.h, generated into the build tree (version.cmake).
install(FILES ${VC_GENERATED_INCLUDE_DIR}/voicecontrol/version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/voicecontrol)

# The HTML reference, when it is built (VC_BUILD_REFERENCE).
include(${CMAKE_CURRENT_LIST_DIR}/install-reference.cmake)

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/install-windows.cmake)
  return()
endif()

# An installed voicectl finds the library installed beside it wherever the
# prefix is (cmake --install --prefix P: P/bin/voicectl loads
# P/lib*/libvoicecontrol.so.1) through a RUNPATH relative to its own place.
# Distribution packages, whose library lies in the loader's own path, turn it
# off (-DVC_INSTALL_RUNPATH=OFF; Debian policy forbids a RUNPATH there).
option(VC_INSTALL_RUNPATH "Give the installed voicectl a RUNPATH relative to \$ORIGIN" ON)
if(TARGET voicectl)
  install(TARGETS voicectl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(VC_INSTALL_RUNPATH)
    file(RELATIVE_PATH bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
    set_target_properties(voicectl PROPERTIES INSTALL_RPATH "$ORIGIN/${bin_to_lib}")
  endif()
  include(${CMAKE_CURRENT_LIST_DIR}/manpage.cmake)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
              ${PROJECT_SOURCE_DIR}/CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The Python package (standard library only), where Debian's python3 looks.
if(EXISTS ${PROJECT_SOURCE_DIR}/bindings/python/voicecontrol/__init__.py)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/bindings/python/voicecontrol
          DESTINATION lib/python3/dist-packages
          FILES_MATCHING PATTERN "*.py" PATTERN "py.typed" PATTERN "__pycache__" EXCLUDE)
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/docs/host-guide.md)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/host-guide.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
# The admin interface of voicectl serve, which the host guide links to.
if(EXISTS ${PROJECT_SOURCE_DIR}/docs/simulator-admin.md)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/simulator-admin.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

# The CMake package: find_package(voicecontrol 1.0 CONFIG REQUIRED) gives
# voicecontrol::voicecontrol. Every release of one major version keeps the
# interface of the ones before (docs/abi.md), so any 1.x at or above the
# requested version satisfies a request for 1.y.
install(EXPORT voicecontrolTargets NAMESPACE voicecontrol::
        DESTINATION ${VC_CMAKE_PACKAGE_DIR} FILE voicecontrolTargets.cmake)
set(VC_FIND_DEPENDENCIES "")
foreach(dependency ${VC_PACKAGE_DEPENDENCIES})
  string(APPEND VC_FIND_DEPENDENCIES "find_dependency(${dependency})\n")
endforeach()
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/voicecontrolConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/voicecontrolConfig.cmake
                              INSTALL_DESTINATION ${VC_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/voicecontrolConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/voicecontrolConfig.cmake
              ${PROJECT_BINARY_DIR}/voicecontrolConfigVersion.cmake
        DESTINATION ${VC_CMAKE_PACKAGE_DIR})

# pkg-config. The prefix is the one of the install itself (cmake --install
# --prefix, or DESTDIR with the packages' /usr), not the configured one, so
# the file is written at install time. No Requires.private: the DOM backend
# is linked into the shared library and never appears on a host's command
# line, and listing it would make `pkg-config --cflags` need its .pc file.
install(CODE "
  set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
  set(VC_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(VC_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(VC_PC_VERSION \"${PROJECT_VERSION}\")
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/voicecontrol.pc.in\"
                 \"${PROJECT_BINARY_DIR}/pkgconfig/voicecontrol.pc\" @ONLY)
")
install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/voicecontrol.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
