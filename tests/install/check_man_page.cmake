cmake_minimum_required(VERSION 3.20)
# voicectl(1) must not fall behind voicectl: every subcommand that
# `voicectl --help` lists, and every option of it and of each subcommand's
# --help, appears in the man page.
#
#   cmake -DVOICECTL=.../voicectl -DMAN_PAGE=.../voicectl.1 -P check_man_page.cmake
file(READ ${MAN_PAGE} page)
# The roff source spells a hyphen in an option as \-.
string(REPLACE "\\-" "-" page "${page}")

function(help_of out)
  execute_process(COMMAND ${VOICECTL} ${ARGN} --help RESULT_VARIABLE rc
                  OUTPUT_VARIABLE text ERROR_VARIABLE text)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "voicectl ${ARGN} --help failed (${rc}): ${text}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

help_of(main)
string(REGEX MATCH "\n[Ss][Uu][Bb][Cc][Oo][Mm][Mm][Aa][Nn][Dd][Ss]:\n(  [a-z][^\n]*\n)+" listing "${main}")
string(REGEX MATCHALL "\n  [a-z][a-z0-9-]*" subcommands "${listing}")
list(TRANSFORM subcommands STRIP)
if(NOT subcommands)
  message(FATAL_ERROR "no subcommands found in voicectl --help:\n${main}")
endif()

set(missing "")
function(expect_options help context)
  string(REGEX MATCHALL "--[a-z0-9][a-z0-9-]*" options "${help}")
  list(REMOVE_DUPLICATES options)
  foreach(option ${options})
    string(FIND "${page}" "${option}" at)
    if(at EQUAL -1)
      list(APPEND missing "${context} ${option}")
    endif()
  endforeach()
  set(missing "${missing}" PARENT_SCOPE)
endfunction()

expect_options("${main}" "voicectl")
foreach(subcommand ${subcommands})
  if(NOT page MATCHES "\\.(B|SS|TP)[^\n]*${subcommand}")
    list(APPEND missing "subcommand ${subcommand}")
  endif()
  help_of(help ${subcommand})
  expect_options("${help}" "voicectl ${subcommand}")
endforeach()

if(missing)
  string(REPLACE ";" "\n  " missing "${missing}")
  message(FATAL_ERROR "${MAN_PAGE} does not describe:\n  ${missing}")
endif()
list(LENGTH subcommands count)
message(STATUS "voicectl.1 covers ${count} subcommands and their options")
