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

# libvoicecontrol.so -> .so.0 -> .so.MAJOR.MINOR.PATCH, under the libdir.
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

run(${CMAKE_COMMAND} -S ${PROJECT_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
    -DCMAKE_PREFIX_PATH=${prefix} -DVC_INSTALL_PREFIX=${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
