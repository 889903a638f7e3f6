# The dynamic symbols of the shared library on ELF platforms: the version
# script src/libvoicecontrol.map exports the C and the C++ interface under
# the version node VOICECONTROL_1.0 and hides the rest (the standard library
# template instances that visibility alone lets through).
# cmake/check-elf-exports.cmake checks the result.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(VC_VERSION_SCRIPT ${PROJECT_SOURCE_DIR}/src/libvoicecontrol.map)
  target_link_options(voicecontrol PRIVATE "LINKER:--version-script=${VC_VERSION_SCRIPT}"
                      "LINKER:--no-undefined-version")
  set_property(TARGET voicecontrol APPEND PROPERTY LINK_DEPENDS ${VC_VERSION_SCRIPT})
endif()
