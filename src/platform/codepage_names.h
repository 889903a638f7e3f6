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

// Whether `name` may be handed to the system's converter: 1 to 40 ASCII
// letters, digits and "._:-". Nothing else, so that no option of the
// converter ("//TRANSLIT", "//IGNORE") changes how text is converted.
bool IsSystemCodePageName(const char* name);

// The text a code page that stands in for the ANSI code page must read and
// write as ASCII, byte for byte: the markup of every document and HTTP
// message. A code page that does not (UTF-16, UTF-7, EBCDIC) is refused.
inline constexpr char kAsciiProbe[] =
    "\t\n\r !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`"
    "abcdefghijklmnopqrstuvwxyz{|}~";

// A row for a code page that only the system's converter knows, made once
// per name and kept for the life of the process (a host selects a few).
const CodePage* RememberSystemCodePage(const char* name, unsigned windowsId, const char* iconvName);

}  // namespace platform
}  // namespace voicecontrol

#endif  // VOICECONTROL_PLATFORM_CODEPAGE_NAMES_H_
