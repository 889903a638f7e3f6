// The exceptions voicecontrol.dll throws reach a host built with the same
// toolchain intact: thrown inside the DLL, they unwind through the host's
// frames, match the host's catch clauses by their own type (passing the
// clauses for other types), carry their payload, and leave the runtime's
// exception bookkeeping balanced. This is what the shared C++ runtime beside the DLL is for.
#include <comdef.h>
#include <gtest/gtest.h>

#include <exception>
#include <string>

#include <voicecontrol/interface/dom.h>
#include <voicecontrol/xml/xml.h>

namespace voicecontrol {
namespace {

TEST(DllBoundaryTest, ParserErrorReachesTheHostWithItsMessage) {
  try {
    delete XmlParser::Parse("<a>\n<b></a>");
    FAIL() << "a mismatched end tag must throw";
  } catch (const TXMLExcept& error) {
    EXPECT_EQ(std::string(error.what()).rfind("line 2, col ", 0), 0u) << error.what();
    EXPECT_EQ(std::uncaught_exceptions(), 0);
  }
  EXPECT_EQ(std::uncaught_exceptions(), 0);
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

TEST(DllBoundaryTest, DomErrorsReachTheHostAsComError) {
  try {
    DomNode().SelectNodes(L"//Interface");
    FAIL() << "selecting from the empty node must raise";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), E_POINTER);
  }
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
}

}  // namespace
}  // namespace voicecontrol
