// The plain reading of answers against libxml2's XPath engine, on the
// shapes where a shortcut would go wrong: parts in the wrong place, nested
// or repeated, texts with references and line ends, and documents the plain
// reader must leave to the DOM.
#include <gtest/gtest.h>

#include <string>

#include "plain_answer_check.h"

namespace voicecontrol {
namespace {

struct Case {
  const char* name;
  const char* body;
  bool plain;  // taken by the plain reading (on a DOM that has it)
};

const Case kCases[] = {
    {"usual", "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<Interface><Response>"
              "<Seq_No>7</Seq_No><FlowID>1005</FlowID><FieldNum>2</FieldNum><Field>"
              "<Field_Value>a</Field_Value><Field_Value></Field_Value></Field></Response>"
              "</Interface>", true},
    {"parts out of place",
     "<Interface><FlowID>1</FlowID><Response><Field><FlowID>2</FlowID></Field>"
     "<Field_Value>x</Field_Value><Field><Field_Value>y</Field_Value></Field></Response>"
     "</Interface>", true},
    {"nested and repeated",
     "<Interface><Response><Interface><Response><FlowID>9</FlowID><Field><Field_Value>in"
     "</Field_Value></Field></Response></Interface><FlowID>1</FlowID><Field><Field_Value>"
     "out</Field_Value></Field><Field><Field_Value>again</Field_Value></Field></Response>"
     "</Interface>", true},
    {"values around other elements",
     "<Interface><Response><Field><Field_Value>a</Field_Value><Other/><Field_Value>b"
     "<Field_Value>c</Field_Value></Field_Value></Field></Response></Interface>", true},
    {"references and line ends",
     "<Interface><Response><FlowID> 1004 </FlowID><Field><Field_Value>&lt;&amp;&#x4E2D;"
     "\r\n&#65;</Field_Value></Field></Response></Interface>", true},
    {"no parts", "<Interface><Request><FlowID>1</FlowID></Request></Interface>", true},
    {"attributes go to the DOM",
     "<Interface a=\"1\"><Response><FlowID>1</FlowID></Response></Interface>", false},
    {"a comment goes to the DOM",
     "<Interface><!-- c --><Response><FlowID>1</FlowID></Response></Interface>", false},
    {"not well formed", "<Interface><Response><FlowID>1</Response></Interface>", false},
};

TEST(PlainAnswerTest, ReadsWhatTheXPathEngineSelects) {
  for (const Case& c : kCases) {
    bool plain = false;
    EXPECT_EQ(testing::PlainAnswerDisagreement(c.body, &plain), "") << c.name;
#ifndef _WIN32
    EXPECT_EQ(plain, c.plain) << c.name;
#else
    EXPECT_FALSE(plain) << c.name;  // the system DOM reads every document itself
#endif
  }
}

}  // namespace
}  // namespace voicecontrol
