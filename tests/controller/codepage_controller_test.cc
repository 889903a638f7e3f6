// The code page a host chooses: answers are read with it, requests carry
// the UTF-8 bytes of their arguments whatever it is.
#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>
#include <vector>

#include <voicecontrol/controller/VoiceController.h>
#include <voicecontrol/controller/convert.h>
#include "platform/codepage.h"
#include "test_support.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace voicecontrol {
namespace {

using testing::Answer;
using testing::HttpRequest;
using testing::RecordingSink;
using testing::RequestDocument;
using testing::TestServer;

// "中文" in the four encodings a test meets.
const std::string kChineseUtf8 = "\xe4\xb8\xad\xe6\x96\x87";
const std::string kChineseGb2312 = "\xd6\xd0\xce\xc4";

void AppendCodePoint(char32_t cp, std::wstring* wide, std::string* utf8) {
#if WCHAR_MAX > 0xFFFF
  wide->push_back(static_cast<wchar_t>(cp));
#else
  if (cp >= 0x10000) {
    wide->push_back(static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10)));
    wide->push_back(static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
  } else {
    wide->push_back(static_cast<wchar_t>(cp));
  }
#endif
  if (cp < 0x80) {
    utf8->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    utf8->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    utf8->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    utf8->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    utf8->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    utf8->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    utf8->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    utf8->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    utf8->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    utf8->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// A random printable code point, BMP or beyond, never a surrogate and
// never one of the characters the message escapes (&, <, >).
char32_t RandomCodePoint(std::mt19937& random) {
  for (;;) {
    const uint32_t kind = random() % 4;
    char32_t cp;
    if (kind == 0) cp = 0x20 + random() % 0x5F;             // ASCII
    else if (kind == 1) cp = 0x4E00 + random() % 0x5200;    // CJK ideographs
    else if (kind == 2) cp = 0xA0 + random() % (0xFFFE - 0xA0);
    else cp = 0x10000 + random() % (0x110000 - 0x10000);
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    if (cp == '&' || cp == '<' || cp == '>') continue;
    return cp;
  }
}

// Whether the system has a converter for `name`: always on Linux (iconv);
// Wine lacks GB18030 (code page 54936).
bool SystemConverts(const char* name) {
#if defined(_WIN32)
  const bool gb18030 = std::string(name) == "GB18030" || std::string(name) == "gb18030";
  return !gb18030 || IsValidCodePage(54936);
#else
  (void)name;
  return true;
#endif
}

class CodePageTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (GetParam() != nullptr && !SetCodePage(GetParam())) {
#if defined(_WIN32)
      // Wine, for one, has no GB18030 converter; the system default (936
      // in the Chinese locale) is tested there instead.
      GTEST_SKIP() << "this system cannot convert " << GetParam();
#else
      FAIL() << GetParam();
#endif
    }
    controller.serverAddress = "127.0.0.1";
  }
  void TearDown() override { platform::ResetAnsiCodePage(); }

  RecordingSink sink;
  VoiceController controller{&sink};
};

// Two thousand random texts, four to a command: on the wire each is exactly
// its UTF-8 form, whichever code page reads the answers.
TEST_P(CodePageTest, RequestFieldsAreExactlyTheArgumentsUtf8) {
  TestServer server(TestServer::Reply(Answer(1001, 2, {"0", "ok"})));
  controller.serverPort = server.port();
  std::mt19937 random(12345);
  constexpr int kCommands = 500;
  std::vector<std::string> expected;
  for (int command = 0; command < kCommands; ++command) {
    std::wstring wide[4];
    std::vector<std::string> utf8(4);
    for (int field = 0; field < 4; ++field) {
      const size_t length = random() % 40;
      for (size_t i = 0; i < length; ++i) {
        AppendCodePoint(RandomCodePoint(random), &wide[field], &utf8[field]);
      }
    }
    controller.Create(wide[0], wide[1], wide[2], wide[3]);
    ASSERT_EQ(sink.WaitFor(command + 1).size(), static_cast<size_t>(command + 1));
    expected.push_back(HttpRequest("CREATE", RequestDocument(command + 1, 1001, 4, utf8)));
  }
  const std::vector<std::string> requests = server.requests();
  ASSERT_EQ(requests.size(), expected.size());
  for (size_t i = 0; i < requests.size(); ++i) ASSERT_EQ(requests[i], expected[i]) << i;
}

INSTANTIATE_TEST_SUITE_P(EveryCodePage, CodePageTest,
                         ::testing::Values(nullptr, "UTF-8", "GB18030", "gbk"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           if (info.param == nullptr) return std::string("SystemDefault");
                           std::string name;
                           for (const char* c = info.param; *c; ++c) {
                             if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                           }
                           return name;
                         });

// An answer written in GB2312, read with each code page that holds it.
TEST(CodePageAnswerTest, ChineseAnswersReadWithTheChosenCodePage) {
  const std::string chinese_texts = kChineseGb2312 + "," + kChineseGb2312 + ",";
  for (const char* name : {"GB2312", "GBK", "GB18030"}) {
    SCOPED_TRACE(name);
    if (!SystemConverts(name)) continue;
    ASSERT_TRUE(SetCodePage(name));
    TestServer server(TestServer::Reply(Answer(1001, 2, {"0", kChineseGb2312})));
    RecordingSink sink;
    VoiceController controller(&sink);
    controller.serverAddress = "127.0.0.1";
    controller.serverPort = server.port();
    controller.Create(L"\u4e2d\u6587", L"b", L"c", L"d");
    EXPECT_EQ(sink.WaitFor(1), std::vector<std::string>{"result 1001 0 " + kChineseUtf8});
    // The request still carries UTF-8.
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_NE(server.requests()[0].find("<Field_Value>" + kChineseUtf8 + "</Field_Value>"),
              std::string::npos);
  }
  // Back to UTF-8: a UTF-8 answer reads as it is.
  ASSERT_TRUE(SetCodePage("utf-8"));
  TestServer server(TestServer::Reply(Answer(1002, 2, {"0", kChineseUtf8})));
  RecordingSink sink;
  VoiceController controller(&sink);
  controller.serverAddress = "127.0.0.1";
  controller.serverPort = server.port();
  controller.Kick(L"a", L"b");
  EXPECT_EQ(sink.WaitFor(1), std::vector<std::string>{"result 1002 0 " + kChineseUtf8});
  platform::ResetAnsiCodePage();
}

#if defined(_WIN32)
// A Chinese Windows system reads GB2312 answers without being told to.
TEST(CodePageAnswerTest, TheSystemCodePageIsTheDefault) {
  if (GetACP() != 936) GTEST_SKIP() << "needs the Chinese locale (code page 936)";
  TestServer server(TestServer::Reply(Answer(1001, 2, {"0", kChineseGb2312})));
  RecordingSink sink;
  VoiceController controller(&sink);
  controller.serverAddress = "127.0.0.1";
  controller.serverPort = server.port();
  controller.QSingle(L"\u4e2d\u6587");
  EXPECT_EQ(sink.WaitFor(1), std::vector<std::string>{"result 1001 0 " + kChineseUtf8});
}
#endif

TEST(SetCodePageTest, KnownNamesInAnyCaseAndNothingElse) {
  for (const char* name : {"UTF-8", "utf-8", "GB18030", "gb18030", "GBK", "Gbk", "GB2312", "gb2312"}) {
    if (SystemConverts(name)) {
      EXPECT_TRUE(SetCodePage(name)) << name;
    }
  }
  ASSERT_TRUE(SetCodePage("GBK"));
  for (const char* name : {"", "UTF-16", "GB", "klingon", "GB18030 "}) {
    EXPECT_FALSE(SetCodePage(name)) << name;
  }
  EXPECT_FALSE(SetCodePage(nullptr));
  // A refused name left GBK in force.
  char narrow[16] = {};
  EXPECT_EQ(WideToAnsi(L"\u4e2d\u6587", narrow, 15), 4);
  EXPECT_EQ(std::string(narrow), kChineseGb2312);
  platform::ResetAnsiCodePage();
}

}  // namespace
}  // namespace voicecontrol
