# include/voicecontrol/version.h, generated from the project's version into
# the build tree (<build>/include), which joins the library's public
# include directories and is installed with the other headers.
foreach(part MAJOR MINOR PATCH)
  if(PROJECT_VERSION_${part} GREATER 255)
    message(FATAL_ERROR "version part ${part} (${PROJECT_VERSION_${part}}) must fit one byte "
                        "of VOICECONTROL_VERSION_NUM")
  endif()
endforeach()

# 0xMMNNPP, two hexadecimal digits a part, as LIBCURL_VERSION_NUM.
set(VC_VERSION_NUM "0x")
foreach(part MAJOR MINOR PATCH)
  math(EXPR digits "${PROJECT_VERSION_${part}}" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x" "" digits "${digits}")
  string(LENGTH "${digits}" length)
  if(length EQUAL 1)
    set(digits "0${digits}")
  endif()
  string(APPEND VC_VERSION_NUM "${digits}")
endforeach()

set(VC_GENERATED_INCLUDE_DIR ${PROJECT_BINARY_DIR}/include)
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in
               ${VC_GENERATED_INCLUDE_DIR}/voicecontrol/version.h @ONLY)
target_include_directories(voicecontrol PUBLIC $<BUILD_INTERFACE:${VC_GENERATED_INCLUDE_DIR}>)
