// Conversions between wide text and the two narrow encodings the library
// meets: UTF-8 and the "ANSI" code page, the system's on Windows.
//
// Wide text is std::wstring: UTF-16 on Windows, UTF-32 elsewhere. On
// Windows these are MultiByteToWideChar/WideCharToMultiByte with flags 0.
// Elsewhere the ANSI code page is UTF-8, as on a Windows system set to
// code page 65001, unless the host selects another, which iconv then
// converts. The same rules apply everywhere: an invalid byte sequence
// becomes U+FFFD, an unpaired surrogate or a value beyond U+10FFFF becomes
// U+FFFD (or '?' where the narrow code page has no such character);
// nothing is cut, nothing ever fails or throws.
#ifndef VOICECONTROL_PLATFORM_CODEPAGE_H_
#define VOICECONTROL_PLATFORM_CODEPAGE_H_

#include <cstddef>
#include <string>

#include "internal_export.h"

namespace voicecontrol {
namespace platform {

VC_INTERNAL_API std::wstring Utf8ToWideString(const char* text, size_t length);
VC_INTERNAL_API std::string WideToUtf8String(const wchar_t* text, size_t length);
// Whether every byte of `text` is ASCII, the same in UTF-8 and in every
// code page the library reads. A block at a time: answers are mostly ASCII.
bool IsAscii(const char* text, size_t length);

// Makes the named code page (see codepage_names.cc) stand in for the ANSI
// code page in this process. False, and nothing changed, for a name not in
// the table or one the system cannot convert.
VC_INTERNAL_API bool SelectAnsiCodePage(const char* name);

// Back to the default: UTF-8 here, the system's code page on Windows. For
// tests, which share one process.
VC_INTERNAL_API void ResetAnsiCodePage();

// Whether ANSI text is UTF-8 at present, so its bytes can be used as they
// are.
VC_INTERNAL_API bool AnsiIsUtf8();

// The ANSI code page: the selected one, else the system's (UTF-8 where the
// system has no other).
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
