// The code pages a host may choose for the text that stands in for the
// system's ANSI code page, with their number on Windows and their name for
// the C library's iconv elsewhere. One table, so that both platforms accept
// the same names and read the same bytes the same way.
#ifndef VOICECONTROL_PLATFORM_CODEPAGE_NAMES_H_
#define VOICECONTROL_PLATFORM_CODEPAGE_NAMES_H_

namespace voicecontrol {
namespace platform {

struct CodePage {
  const char* name;       // as hosts spell it; matched without regard to case
  unsigned windowsId;     // for MultiByteToWideChar / WideCharToMultiByte
  const char* iconvName;  // the same code page for iconv
};

inline constexpr unsigned kUtf8CodePageId = 65001;

// The row whose name is `name` (any letter case), or null.
const CodePage* FindCodePage(const char* name);

}  // namespace platform
}  // namespace voicecontrol

#endif  // VOICECONTROL_PLATFORM_CODEPAGE_NAMES_H_
