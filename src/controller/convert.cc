#include <voicecontrol/controller/convert.h>
#include <voicecontrol/controller/VoiceController.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>

#include "platform/codepage.h"

namespace voicecontrol {

namespace {

constexpr int kIntermediateUnits = 2000;

template <typename Char>
int CopyOut(const std::basic_string<Char>& converted, Char* out, int capacity) {
  if (converted.size() > static_cast<size_t>(capacity)) return -1;
  std::copy(converted.begin(), converted.end(), out);
  return static_cast<int>(converted.size());
}

bool Usable(const void* text, const void* out, int capacity) {
  return text != nullptr && out != nullptr && capacity >= 0;
}

}  // namespace

int WideToUtf8(const wchar_t* text, char* out, int outSize) {
  if (!Usable(text, out, outSize)) return -1;
  return CopyOut(platform::WideToUtf8String(text, std::wcslen(text)), out, outSize);
}

int AnsiToWide(const char* text, wchar_t* out, int outCount) {
  if (!Usable(text, out, outCount)) return -1;
  return CopyOut(platform::AnsiToWideString(text, std::strlen(text)), out, outCount);
}

int Utf8ToWide(const char* text, int length, wchar_t* out, int outCount) {
  if (!Usable(text, out, outCount)) return -1;
  const size_t size = length < 0 ? std::strlen(text) : static_cast<size_t>(length);
  return CopyOut(platform::Utf8ToWideString(text, size), out, outCount);
}

int WideToAnsi(const wchar_t* text, char* out, int outSize) {
  if (!Usable(text, out, outSize)) return -1;
  return CopyOut(platform::WideToAnsiString(text, std::wcslen(text)), out, outSize);
}

bool SetCodePage(const char* name) { return platform::SelectAnsiCodePage(name); }

int AnsiToUtf8(const char* text, char* out, int outSize) {
  wchar_t wide[kIntermediateUnits] = {};
  if (AnsiToWide(text, wide, kIntermediateUnits - 1) < 0) return -1;
  return WideToUtf8(wide, out, outSize);
}

int Utf8ToAnsi(const char* text, int length, char* out, int outSize) {
  wchar_t wide[kIntermediateUnits] = {};
  if (Utf8ToWide(text, length, wide, kIntermediateUnits - 1) < 0) return -1;
  return WideToAnsi(wide, out, outSize);
}

}  // namespace voicecontrol
