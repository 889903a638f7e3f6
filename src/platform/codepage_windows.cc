// Code-page conversions through the Win32 API, flags 0, no default character.
#include <windows.h>

#include <atomic>
#include <climits>

#include "platform/codepage.h"
#include "platform/codepage_names.h"

namespace voicecontrol {
namespace platform {

namespace {

std::wstring ToWide(UINT codepage, const char* text, size_t length) {
  if (text == nullptr || length == 0 || length > INT_MAX) return std::wstring();
  const int n = static_cast<int>(length);
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

bool SelectAnsiCodePage(const char* name) {
  const CodePage* page = FindCodePage(name);
  if (page == nullptr || !IsValidCodePage(page->windowsId)) return false;
  ansi_code_page.store(page->windowsId);
  return true;
}

void ResetAnsiCodePage() { ansi_code_page.store(CP_ACP); }

bool AnsiIsUtf8() {
  const UINT page = ansi_code_page.load();
  return page == CP_UTF8 || (page == CP_ACP && GetACP() == CP_UTF8);
}

std::wstring Utf8ToWideString(const char* text, size_t length) {
  return ToWide(CP_UTF8, text, length);
}
std::string WideToUtf8String(const wchar_t* text, size_t length) {
  return ToNarrow(CP_UTF8, text, length);
}
std::wstring AnsiToWideString(const char* text, size_t length) {
  return ToWide(ansi_code_page.load(), text, length);
}
std::string WideToAnsiString(const wchar_t* text, size_t length) {
  return ToNarrow(ansi_code_page.load(), text, length);
}

}  // namespace platform
}  // namespace voicecontrol
