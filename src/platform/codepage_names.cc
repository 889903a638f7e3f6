#include "platform/codepage_names.h"

#include <cstddef>

namespace voicecontrol {
namespace platform {

namespace {

// GB2312 and GBK both read as Windows' code page 936 (a superset of GB2312,
// which is what a Chinese Windows system decodes a "GB2312" answer with);
// iconv's CP936 is that same table, euro sign included.
constexpr CodePage kCodePages[] = {
    {"UTF-8", kUtf8CodePageId, "UTF-8"},   {"UTF8", kUtf8CodePageId, "UTF-8"},
    {"CP65001", kUtf8CodePageId, "UTF-8"}, {"GB18030", 54936, "GB18030"},
    {"GBK", 936, "CP936"},                 {"GB2312", 936, "CP936"},
    {"CP936", 936, "CP936"},               {"BIG5", 950, "CP950"},
    {"CP950", 950, "CP950"},               {"SHIFT_JIS", 932, "CP932"},
    {"CP932", 932, "CP932"},               {"EUC-KR", 949, "CP949"},
    {"CP949", 949, "CP949"},               {"WINDOWS-1252", 1252, "CP1252"},
    {"CP1252", 1252, "CP1252"},
};

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (UpperAscii(*a) != UpperAscii(*b)) return false;
  }
  return *a == *b;
}

}  // namespace

const CodePage* FindCodePage(const char* name) {
  if (name == nullptr) return nullptr;
  for (const CodePage& page : kCodePages) {
    if (SameName(page.name, name)) return &page;
  }
  return nullptr;
}

}  // namespace platform
}  // namespace voicecontrol
