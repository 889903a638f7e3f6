#include "platform/codepage_names.h"

#include <cstddef>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>

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

bool IsSystemCodePageName(const char* name) {
  if (name == nullptr) return false;
  const size_t length = std::strlen(name);
  if (length == 0 || length > 40) return false;
  for (const char* p = name; *p != '\0'; ++p) {
    const char c = *p;
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                         c == '.' || c == '_' || c == ':' || c == '-';
    if (!allowed) return false;
  }
  return true;
}

const CodePage* RememberSystemCodePage(const char* name, unsigned windowsId, const char* iconvName) {
  struct Remembered {
    std::string name;
    std::string iconvName;
    CodePage page;
  };
  // Never destroyed: a selected row must outlive every thread that reads it.
  static std::mutex* const mutex = new std::mutex;
  static std::deque<Remembered>* const rows = new std::deque<Remembered>;
  const std::lock_guard<std::mutex> lock(*mutex);
  for (const Remembered& row : *rows) {
    if (SameName(row.name.c_str(), name)) return &row.page;
  }
  rows->push_back(Remembered{name, iconvName != nullptr ? iconvName : "", CodePage{}});
  Remembered& row = rows->back();  // a deque never moves its elements
  row.page = CodePage{row.name.c_str(), windowsId, row.iconvName.c_str()};
  return &row.page;
}

}  // namespace platform
}  // namespace voicecontrol
