cmake_minimum_required(VERSION 3.20)
# Installs the build into WORK_DIR/prefix and checks the result from outside:
# the versioned shared library, the pkg-config file naming that prefix, and
# the headers project (headers/), which compiles each installed header in a
# translation unit of its own with only the install tree on the include path.

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}")
  endif()
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# libvoicecontrol.so -> .so.MAJOR -> .so.MAJOR.MINOR.PATCH, under the libdir.
string(REGEX MATCH "^[0-9]+" major ${VERSION})
foreach(name libvoicecontrol.so libvoicecontrol.so.${major} libvoicecontrol.so.${VERSION})
  file(GLOB_RECURSE found ${prefix}/lib*/${name})
  if(NOT found)
    message(FATAL_ERROR "${name} is not installed")
  endif()
endforeach()
file(GLOB_RECURSE pc ${prefix}/lib*/pkgconfig/voicecontrol.pc)
if(NOT pc)
  message(FATAL_ERROR "voicecontrol.pc is not installed")
endif()
file(STRINGS ${pc} pc_prefix REGEX "^prefix=")
if(NOT pc_prefix STREQUAL "prefix=${prefix}")
  message(FATAL_ERROR "voicecontrol.pc says ${pc_prefix}, installed under ${prefix}")
endif()
if(EXISTS ${prefix}/include/voicecontrol/internal_export.h OR EXISTS ${prefix}/include/platform)
  message(FATAL_ERROR "internal headers were installed")
endif()
if(NOT EXISTS ${prefix}/share/doc/voicecontrol/LICENSE)
  message(FATAL_ERROR "the licence is not installed")
endif()
if(NOT EXISTS ${prefix}/include/voicecontrol/version.h)
  message(FATAL_ERROR "the generated version.h is not installed")
endif()

# The installed voicectl runs as it is, with the library of its own prefix
# (RUNPATH $ORIGIN/../lib*), not one the loader might find elsewhere.
if(EXISTS ${prefix}/bin/voicectl)
  execute_process(COMMAND ${prefix}/bin/voicectl --help RESULT_VARIABLE rc
                  OUTPUT_QUIET ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the installed voicectl does not run: ${out}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LD_TRACE_LOADED_OBJECTS=1 ${prefix}/bin/voicectl
                  OUTPUT_VARIABLE loaded RESULT_VARIABLE rc)
  string(REGEX MATCH "libvoicecontrol\\.so\\.${major} => [^ ]+" binding "${loaded}")
  string(REGEX REPLACE "^.* => " "" bound "${binding}")
  file(GLOB_RECURSE own ${prefix}/lib*/libvoicecontrol.so.${major})
  file(REAL_PATH "${own}" own_real)
  if(bound STREQUAL "" OR NOT EXISTS "${bound}")
    message(FATAL_ERROR "the installed voicectl finds no libvoicecontrol.so.${major}:\n${loaded}")
  endif()
  file(REAL_PATH "${bound}" bound_real)
  if(NOT bound_real STREQUAL own_real)
    message(FATAL_ERROR "the installed voicectl loads ${bound}, not ${own}")
  endif()
  if(NOT EXISTS ${prefix}/share/man/man1/voicectl.1)
    message(FATAL_ERROR "voicectl.1 is not installed")
  endif()
endif()

# The CMake package's compatibility: any release of the same major version
# at or above the one asked for (docs/abi.md).
file(GLOB_RECURSE version_file ${prefix}/lib*/cmake/voicecontrol/voicecontrolConfigVersion.cmake)
math(EXPR next_major "${major} + 1")
math(EXPR previous_major "${major} - 1")
foreach(request_and_answer "${VERSION}:TRUE" "${major}.0:TRUE" "${major}:TRUE"
        "${next_major}.0:FALSE" "${previous_major}.0:FALSE" "${major}.999:FALSE")
  string(REPLACE ":" ";" request_and_answer ${request_and_answer})
  list(GET request_and_answer 0 PACKAGE_FIND_VERSION)
  list(GET request_and_answer 1 expected)
  string(REPLACE "." ";" parts "${PACKAGE_FIND_VERSION}.0.0")
  list(GET parts 0 PACKAGE_FIND_VERSION_MAJOR)
  list(GET parts 1 PACKAGE_FIND_VERSION_MINOR)
  list(GET parts 2 PACKAGE_FIND_VERSION_PATCH)
  set(PACKAGE_VERSION_COMPATIBLE FALSE)
  include(${version_file})
  if(NOT PACKAGE_VERSION_COMPATIBLE STREQUAL expected)
    message(FATAL_ERROR "the package ${VERSION} answers a request for ${PACKAGE_FIND_VERSION} "
                        "with ${PACKAGE_VERSION_COMPATIBLE}, not ${expected}")
  endif()
endforeach()

# A host of the build's own target: a cross build's toolchain file too
# (a 32-bit build installs its CMake package under lib/i386-linux-gnu).
set(toolchain "")
if(TOOLCHAIN)
  set(toolchain -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
endif()
run(${CMAKE_COMMAND} -S ${PROJECT_DIR} -B ${WORK_DIR}/build -G ${GENERATOR} ${toolchain}
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
    -DCMAKE_PREFIX_PATH=${prefix} -DVC_INSTALL_PREFIX=${prefix} -DVC_VERSION=${VERSION})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
