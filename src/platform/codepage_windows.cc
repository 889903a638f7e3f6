// Code-page conversions through the Win32 API, flags 0, no default
// character. UTF-8 itself is converted by codepage_utf8.cc, the same code
// on every platform.
#include <windows.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <string>

#include "platform/codepage.h"
#include "platform/codepage_names.h"

namespace voicecontrol {
namespace platform {

namespace {

constexpr wchar_t kReplacement = 0xFFFD;

// Text with a sequence the code page does not define, read one character at
// a time: each piece that converts on its own (1, 2 or, in GB18030, 4
// bytes) is kept, each byte that starts none becomes U+FFFD. Windows itself
// would give '?' or drop a cut-off lead byte; U+FFFD is what every other
// conversion of the library gives for bad input.
std::wstring ToWideByPieces(UINT codepage, const char* text, size_t length) {
  std::wstring out;
  size_t pos = 0;
  while (pos < length) {
    wchar_t units[4];
    int produced = 0;
    size_t used = 0;
    for (size_t piece : {1, 2, 4}) {
      if (piece > length - pos) break;
      produced = MultiByteToWideChar(codepage, MB_ERR_INVALID_CHARS, text + pos,
                                     static_cast<int>(piece), units, 4);
      if (produced > 0) {
        used = piece;
        break;
      }
    }
    if (produced > 0) {
      out.append(units, static_cast<size_t>(produced));
      pos += used;
    } else {
      out.push_back(kReplacement);
      ++pos;
    }
  }
  return out;
}

std::wstring ToWide(UINT codepage, const char* text, size_t length) {
  if (text == nullptr || length == 0 || length > INT_MAX) return std::wstring();
  const int n = static_cast<int>(length);
  if (MultiByteToWideChar(codepage, MB_ERR_INVALID_CHARS, text, n, nullptr, 0) <= 0) {
    return ToWideByPieces(codepage, text, length);
  }
  const int needed = MultiByteToWideChar(codepage, 0, text, n, nullptr, 0);
  if (needed <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(needed), L'\0');
  MultiByteToWideChar(codepage, 0, text, n, &out[0], needed);
  return out;
}

std::string ToNarrow(UINT codepage, const wchar_t* text, size_t length) {
  if (text == nullptr || length == 0 || length > INT_MAX) return std::string();
  const int n = static_cast<int>(length);
  const int needed = WideCharToMultiByte(codepage, 0, text, n, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string out(static_cast<size_t>(needed), '\0');
  WideCharToMultiByte(codepage, 0, text, n, &out[0], needed, nullptr, nullptr);
  return out;
}

// The code page the host selected; CP_ACP (0), the system's, until then.
std::atomic<UINT> ansi_code_page{CP_ACP};

}  // namespace

namespace {

// The number of a name "CPnnn" (any letter case), or 0.
UINT CodePageNumber(const char* name) {
  if (name == nullptr || (name[0] != 'C' && name[0] != 'c') || (name[1] != 'P' && name[1] != 'p')) {
    return 0;
  }
  const char* digits = name + 2;
  size_t count = 0;
  for (; digits[count] != '\0'; ++count) {
    if (digits[count] < '0' || digits[count] > '9' || count == 5) return 0;
  }
  if (count == 0 || digits[0] == '0') return 0;
  return static_cast<UINT>(std::strtoul(digits, nullptr, 10));
}

// Whether the system converts `codepage` and reads and writes ASCII as ASCII.
bool IsUsable(UINT codepage) {
  if (!IsValidCodePage(codepage)) return false;
  const std::string ascii = kAsciiProbe;
  const std::wstring wide = ToWide(codepage, ascii.data(), ascii.size());
  return wide == std::wstring(ascii.begin(), ascii.end()) &&
         ToNarrow(codepage, wide.data(), wide.size()) == ascii;
}

// The code page of a table name, or else of a name "CPnnn"; 0 for none.
UINT LookUpCodePage(const char* name) {
  const CodePage* page = FindCodePage(name);
  if (page != nullptr) return page->windowsId;
  return CodePageNumber(name);
}

}  // namespace

bool SelectAnsiCodePage(const char* name) {
  const UINT codepage = LookUpCodePage(name);
  if (codepage == 0) return false;
  if (codepage != CP_UTF8 && !IsUsable(codepage)) return false;
  ansi_code_page.store(codepage);
  return true;
}

void ResetAnsiCodePage() { ansi_code_page.store(CP_ACP); }

bool AnsiIsUtf8() {
  const UINT page = ansi_code_page.load();
  return page == CP_UTF8 || (page == CP_ACP && GetACP() == CP_UTF8);
}

std::wstring AnsiToWideString(const char* text, size_t length) {
  if (AnsiIsUtf8()) return Utf8ToWideString(text, length);
  return ToWide(ansi_code_page.load(), text, length);
}
std::string WideToAnsiString(const wchar_t* text, size_t length) {
  if (AnsiIsUtf8()) return WideToUtf8String(text, length);
  return ToNarrow(ansi_code_page.load(), text, length);
}

}  // namespace platform
}  // namespace voicecontrol
