# cmake -DIN=page.html -DOUT=page.cc -P embed_page.cmake: the page as the
# C++ string kAdminPage. The raw string's delimiter must not occur in it.
file(READ "${IN}" page)
string(FIND "${page}" ")vcpage\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${IN} holds the raw string's delimiter )vcpage\"")
endif()
file(WRITE "${OUT}" "// Built from admin_page.html by embed_page.cmake.\n"
  "namespace voicecontrol {\nnamespace testing {\n"
  "extern const char kAdminPage[];\n"
  "const char kAdminPage[] = R\"vcpage(${page})vcpage\";\n"
  "}  // namespace testing\n}  // namespace voicecontrol\n")
