// What of a server's answer document is read: exactly the well-formed
// documents, with the entities they declare themselves, and nothing from
// outside them. The same cases run on both platforms' DOMs.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <voicecontrol/interface/HttpXmlReq.h>
#include "answer_documents.h"

namespace voicecontrol {
namespace {

using testing::CreateAnswerDocument;
using testing::MalformedAnswer;
using testing::ValueElement;

std::string ResponseText(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nHost: Host\r\n\r\n" + body;
}

struct ReadAnswer {
  int flow_id = 0;
  int seq_no = 0;
  int field_num = 0;
  std::vector<std::wstring> values;  // up to the first empty one
};

// Parses a 200 answer around `body` and reads it as the dispatcher does.
ReadAnswer Read(const std::string& body) {
  HttpXmlRsp reply;
  EXPECT_EQ(reply.CreateBody(), 0);
  const std::string text = ResponseText(body);
  EXPECT_EQ(reply.Parse(text.c_str(), static_cast<int>(text.size())), 0);
  ReadAnswer read;
  read.flow_id = reply.GetFlowID();
  read.seq_no = reply.GetSeqNo();
  read.field_num = reply.GetFieldNum();
  for (std::wstring value = reply.GetNextFieldValue(); !value.empty() && read.values.size() < 100;
       value = reply.GetNextFieldValue()) {
    read.values.push_back(value);
  }
  return read;
}

class MalformedAnswerTest : public ::testing::TestWithParam<MalformedAnswer> {};

TEST_P(MalformedAnswerTest, IsNoDocumentAndNothingOfItIsRead) {
  if (GetParam().wine_accepts != nullptr && testing::RunningUnderWine()) {
    GTEST_SKIP() << GetParam().wine_accepts;
  }
  const ReadAnswer read = Read(GetParam().document);
  EXPECT_EQ(read.flow_id, 0);
  EXPECT_EQ(read.seq_no, 0);
  EXPECT_EQ(read.field_num, 0);
  EXPECT_TRUE(read.values.empty());
}

TEST_P(MalformedAnswerTest, RepairedItIsRead) {
  const ReadAnswer read = Read(GetParam().repaired);
  EXPECT_EQ(read.flow_id, 1001);
  EXPECT_EQ(read.seq_no, 1);
  EXPECT_EQ(read.field_num, 2);
  ASSERT_FALSE(read.values.empty());
  EXPECT_EQ(read.values[0], L"0");
}

INSTANTIATE_TEST_SUITE_P(Answers, MalformedAnswerTest,
                         ::testing::ValuesIn(testing::MalformedAnswers()),
                         [](const ::testing::TestParamInfo<MalformedAnswer>& info) {
                           return std::string(info.param.name);
                         });

// An interface answer has no use for a document type declaration, and its
// entities are what let a small answer grow without bound or point outside
// itself: an answer with one is no answer, whatever it declares, and the
// DOM never sees it.
TEST(AnswerDocumentTest, AnswersWithADocumentTypeAreRefused) {
  const struct {
    const char* name;
    std::string document;
  } cases[] = {
      {"internal entities",
       CreateAnswerDocument(ValueElement("&greeting;!"),
                            "<!DOCTYPE Interface [\n<!ENTITY who \"alice\">\n"
                            "<!ENTITY greeting \"hello &who;\">\n]>\n")},
      {"an entity holding an element",
       CreateAnswerDocument(ValueElement("v") + "\n&extra;",
                            "<!DOCTYPE Interface [<!ENTITY extra "
                            "\"<Field_Value>x</Field_Value>\">]>\n")},
      {"a redeclared predefined entity",
       CreateAnswerDocument(ValueElement("v"), "<!DOCTYPE Interface [<!ENTITY lt \"<\">]>\n")},
      {"no internal subset", CreateAnswerDocument(ValueElement("v"), "<!DOCTYPE Interface>\n")},
      {"after a comment and a processing instruction",
       CreateAnswerDocument(ValueElement("v"), "<!-- c --><?pi x?>\n<!DOCTYPE Interface>\n")},
      {"without an XML declaration",
       "<!DOCTYPE Interface><Interface><Response><FlowID>1001</FlowID></Response></Interface>"},
  };
  for (const auto& c : cases) {
    const ReadAnswer read = Read(c.document);
    EXPECT_EQ(read.flow_id, 0) << c.name;
    EXPECT_TRUE(read.values.empty()) << c.name;
  }
  // Only a real declaration counts: the same words in a comment or a value do not.
  const ReadAnswer read = Read(CreateAnswerDocument(ValueElement("&lt;!DOCTYPE x&gt;"),
                                                    "<!-- <!DOCTYPE Interface> -->\n"));
  EXPECT_EQ(read.flow_id, 1001);
  EXPECT_EQ(read.values, (std::vector<std::wstring>{L"0", L"<!DOCTYPE x>"}));
}

// 8,000 characters in an entity, referred to 9,000 times: 72,000,000
// characters from 35,264 bytes. Refused at once on every platform (a DOM
// that expanded it held a receive thread for minutes).
TEST(AnswerDocumentTest, AnAmplifyingAnswerIsRefusedAtOnce) {
  const std::string doctype =
      "<!DOCTYPE Interface [<!ENTITY e \"" + std::string(8000, 'x') + "\">]>\n";
  std::string references;
  for (int i = 0; i < 9000; ++i) references += "&e;";
  const std::string document = CreateAnswerDocument(ValueElement(references), doctype);
  EXPECT_EQ(document.size(), 35264u);
  const ReadAnswer read = Read(document);
  EXPECT_EQ(read.flow_id, 0);
  EXPECT_TRUE(read.values.empty());
}

// A file URI for a local path, with either kind of separator.
std::string FileUri(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path[0] == '/' ? "file://" + path : "file:///" + path;
}

// Whatever becomes of a document that points outside itself, nothing from
// outside reaches the values.
TEST(AnswerDocumentTest, NothingExternalIsFetched) {
  const std::string dtd_path = ::testing::TempDir() + "voicecontrol_outside.dtd";
  const std::string text_path = ::testing::TempDir() + "voicecontrol_outside.txt";
  std::ofstream(dtd_path) << "<!ENTITY e \"OUTSIDE\">";
  std::ofstream(text_path) << "OUTSIDE";
  const std::string dtd = FileUri(dtd_path);
  const std::string text = FileUri(text_path);
  const std::string documents[] = {
      // An external general entity.
      CreateAnswerDocument(ValueElement("a&t;b"),
                           "<!DOCTYPE Interface [<!ENTITY t SYSTEM \"" + text + "\">]>\n"),
      // An external parameter entity that would declare e.
      CreateAnswerDocument(ValueElement("a&e;b"),
                           "<!DOCTYPE Interface [<!ENTITY % p SYSTEM \"" + dtd + "\"> %p;]>\n"),
      // An external subset that would declare e.
      CreateAnswerDocument(ValueElement("a&e;b"), "<!DOCTYPE Interface SYSTEM \"" + dtd + "\">\n"),
      // The same, named by a public identifier.
      CreateAnswerDocument(ValueElement("a&e;b"),
                           "<!DOCTYPE Interface PUBLIC \"-//x//y//EN\" \"" + dtd + "\">\n"),
  };
  for (const std::string& document : documents) {
    const ReadAnswer read = Read(document);
    for (const std::wstring& value : read.values) {
      EXPECT_EQ(value.find(L"OUTSIDE"), std::wstring::npos) << document;
    }
  }
  std::remove(dtd_path.c_str());
  std::remove(text_path.c_str());
}

// Ten levels of ten references each would make 10^9 copies of "lol".
TEST(AnswerDocumentTest, EntityExpansionCannotBlowUp) {
  std::string doctype = "<!DOCTYPE Interface [\n<!ENTITY lol0 \"lol\">\n";
  for (int level = 1; level <= 9; ++level) {
    std::string references;
    for (int i = 0; i < 10; ++i) references += "&lol" + std::to_string(level - 1) + ";";
    doctype += "<!ENTITY lol" + std::to_string(level) + " \"" + references + "\">\n";
  }
  doctype += "]>\n";
  const ReadAnswer read = Read(CreateAnswerDocument(ValueElement("&lol9;"), doctype));
  size_t total = 0;
  for (const std::wstring& value : read.values) total += value.size();
  EXPECT_LT(total, 10000000u);
}

}  // namespace
}  // namespace voicecontrol
