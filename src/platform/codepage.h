// Conversions between wide text and the two narrow encodings the library
// meets: UTF-8 and the system's ANSI code page.
//
// Wide text is std::wstring: UTF-16 on Windows, UTF-32 elsewhere. On
// Windows these are MultiByteToWideChar/WideCharToMultiByte with flags 0
// (CP_ACP or CP_UTF8). Elsewhere the system code page is UTF-8, as on a
// Windows system set to code page 65001, and the same rules apply: an
// invalid byte sequence becomes U+FFFD, an unpaired surrogate or a value
// beyond U+10FFFF becomes U+FFFD; nothing ever fails or throws.
#ifndef VOICECONTROL_PLATFORM_CODEPAGE_H_
#define VOICECONTROL_PLATFORM_CODEPAGE_H_

#include <cstddef>
#include <string>

#include "internal_export.h"

namespace voicecontrol {
namespace platform {

VC_INTERNAL_API std::wstring Utf8ToWideString(const char* text, size_t length);
VC_INTERNAL_API std::string WideToUtf8String(const wchar_t* text, size_t length);

// The system's ANSI code page (UTF-8 where the system has no other).
VC_INTERNAL_API std::wstring AnsiToWideString(const char* text, size_t length);
VC_INTERNAL_API std::string WideToAnsiString(const wchar_t* text, size_t length);

inline std::wstring Utf8ToWideString(const std::string& text) {
  return Utf8ToWideString(text.data(), text.size());
}
inline std::string WideToUtf8String(const std::wstring& text) {
  return WideToUtf8String(text.data(), text.size());
}
inline std::wstring AnsiToWideString(const std::string& text) {
  return AnsiToWideString(text.data(), text.size());
}
inline std::string WideToAnsiString(const std::wstring& text) {
  return WideToAnsiString(text.data(), text.size());
}

}  // namespace platform
}  // namespace voicecontrol

#endif  // VOICECONTROL_PLATFORM_CODEPAGE_H_
