# voicectl(1), written by hand in roff (docs/man/voicectl.1.in) and given the
# project's version here; the test voicectl_man_page_is_complete
# (tests/install) holds it to the options and subcommands that the built
# voicectl reports. The date is the one of the source's last change, so
# that rebuilding the same source gives the same page.
set(VC_MAN_SOURCE ${PROJECT_SOURCE_DIR}/docs/man/voicectl.1.in)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  string(TIMESTAMP VC_MAN_DATE "%Y-%m-%d" UTC)  # honours SOURCE_DATE_EPOCH
else()
  file(TIMESTAMP ${VC_MAN_SOURCE} VC_MAN_DATE "%Y-%m-%d" UTC)
endif()
configure_file(${VC_MAN_SOURCE} ${PROJECT_BINARY_DIR}/man/voicectl.1 @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/man/voicectl.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
