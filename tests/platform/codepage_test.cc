#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace voicecontrol {
namespace platform {
namespace {

TEST(CodepageTest, Utf8RoundTripsEveryPlane) {
  const std::string utf8 = "a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80";  // a é 中 😀
  const std::wstring wide = Utf8ToWideString(utf8);
  EXPECT_EQ(WideToUtf8String(wide), utf8);
  EXPECT_EQ(wide.substr(0, 3), std::wstring(L"a\u00e9\u4e2d"));
}

// Each maximal subpart of an ill-formed sequence is one U+FFFD, nothing is
// lost around it, and every platform gives the same characters (Unicode's
// recommended practice): the same answer reads the same everywhere.
TEST(CodepageTest, InvalidUtf8BecomesOneReplacementPerMaximalSubpart) {
  const struct {
    const char* name;
    std::string utf8;
    std::wstring wide;
  } cases[] = {
      {"lone continuation byte", "x\x80y", L"x\uFFFDy"},
      {"truncated at the end", "x\xe4\xb8", L"x\uFFFD"},
      {"truncated before ASCII", "\xe4\xb8z", L"\uFFFDz"},
      {"overlong form", "\xc0\xafz", L"\uFFFD\uFFFDz"},
      {"overlong three bytes", "\xe0\x80\xaf", L"\uFFFD\uFFFD\uFFFD"},
      {"encoded surrogate", "\xed\xa0\x80", L"\uFFFD\uFFFD\uFFFD"},
      {"beyond U+10FFFF", "\xf4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"five-byte form", "\xf8\x88\x80\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"cut four-byte form", "\xf0\x9f\x98z", L"\uFFFDz"},
      {"FE and FF", "\xfe\xff", L"\uFFFD\uFFFD"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToWideString(c.utf8), c.wide) << c.name;
  }
}

// Where wide text is UTF-16, a character beyond U+FFFF is a surrogate pair
// both ways, and an unpaired surrogate is written as U+FFFD.
TEST(CodepageTest, CharactersBeyondTheBasicPlane) {
  const std::string emoji = "\xf0\x9f\x98\x80";  // U+1F600
  const std::wstring wide = Utf8ToWideString(emoji);
#if WCHAR_MAX > 0xFFFF
  EXPECT_EQ(wide, std::wstring(1, static_cast<wchar_t>(0x1F600)));
#else
  EXPECT_EQ(wide, std::wstring(L"\xD83D\xDE00"));
  const std::wstring unpaired = {L'a', static_cast<wchar_t>(0xD83D), L'b',
                                 static_cast<wchar_t>(0xDE00)};
  EXPECT_EQ(WideToUtf8String(unpaired), "a\xef\xbf\xbd" "b\xef\xbf\xbd");
#endif
  EXPECT_EQ(WideToUtf8String(wide), emoji);
}

#if WCHAR_MAX > 0xFFFF
TEST(CodepageTest, UnpairedSurrogateAndOutOfRangeBecomeReplacement) {
  const std::wstring wide = {L'a', static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000)};
  EXPECT_EQ(WideToUtf8String(wide), "a\xef\xbf\xbd\xef\xbf\xbd");
}
#endif

TEST(CodepageTest, EmbeddedNulIsKept) {
  const std::string utf8("a\0b", 3);
  EXPECT_EQ(Utf8ToWideString(utf8).size(), 3u);
  EXPECT_EQ(WideToUtf8String(Utf8ToWideString(utf8)), utf8);
}

// Long texts are converted a block of ASCII at a time: a character that is
// not ASCII must be found at every position relative to those blocks.
TEST(CodepageTest, NonAsciiAtEveryPositionOfALongText) {
  for (size_t at = 0; at < 40; ++at) {
    std::string utf8(40, 'a');
    utf8.insert(at, "\xe4\xb8\xad");  // 中
    std::wstring wide(40, L'a');
    wide.insert(at, 1, L'\u4e2d');
    EXPECT_EQ(Utf8ToWideString(utf8), wide) << at;
    EXPECT_EQ(WideToUtf8String(wide), utf8) << at;

    std::string invalid(40, 'b');
    invalid[at] = '\xff';
    std::wstring replaced(40, L'b');
    replaced[at] = L'\uFFFD';
    EXPECT_EQ(Utf8ToWideString(invalid), replaced) << at;
  }
}

// A double-byte code page chosen by the host: Chinese text both ways, an
// undefined or cut-off sequence as U+FFFD with the rest kept, a character
// the code page lacks as '?'.
TEST(CodepageTest, ChosenDoubleByteCodePage) {
  ASSERT_TRUE(SelectAnsiCodePage("GBK"));
  EXPECT_FALSE(AnsiIsUtf8());
  EXPECT_EQ(AnsiToWideString(std::string("a\xd6\xd0\xce\xc4z")), std::wstring(L"a\u4e2d\u6587z"));
  EXPECT_EQ(WideToAnsiString(std::wstring(L"a\u4e2d\u6587z")), "a\xd6\xd0\xce\xc4z");
  EXPECT_EQ(AnsiToWideString(std::string("x\xd6")), std::wstring(L"x\uFFFD"));
  const std::wstring undefined = AnsiToWideString(std::string("x\xff\xffy"));
  EXPECT_EQ(undefined.front(), L'x');
  EXPECT_EQ(undefined.back(), L'y');
  EXPECT_NE(undefined.find(L'\uFFFD'), std::wstring::npos);
  EXPECT_EQ(WideToAnsiString(std::wstring(L"a\u0e01b")), "a?b");  // Thai is not in GBK

#if !defined(_WIN32)  // Wine has no GB18030 converter
  ASSERT_TRUE(SelectAnsiCodePage("GB18030"));  // every character has a form here
  const std::wstring emoji = Utf8ToWideString(std::string("\xf0\x9f\x98\x80"));
  EXPECT_EQ(AnsiToWideString(WideToAnsiString(emoji)), emoji);
#endif
  ResetAnsiCodePage();
}

// Names beyond the table go to the system's converter: known there, they
// are taken; unknown, or no code page that reads ASCII as ASCII, refused
// with the code page in force unchanged.
TEST(CodepageTest, NamesBeyondTheTableGoToTheSystemConverter) {
  ResetAnsiCodePage();
  // Known to the system on every platform (iconv knows the "CP" names too).
  ASSERT_TRUE(SelectAnsiCodePage("CP1251"));
  EXPECT_EQ(AnsiToWideString(std::string("\xc0\xff")), std::wstring(L"\u0410\u044f"));
  EXPECT_EQ(WideToAnsiString(std::wstring(L"\u0410\u044f")), "\xc0\xff");
#if !defined(_WIN32)
  ASSERT_TRUE(SelectAnsiCodePage("ISO-8859-1"));
  EXPECT_EQ(AnsiToWideString(std::string("\xe9")), std::wstring(L"\u00e9"));
  EXPECT_EQ(WideToAnsiString(std::wstring(L"\u00e9\u4e2d")), "\xe9?");
  ASSERT_TRUE(SelectAnsiCodePage("latin1"));
#endif
  const char* refused[] = {
      "NO-SUCH-CODE-PAGE", "", "CP", "CP0", "CP99999", "CP123456", "CP12a",
      "UTF-8//TRANSLIT",  // converter options are no part of a name
      "UTF-16",           // reads no ASCII as ASCII
#if defined(_WIN32)
      "CP1200", "CP37", "ISO-8859-1",  // UTF-16, EBCDIC; Windows knows numbers only
#else
      "UTF-7", "EBCDIC-US",
#endif
  };
  const std::wstring before = AnsiToWideString(std::string("\xe9"));
  for (const char* name : refused) {
    EXPECT_FALSE(SelectAnsiCodePage(name)) << name;
    EXPECT_EQ(AnsiToWideString(std::string("\xe9")), before) << name;
  }
  EXPECT_FALSE(SelectAnsiCodePage(nullptr));
  ResetAnsiCodePage();
}

// The table still answers for the common names, in any letter case.
TEST(CodepageTest, TableNamesInAnyLetterCase) {
  for (const char* name : {"utf-8", "Gb2312", "gbk", "cp936", "windows-1252", "Shift_JIS"}) {
    EXPECT_TRUE(SelectAnsiCodePage(name)) << name;
  }
  ResetAnsiCodePage();
}

}  // namespace
}  // namespace platform
}  // namespace voicecontrol
