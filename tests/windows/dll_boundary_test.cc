// No exception crosses voicecontrol.dll's boundary, yet a host built with the
// same toolchain catches the C++ interface's exceptions as before. The DLL
// and this executable each carry a C++ runtime of their own (linked in
// statically), with an unwinder and exception bookkeeping of their own: on
// i686 an exception thrown inside the DLL cannot unwind this executable's
// frames at all, and on x86_64 it would leave std::uncaught_exceptions wrong.
// So the calls that throw are inline in the headers, over exported calls
// that report errors by value, and the exception is raised here, in the
// host's module: it matches the host's catch clauses by its own type
// (passing the clauses for other types), carries its payload, and leaves the
// bookkeeping balanced.
// winsock2.h has to come before anything that pulls in windows.h.
// clang-format off
#include <winsock2.h>
#include <comdef.h>
// clang-format on
#include <gtest/gtest.h>

#include <cstring>
#include <exception>
#include <new>
#include <string>

#include <voicecontrol/interface/dom.h>
#include <voicecontrol/xml/xml.h>

namespace voicecontrol {
namespace {

// Records std::uncaught_exceptions() while it is destroyed: during the
// unwinding of an exception that is 1.
class UnwindWitness {
 public:
  explicit UnwindWitness(int* seen) : seen_(seen) {}
  ~UnwindWitness() { *seen_ = std::uncaught_exceptions(); }
  UnwindWitness(const UnwindWitness&) = delete;
  UnwindWitness& operator=(const UnwindWitness&) = delete;

 private:
  int* seen_;
};

TEST(DllBoundaryTest, ParserErrorReachesTheHostWithItsMessage) {
  int inFlight = -1;
  try {
    UnwindWitness witness(&inFlight);
    delete XmlParser::Parse("<a>\n<b></a>");
    FAIL() << "a mismatched end tag must throw";
  } catch (const TXMLExcept& error) {
    EXPECT_STREQ(error.what(), "line 2, col 6, tag a not match b");
    EXPECT_EQ(std::uncaught_exceptions(), 0);
  }
  EXPECT_EQ(inFlight, 1);
  EXPECT_EQ(std::uncaught_exceptions(), 0);
}

// The exported call underneath reports the same message and throws nothing.
TEST(DllBoundaryTest, TheDllReportsParseErrorsByValue) {
  struct Case {
    const char* text;
    const char* message;  // null: the parse succeeds
  };
  const Case cases[] = {
      {"<a>\n<b></a>", "line 2, col 6, tag a not match b"},
      {"<a", "line 1, col 3, \"\" should be token type \">\""},
      {"<a x='1'><b/></a>", nullptr},
  };
  for (const Case& c : cases) {
    char message[kXmlMessageSize] = "untouched";
    XmlNode* root = XmlParser::ParseOrFail(c.text, message);
    if (c.message == nullptr) {
      ASSERT_NE(root, nullptr) << c.text;
      EXPECT_STREQ(root->GetAttrValue("x"), "1");
      EXPECT_STREQ(message, "untouched");
      delete root;
      continue;
    }
    EXPECT_EQ(root, nullptr) << c.text;
    try {
      delete XmlParser::Parse(c.text);
      ADD_FAILURE() << c.text << " must throw";
    } catch (const TXMLExcept& error) {
      EXPECT_STREQ(message, error.what()) << c.text;
    }
  }
}

// The parse error has no base class: a host's catch of standard exceptions
// placed first lets it pass to the host's own clause for it.
TEST(DllBoundaryTest, ParserErrorPassesACatchOfStdExceptionToItsOwnClause) {
  bool reached = false;
  try {
    delete XmlParser::Parse("<a");
  } catch (const std::exception&) {
    ADD_FAILURE() << "taken for a standard exception";
  } catch (const TXMLExcept&) {
    reached = true;
  }
  EXPECT_TRUE(reached);
  EXPECT_EQ(std::uncaught_exceptions(), 0);
}

TEST(DllBoundaryTest, HostCanRethrowTheLibrarysException) {
  std::exception_ptr stored;
  try {
    delete XmlParser::Parse("");
  } catch (...) {
    stored = std::current_exception();
  }
  ASSERT_TRUE(stored);
  EXPECT_THROW(std::rethrow_exception(stored), TXMLExcept);
  EXPECT_EQ(std::uncaught_exceptions(), 0);
}

// The scanner's own throwing calls, for a host that drives it token by token.
TEST(DllBoundaryTest, ScannerErrorsReachTheHost) {
  XmlParser& scanner = XmlParser::Current();
  scanner.Reset("<a>");
  scanner.NextToken();
  EXPECT_NO_THROW(scanner.Expect(TokTagOpen));
  try {
    scanner.Expect(TokText);
    FAIL() << "the wrong kind must throw";
  } catch (const TXMLExcept& error) {
    EXPECT_STREQ(error.what(), "line 1, col 1, \"<\" should be token type \"text\"");
  }
  EXPECT_THROW(XmlParser::Fail("line %d, %s", 3, "made up"), TXMLExcept);
  EXPECT_EQ(std::uncaught_exceptions(), 0);
}

TEST(DllBoundaryTest, DomErrorsReachTheHostAsComError) {
  int inFlight = -1;
  try {
    UnwindWitness witness(&inFlight);
    DomNode().SelectNodes(L"//Interface");
    FAIL() << "selecting from the empty node must raise";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), E_POINTER);
    EXPECT_EQ(std::uncaught_exceptions(), 0);
  }
  EXPECT_EQ(inFlight, 1);
  DomNodeList never_obtained;
  try {
    never_obtained.NextElement();
    FAIL() << "a list never obtained must raise";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), E_POINTER);
  }
  EXPECT_EQ(std::uncaught_exceptions(), 0);
}

TEST(DllBoundaryTest, APathTheDomRejectsRaisesItsResult) {
  DomDocument dom;
  const DomNode root = dom.LoadXml(L"<Interface><Response/></Interface>");
  ASSERT_FALSE(root.IsEmpty());
  try {
    root.SelectSingleNode(L"//[");
    FAIL() << "an invalid path must raise";
  } catch (const _com_error& error) {
    EXPECT_TRUE(FAILED(error.Error())) << std::hex << error.Error();
  }
  EXPECT_EQ(std::uncaught_exceptions(), 0);
}

// What succeeds comes back through the out-parameters unchanged.
TEST(DllBoundaryTest, SuccessfulDomCallsReturnTheirResults) {
  DomDocument dom;
  const DomNode root = dom.LoadXml(L"<Interface><Item>a</Item><x/><Item>b</Item></Interface>");
  ASSERT_FALSE(root.IsEmpty());
  EXPECT_EQ(root.GetName(), L"Interface");
  EXPECT_EQ(root.GetText(), L"ab");
  EXPECT_EQ(root.SelectSingleNode(L"Item").GetText(), L"a");
  EXPECT_TRUE(root.SelectSingleNode(L"Missing").IsEmpty());
  DomNodeList items = root.SelectNodes(L"*");
  items.SetFilter(L"Item");
  EXPECT_EQ(items.NextElement().GetText(), L"a");
  EXPECT_EQ(items.NextElement().GetText(), L"b");
  EXPECT_TRUE(items.NextElement().IsEmpty());
}

}  // namespace
}  // namespace voicecontrol
