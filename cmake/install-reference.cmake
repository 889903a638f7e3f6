# The HTML reference of the public headers (Doxyfile), built and installed
# with the library when VC_BUILD_REFERENCE is on: the Debian packages put it
# in libvoicecontrol-doc, the Windows zips under docs/html/. Doxygen runs on
# the build machine, also for a cross build. Included by install.cmake.
#
# The Doxyfile names its inputs relative to the source tree and takes the
# version and the generated headers' directory from the environment, as
# `./run docs` gives them; here a small Doxyfile in the build tree includes
# it and only moves the output into the build tree.
option(VC_BUILD_REFERENCE "Build the HTML reference with Doxygen and install it" OFF)
if(NOT VC_BUILD_REFERENCE)
  return()
endif()

find_program(VC_DOXYGEN doxygen REQUIRED)
set(VC_REFERENCE_DIR ${PROJECT_BINARY_DIR}/reference)
file(WRITE ${PROJECT_BINARY_DIR}/Doxyfile.reference
     "@INCLUDE = ${PROJECT_SOURCE_DIR}/Doxyfile\nOUTPUT_DIRECTORY = ${VC_REFERENCE_DIR}\n")
file(GLOB_RECURSE VC_PUBLIC_HEADERS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/include/*.h)
add_custom_command(
  OUTPUT ${VC_REFERENCE_DIR}/html/index.html
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${VC_REFERENCE_DIR}
  COMMAND ${CMAKE_COMMAND} -E env VC_VERSION=${PROJECT_VERSION}
          VC_GENERATED_INCLUDE=${VC_GENERATED_INCLUDE_DIR}
          ${VC_DOXYGEN} ${PROJECT_BINARY_DIR}/Doxyfile.reference
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  DEPENDS ${PROJECT_SOURCE_DIR}/Doxyfile ${PROJECT_SOURCE_DIR}/docs/reference.md
          ${VC_PUBLIC_HEADERS} ${VC_GENERATED_INCLUDE_DIR}/voicecontrol/version.h
  COMMENT "Generating the HTML reference with Doxygen"
  VERBATIM)
add_custom_target(reference ALL DEPENDS ${VC_REFERENCE_DIR}/html/index.html)

# Doxygen's *.md5 and *.map files only speed up its next run.
if(WIN32)
  set(VC_REFERENCE_DESTINATION docs)
else()
  set(VC_REFERENCE_DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
install(DIRECTORY ${VC_REFERENCE_DIR}/html DESTINATION ${VC_REFERENCE_DESTINATION}
        PATTERN "*.md5" EXCLUDE PATTERN "*.map" EXCLUDE)
