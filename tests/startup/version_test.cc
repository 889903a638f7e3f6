#include <voicecontrol/version.h>
#include <voicecontrol/voicecontrol.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace voicecontrol {
namespace {

// The macros come from the project's version: the number and the text
// must say the same as the three parts, or version tests in hosts mislead.
TEST(Version, MacrosAgreeWithEachOther) {
  EXPECT_EQ(VOICECONTROL_VERSION_NUM,
            VOICECONTROL_VERSION_BITS(VOICECONTROL_VERSION_MAJOR, VOICECONTROL_VERSION_MINOR,
                                      VOICECONTROL_VERSION_PATCH));
  char text[32];
  std::snprintf(text, sizeof text, "%d.%d.%d", VOICECONTROL_VERSION_MAJOR,
                VOICECONTROL_VERSION_MINOR, VOICECONTROL_VERSION_PATCH);
  EXPECT_STREQ(VOICECONTROL_VERSION_STRING, text);
  EXPECT_STREQ(VOICECONTROL_VERSION_STRING, VC_TEST_PROJECT_VERSION);
}

// One byte a part, so that every later release compares greater.
TEST(Version, NumberOrdersReleases) {
  struct Case {
    int major, minor, patch;
    long expected;
  };
  const Case cases[] = {
      {1, 0, 0, 0x010000}, {1, 2, 3, 0x010203}, {0, 255, 255, 0x00ffff}, {2, 0, 0, 0x020000}};
  for (const Case& c : cases) {
    EXPECT_EQ(VOICECONTROL_VERSION_BITS(c.major, c.minor, c.patch), c.expected)
        << c.major << "." << c.minor << "." << c.patch;
  }
  EXPECT_LT(VOICECONTROL_VERSION_BITS(1, 9, 255), VOICECONTROL_VERSION_BITS(1, 10, 0));
  EXPECT_LT(VOICECONTROL_VERSION_BITS(1, 255, 255), VOICECONTROL_VERSION_BITS(2, 0, 0));
}

// The run-time version: the C and the C++ interface report the library
// that was built with these headers.
TEST(Version, RunTimeVersionIsTheBuiltOne) {
  ASSERT_NE(Version(), nullptr);
  EXPECT_STREQ(Version(), VOICECONTROL_VERSION_STRING);
  EXPECT_STREQ(Version(), vc_version());
}

}  // namespace
}  // namespace voicecontrol
