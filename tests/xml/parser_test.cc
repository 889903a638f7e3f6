#include <gtest/gtest.h>

#include <exception>
#include <memory>
#include <string>
#include <type_traits>

#include <voicecontrol/xml/xml.h>

namespace voicecontrol {
namespace {

std::unique_ptr<XmlNode> Parse(const std::string& text) {
  return std::unique_ptr<XmlNode>(XmlParser::Parse(text.c_str()));
}

// The message of the TXMLExcept that parsing `text` throws, or "no error".
std::string ErrorOf(const std::string& text) {
  try {
    std::unique_ptr<XmlNode> root(XmlParser::Parse(text.c_str()));
  } catch (const TXMLExcept& error) {
    return error.what();
  }
  return "no error";
}

TEST(XmlParserTest, PrologCommentsAndBlanksBeforeTheRootAreSkipped) {
  auto root = Parse("<?xml version=\"1.0\"?>\n<!-- c -->\n  <root/>");
  EXPECT_STREQ(root->GetName(), "root");
  EXPECT_EQ(root->GetLine(), 3);
  EXPECT_EQ(root->GetParent(), nullptr);
}

TEST(XmlParserTest, EmptyTagHasNullTextOpenTagHasText) {
  auto empty = Parse("<a/>");
  EXPECT_EQ(empty->GetText(), nullptr);
  EXPECT_EQ(empty->GetChildCount(), 0);
  EXPECT_EQ(empty->GetAttrCount(), 0);
  auto open = Parse("<a></a>");
  ASSERT_NE(open->GetText(), nullptr);
  EXPECT_STREQ(open->GetText(), "");
}

TEST(XmlParserTest, TextIsJoinedAndTrimmed) {
  auto root = Parse("<a>one <b/> two</a>");
  EXPECT_STREQ(root->GetText(), "one two");
  EXPECT_EQ(root->GetChildCount(), 1);
  EXPECT_STREQ(Parse("<a> x </a>")->GetText(), "x");
  EXPECT_STREQ(Parse("<a>\t\r\n x \x01</a>")->GetText(), "x");
  // Text split by comments joins without a separator.
  EXPECT_STREQ(Parse("<a>ab<!-- c -->cd</a>")->GetText(), "abcd");
  // A child's text does not leak into its parent's.
  auto nested = Parse("<a>p<b>c<d>e</d>f</b>q</a>");
  EXPECT_STREQ(nested->GetText(), "pq");
  EXPECT_STREQ(nested->GetChild(0)->GetText(), "cf");
  EXPECT_STREQ(nested->GetChild(0)->GetChild(0)->GetText(), "e");
}

TEST(XmlParserTest, EntitiesAndCData) {
  EXPECT_STREQ(Parse("<a>x&lt;y</a>")->GetText(), "x<y");
  auto root = Parse("<a>t1<![CDATA[ x<y&amp; ]]><b/><![CDATA[]]>t2</a>");
  EXPECT_STREQ(root->GetText(), "t1t2");
  ASSERT_EQ(root->GetChildCount(), 3);
  EXPECT_STREQ(root->GetChild(0)->GetName(), "CDATA");
  EXPECT_STREQ(root->GetChild(0)->GetText(), " x<y&amp; ");
  EXPECT_STREQ(root->GetChild(1)->GetName(), "b");
  EXPECT_STREQ(root->GetChild(2)->GetText(), "");
  EXPECT_EQ(root->GetChild(2)->GetParent(), root.get());
}

TEST(XmlParserTest, AttributesInDocumentOrderWithLines) {
  auto root = Parse("<a x=\"1\"y='2'\n x='&quot;3&quot;' e=''/>");
  ASSERT_EQ(root->GetAttrCount(), 4);
  EXPECT_STREQ(root->GetAttr(0)->GetName(), "x");
  EXPECT_STREQ(root->GetAttr(1)->GetName(), "y");
  EXPECT_STREQ(root->GetAttr(1)->GetValue(), "2");
  EXPECT_STREQ(root->GetAttr(2)->GetValue(), "\"3\"");  // kept twice, in order
  EXPECT_STREQ(root->GetAttr(3)->GetValue(), "");
  EXPECT_EQ(root->GetAttr(0)->GetLine(), 1);
  EXPECT_EQ(root->GetAttr(2)->GetLine(), 2);
}

TEST(XmlParserTest, ElementLinesAndChildOrder) {
  auto root = Parse("<r>\n<a/>\n\n<b>\n<c/></b><a/></r>");
  EXPECT_EQ(root->GetLine(), 1);
  ASSERT_EQ(root->GetChildCount(), 3);
  EXPECT_EQ(root->GetChild(0)->GetLine(), 2);
  EXPECT_EQ(root->GetChild(1)->GetLine(), 4);
  EXPECT_EQ(root->GetChild(1)->GetChild(0)->GetLine(), 5);
  EXPECT_STREQ(root->GetChild(2)->GetName(), "a");
}

TEST(XmlParserTest, AnythingAfterTheRootIsIgnored) {
  for (const char* tail : {"", "trailing text", "<b>", "<!-- never closed", "</x>", "<![CDATA[",
                           "<a x=", "\xff\xfe"}) {
    auto root = Parse(std::string("<a/>") + tail);
    EXPECT_STREQ(root->GetName(), "a") << tail;
  }
}

TEST(XmlParserTest, NameLengthLimits) {
  const std::string name64(64, 'n');
  EXPECT_EQ(Parse("<" + name64 + "/>")->GetName(), name64);
  EXPECT_EQ(ErrorOf("<" + name64 + "n/>"), "line 1, col 2, too long tag,the max length is 64");
  EXPECT_STREQ(Parse("<a " + name64 + "='v'/>")->GetAttr(0)->GetName(), name64.c_str());
  EXPECT_EQ(ErrorOf("<a\n  " + name64 + "n='v'/>"),
            "line 2, col 3, too long attribute name,the max length is 64");
}

TEST(XmlParserTest, ExpectMessages) {
  EXPECT_EQ(ErrorOf(""), "line 1, col 1, \"\" should be token type \"<\"");
  EXPECT_EQ(ErrorOf("  \n  text<a/>"), "line 2, col 3, \"\" should be token type \"<\"");
  EXPECT_EQ(ErrorOf("<"), "line 1, col 2, \"\" should be token type \"tag/attrname\"");
  EXPECT_EQ(ErrorOf("<a b>"), "line 1, col 5, \">\" should be token type \"=\"");
  EXPECT_EQ(ErrorOf("<a b=c>"), "line 1, col 6, \"c\" should be token type \"string\"");
  EXPECT_EQ(ErrorOf("<a b='1'"), "line 1, col 9, \"\" should be token type \"tag/attrname\"");
  EXPECT_EQ(ErrorOf("<a></>"), "line 1, col 6, \">\" should be token type \"tag/attrname\"");
  EXPECT_EQ(ErrorOf("<a></a b>"), "line 1, col 8, \"b\" should be token type \">\"");
}

TEST(XmlParserTest, SyntaxErrorMessages) {
  EXPECT_EQ(ErrorOf("<a x=\"1>"), "line 1, col 6, \"1>(Too long)\", Syntax Error");
  EXPECT_EQ(ErrorOf("<!-- open"), "line 1, col 1, \"<!-- ... (NEED -->)\", Syntax Error");
  EXPECT_EQ(ErrorOf("<?xml"), "line 1, col 1, \"<? ... (NEED ?>)\", Syntax Error");
  EXPECT_EQ(ErrorOf("<!DOCTYPE x><a/>"), "line 1, col 2, \"!DOCTYPE \", Syntax Error");
  EXPECT_EQ(ErrorOf("<a:b:c/>"), "line 1, col 2, \"a:b:c\", Syntax Error");
  EXPECT_EQ(ErrorOf("<a " + std::string(300, 'x') + "='1'/>"),
            "line 1, col 4, \"xxxxxxxxx(Too long)\", Syntax Error");
  EXPECT_EQ(ErrorOf("<![CDATA[x]]><a/>"), "line 1, col 1, \"\" should be token type \"<\"");
}

TEST(XmlParserTest, ContentMessages) {
  EXPECT_EQ(ErrorOf("<a>"), "line 1, col 4, invalid token");
  EXPECT_EQ(ErrorOf("<a>x</b>"), "line 1, col 7, tag b not match a");
  EXPECT_EQ(ErrorOf("<a><b></B></a>"), "line 1, col 9, tag B not match b");
  EXPECT_EQ(ErrorOf("<a>\n<!-- open</a>"), "line 2, col 1, invalid token");
  EXPECT_EQ(ErrorOf("<a>" + std::string(2048, 't') + "</a>"), "line 1, col 4, invalid token");
  EXPECT_EQ(ErrorOf("<a><![CDATA[" + std::string(2049, 'c') + "]]></a>"),
            "line 1, col 4, invalid token");
  EXPECT_EQ(ErrorOf("<a><![CDATA[x</a>"), "line 1, col 4, invalid token");
}

// ParseOrFail is what Parse wraps: the same tree, or the same message
// without an exception; a successful parse leaves the message alone.
TEST(XmlParserTest, ParseOrFailReportsWhatParseThrows) {
  const char* const texts[] = {"", "<a", "<a>x</b>", "<a b=c>", "<!DOCTYPE x><a/>",
                               "<a x='1'><b/></a>"};
  for (const char* text : texts) {
    char message[kXmlMessageSize] = "untouched";
    std::unique_ptr<XmlNode> root(XmlParser::ParseOrFail(text, message));
    const std::string thrown = ErrorOf(text);
    if (thrown == "no error") {
      ASSERT_NE(root, nullptr) << text;
      EXPECT_EQ(root->ToString(), Parse(text)->ToString());
      EXPECT_STREQ(message, "untouched");
    } else {
      EXPECT_EQ(root, nullptr) << text;
      EXPECT_EQ(message, thrown) << text;
    }
  }
}

TEST(XmlParserTest, FailCutsItsMessageToTheBuffer) {
  const std::string longer(kXmlMessageSize + 100, 'm');
  try {
    XmlParser::Fail("%s", longer.c_str());
  } catch (const TXMLExcept& error) {
    EXPECT_EQ(std::string(error.what()), longer.substr(0, kXmlMessageSize - 1));
    return;
  }
  ADD_FAILURE() << "Fail must throw";
}

TEST(XmlParserTest, ElementTextLimit) {
  const std::string half(1024, 't');
  EXPECT_EQ(std::string(Parse("<a>" + half + "<b/>" + half + "</a>")->GetText()).size(), 2048u);
  EXPECT_EQ(ErrorOf("<a>" + half + "<b/>" + half + "<c/>x</a>"), "line 1, col 2060, too long text");
  // The limit counts decoded text: three runs of 2045 raw characters each
  // decode to 1227 characters in all.
  std::string amps;
  for (int i = 0; i < 409; ++i) amps += "&amp;";
  const std::string runs = amps + "<!---->" + amps + "<!---->" + amps;
  EXPECT_EQ(std::string(Parse("<a>" + runs + "</a>")->GetText()), std::string(1227, '&'));
}

TEST(XmlParserTest, FailedParseLeavesNothingBehind) {
  // Fails deep inside, after building elements, attributes and texts; the
  // leak checker of the test run watches this. The next parse is unaffected.
  EXPECT_EQ(ErrorOf("<a x='1'><b y='2'>text<c/><d>more</d></b><e></f></a>"),
            "line 1, col 47, tag f not match e");
  auto root = Parse("<ok/>");
  EXPECT_STREQ(root->GetName(), "ok");
}

TEST(XmlParserTest, NestingDepthIsBounded) {
  std::string deep;
  for (int i = 0; i < kXmlMaxDepth; ++i) deep += "<d>";
  for (int i = 0; i < kXmlMaxDepth; ++i) deep += "</d>";
  auto root = Parse(deep);
  int depth = 0;
  for (const XmlNode* node = root.get(); node; node = node->GetFirstChild()) ++depth;
  EXPECT_EQ(depth, kXmlMaxDepth);

  EXPECT_EQ(ErrorOf("<d>" + deep + "</d>"), "line 1, col " + std::to_string(3 * kXmlMaxDepth + 1) +
                                                ", too deep nesting,the max depth is 256");
  // Far deeper input fails the same way instead of exhausting the stack.
  std::string hostile;
  for (int i = 0; i < 1000000; ++i) hostile += "<d>";
  EXPECT_EQ(ErrorOf(hostile).substr(0, 29), "line 1, col 769, too deep nes");
}

TEST(XmlParserTest, WideElementsParseInLinearTime) {
  // Many attributes and children: appending must not walk the lists.
  std::string wide = "<a";
  for (int i = 0; i < 100000; ++i) wide += " x='1'";
  wide += ">";
  for (int i = 0; i < 100000; ++i) wide += "<c/>";
  wide += "</a>";
  auto root = Parse(wide);
  EXPECT_EQ(root->GetAttrCount(), 100000);
  EXPECT_EQ(root->GetChildCount(), 100000);
}

TEST(XmlParserTest, NullTextIsAnEmptyDocument) {
  try {
    delete XmlParser::Parse(nullptr);
    FAIL() << "no error";
  } catch (const TXMLExcept& error) {
    EXPECT_STREQ(error.what(), "line 1, col 1, \"\" should be token type \"<\"");
  }
}

TEST(TXMLExceptTest, MessageIsCutAt511Characters) {
  const std::string long_message(600, 'm');
  TXMLExcept error(long_message.c_str());
  EXPECT_EQ(std::string(error.what()), long_message.substr(0, 511));
  TXMLExcept copy = error;
  EXPECT_STREQ(copy.what(), error.what());
}

// A host that catches standard exceptions first still gets the parse
// error in a clause of its own.
TEST(TXMLExceptTest, PassesACatchOfStandardExceptionsForItsOwnClause) {
  static_assert(!std::is_base_of<std::exception, TXMLExcept>::value, "no base class");
  bool reached = false;
  try {
    delete XmlParser::Parse("<a>");
  } catch (const std::exception&) {
    ADD_FAILURE() << "taken for a standard exception";
  } catch (TXMLExcept& error) {
    reached = true;
    EXPECT_STREQ(error.what(), "line 1, col 4, invalid token");
  }
  EXPECT_TRUE(reached);
}

TEST(TXMLExceptTest, FailFormats) {
  try {
    XmlParser::Fail("line %d, col %d, %s", 3, 4, "x");
  } catch (const TXMLExcept& error) {
    EXPECT_STREQ(error.what(), "line 3, col 4, x");
  }
}

}  // namespace
}  // namespace voicecontrol
