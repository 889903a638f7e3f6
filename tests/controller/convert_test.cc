// Conversions, the DsCall end time and sequence numbers.
#include <voicecontrol/controller/convert.h>

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include <voicecontrol/controller/VoiceController.h>
#include "controller/end_time.h"
#include "platform/codepage.h"

namespace voicecontrol {
namespace {

TEST(ConvertTest, WideToUtf8WritesBytesWithoutTerminator) {
  char out[16];
  std::memset(out, 'Z', sizeof out);
  EXPECT_EQ(WideToUtf8(L"a\u00e9\u4e2d", out, 6), 6);
  EXPECT_EQ(std::string(out, 7), "a\xc3\xa9\xe4\xb8\xadZ");
  EXPECT_EQ(WideToUtf8(L"", out, 0), 0);
}

TEST(ConvertTest, OutputThatDoesNotFitIsRefusedWhole) {
  char out[4] = {'Z', 'Z', 'Z', 'Z'};
  EXPECT_EQ(WideToUtf8(L"abcd\u00e9", out, 4), -1);
  EXPECT_EQ(std::string(out, 4), "ZZZZ");
  wchar_t wide[2] = {L'Z', L'Z'};
  EXPECT_EQ(Utf8ToWide("abc", 3, wide, 2), -1);
  EXPECT_EQ(AnsiToWide("abc", wide, 2), -1);
  EXPECT_EQ(wide[0], L'Z');
  EXPECT_EQ(WideToUtf8(nullptr, out, 4), -1);
  EXPECT_EQ(WideToUtf8(L"a", nullptr, 4), -1);
  EXPECT_EQ(WideToUtf8(L"a", out, -1), -1);
}

TEST(ConvertTest, RoundTripsThroughEveryPair) {
  wchar_t wide[16] = {};
  EXPECT_EQ(Utf8ToWide("x\xf0\x9f\x98\x80yz", 6, wide, 15), WCHAR_MAX > 0xFFFF ? 3 : 4);
  EXPECT_EQ(std::wstring(wide), std::wstring(L"x\U0001F600y"));
  std::fill(std::begin(wide), std::end(wide), L'\0');
  EXPECT_EQ(Utf8ToWide("abc", -1, wide, 15), 3);  // up to the terminator

  char narrow[32] = {};
  // ANSI text in a code page the test chooses, so that the result does not
  // depend on the system's (1252 or 936 under Wine, UTF-8 on Linux).
  ASSERT_TRUE(SetCodePage("GBK"));
  EXPECT_GT(AnsiToUtf8("caf\xa8\xa6", narrow, 31), 0);  // é in GBK
  EXPECT_STREQ(narrow, "caf\xc3\xa9");
  std::memset(narrow, 0, sizeof narrow);
  EXPECT_EQ(Utf8ToAnsi("\xe4\xb8\xad", -1, narrow, 31), 2);
  EXPECT_STREQ(narrow, "\xd6\xd0");
  platform::ResetAnsiCodePage();
  std::memset(narrow, 0, sizeof narrow);
  EXPECT_EQ(Utf8ToAnsi("abc", 2, narrow, 31), 2);
  EXPECT_STREQ(narrow, "ab");
  std::memset(narrow, 0, sizeof narrow);
  EXPECT_EQ(WideToAnsi(L"ok", narrow, 31), 2);
  EXPECT_STREQ(narrow, "ok");
}

TEST(ConvertTest, IntermediateHoldsAtMost1999Units) {
  const std::string fits(1999, 'a');
  const std::string tooLong(2000, 'a');
  std::string out(4000, '\0');
  EXPECT_EQ(AnsiToUtf8(fits.c_str(), &out[0], 4000), 1999);
  EXPECT_EQ(AnsiToUtf8(tooLong.c_str(), &out[0], 4000), -1);
  EXPECT_EQ(Utf8ToAnsi(tooLong.c_str(), 2000, &out[0], 4000), -1);
}

#if WCHAR_MAX <= 0xFFFF
TEST(ConvertTest, UnpairedSurrogateBecomesReplacementCharacter) {
  const wchar_t text[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
  char out[8] = {};
  EXPECT_EQ(WideToUtf8(text, out, 7), 5);
  EXPECT_STREQ(out,
               "a\xef\xbf\xbd"
               "b");
}
#endif

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm fields = {};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  fields.tm_isdst = -1;
  return std::mktime(&fields);
}

std::string EndTime(std::time_t start, uint32_t duration) {
  char out[40];
  if (!FormatLocalEndTime(start, duration, out, sizeof out)) return "<failed>";
  return out;
}

TEST(EndTimeTest, AddsTheDurationAndCarriesIntoTheDate) {
  EXPECT_EQ(EndTime(LocalTime(2024, 1, 15, 10, 50, 0), 1200), "2024-01-15 11:10:00");
  EXPECT_EQ(EndTime(LocalTime(2024, 1, 15, 23, 30, 0), 3600), "2024-01-16 00:30:00");
  EXPECT_EQ(EndTime(LocalTime(2023, 12, 31, 23, 30, 0), 3600), "2024-01-01 00:30:00");
  EXPECT_EQ(EndTime(LocalTime(2024, 2, 28, 23, 0, 0), 3600), "2024-02-29 00:00:00");
  EXPECT_EQ(EndTime(LocalTime(2023, 2, 28, 23, 59, 59), 1), "2023-03-01 00:00:00");
  EXPECT_EQ(EndTime(LocalTime(2024, 1, 5, 7, 8, 9), 0), "2024-01-05 07:08:09");
}

TEST(EndTimeTest, TooSmallABufferFails) {
  char out[19];
  EXPECT_FALSE(FormatLocalEndTime(LocalTime(2024, 1, 15, 10, 50, 0), 0, out, sizeof out));
}

}  // namespace
}  // namespace voicecontrol
