// The libxml2 backend keeps libxml2's messages to itself: a library never
// writes to its host's streams, and a host that uses libxml2 on the same
// thread keeps its own error handlers.
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <voicecontrol/interface/HttpXmlReq.h>
#include <voicecontrol/interface/dom.h>
#include "interface/error_detail.h"

namespace voicecontrol {
namespace {

// Runs `body` with file descriptor 2 sent to a file; what was written there.
template <typename Body>
std::string Stderr(Body body) {
  const std::string path = ::testing::TempDir() + "voicecontrol_stderr.txt";
  std::fflush(stderr);
  const int saved = dup(2);
  FILE* file = std::fopen(path.c_str(), "w");
  if (saved < 0 || file == nullptr) {
    ADD_FAILURE() << "cannot redirect stderr";
    return "";
  }
  dup2(fileno(file), 2);
  body();
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::fclose(file);
  std::ifstream in(path);
  std::stringstream written;
  written << in.rdbuf();
  std::remove(path.c_str());
  return written.str();
}

// Documents on which libxml2 has something to say, some of it outside its
// parser context (a redeclared predefined entity is reported by the tree
// module, which knows no context).
const wchar_t* const kTalkativeDocuments[] = {
    L"<!DOCTYPE r [<!ENTITY lt \"<\">]><r>&lt;</r>",
    L"<!DOCTYPE r [<!ENTITY amp \"&\">]><r/>",
    L"<r><a></b></r>",
    L"<r xmlns:p=\"urn:x\"><q:x/></r>",
    L"<r>&undeclared;</r>",
    L"<?xml version=\"2.0\"?><r/>",
    L"<r a=\"1\" a=\"2\"/>",
};

TEST(DomLibxml2Test, NothingReachesStderr) {
  const std::string written = Stderr([] {
    for (const wchar_t* text : kTalkativeDocuments) {
      DomDocument dom;
      const DomNode root = dom.LoadXml(text);
      if (!root.IsEmpty()) {
        try {
          root.SelectSingleNode(L"//[");
        } catch (const DomError&) {
        }
      }
    }
    const std::string answer =
        "HTTP/1.1 200 OK\r\n\r\n<!DOCTYPE Interface [<!ENTITY lt \"<\">]><Interface/>";
    HttpXmlRsp response;
    response.CreateBody();
    response.Parse(answer.c_str(), static_cast<int>(answer.size()));
  });
  EXPECT_EQ(written, "");
}

int host_errors = 0;
void HostHandler(void* data, xmlErrorPtr) { ++*static_cast<int*>(data); }

// The thread's handlers are the library's only while it parses.
TEST(DomLibxml2Test, TheHostsOwnHandlersAreKept) {
  xmlSetStructuredErrorFunc(&host_errors, HostHandler);
  for (const wchar_t* text : kTalkativeDocuments) {
    DomDocument dom;
    dom.LoadXml(text);
  }
  EXPECT_EQ(host_errors, 0);
  EXPECT_EQ(xmlStructuredError, HostHandler);
  EXPECT_EQ(xmlStructuredErrorContext, &host_errors);
  // The host's own parse still reaches the host's handler.
  xmlDocPtr document = xmlReadMemory("<a>", 3, "x.xml", nullptr, 0);
  EXPECT_EQ(document, nullptr);
  EXPECT_GT(host_errors, 0);
  xmlSetStructuredErrorFunc(nullptr, nullptr);
}

// The parser's message for a document that is not one becomes the detail,
// without advice that only the parser's caller could follow.
TEST(DomLibxml2Test, TheParsersReasonIsTheDetail) {
  std::wstring deep;  // nested past libxml2's depth limit
  for (int i = 0; i < 300; ++i) deep += L"<a>";
  const struct {
    std::wstring text;
    const char* detail;
  } cases[] = {
      {L"<r>\n<a></b></r>",
       "document is not well-formed XML (line 2, column 8): Opening and ending tag mismatch: a "
       "line 2 and b"},
      {deep,
       "document is not well-formed XML (line 1, column 772): Excessive depth in document: 256"},
  };
  for (const auto& c : cases) {
    DomDocument dom;
    internal::TakeErrorDetail();
    EXPECT_TRUE(dom.LoadXml(c.text).IsEmpty());
    EXPECT_EQ(internal::TakeErrorDetail(), c.detail);
  }
}

// External entities, however reached, are never read (a file's text would
// show, or would break the document type): referenced from content they
// stand for nothing; from an attribute value, directly or through other
// entities, they make the text no document, as XML requires.
TEST(DomLibxml2Test, ExternalEntitiesAreNeverRead) {
  const struct {
    const char* text;
    const char* refusedAt;  // null when the text loads
  } cases[] = {
      {"<!DOCTYPE a [<!ENTITY e SYSTEM 'file:///etc/hostname'>]>\n<a b='x&e;'/>", "2, column 11"},
      {"<!DOCTYPE a [<!ENTITY e PUBLIC '-//x' '/etc/hostname'><!ENTITY i '(&e;)'>]>\n"
       "<a>[&i;]<c b='&i;'/></a>",
       "2, column 18"},
      {"<!DOCTYPE a [<!ENTITY e SYSTEM '/etc/hostname'>\n<!ATTLIST a b CDATA '&e;'>]><a/>",
       "2, column 25"},
      {"<!DOCTYPE a [<!ENTITY % d \"<!ENTITY e SYSTEM '/etc/hostname'>\">%d;]>\n<a b='&e;'/>",
       "2, column 10"},
      {"<!DOCTYPE a [<!ENTITY e SYSTEM '/etc/hostname'><!ENTITY i '&e;'>]><a>[&e;&i;]</a>",
       nullptr},
      {"<!DOCTYPE a [<!ENTITY e '[]'><!ENTITY e SYSTEM '/etc/hostname'>]><a b='&e;'>&e;</a>",
       nullptr},  // the first declaration binds the name
      {"<!DOCTYPE a [<!ENTITY % p SYSTEM '/etc/hostname'>%p;]><a>[]</a>", nullptr},
      {"<!DOCTYPE a SYSTEM '/etc/hostname'><a>[]</a>", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string text = c.text;
    for (const bool ansi : {false, true}) {
      DomDocument dom;
      internal::TakeErrorDetail();
      const DomNode root =
          ansi ? dom.LoadAnsiXml(text) : dom.LoadXml(std::wstring(text.begin(), text.end()));
      if (c.refusedAt == nullptr) {
        EXPECT_EQ(root.SelectSingleNode(L"/a").GetText(), L"[]");
        continue;
      }
      EXPECT_TRUE(root.IsEmpty());
      EXPECT_EQ(internal::TakeErrorDetail(),
                std::string("document is not well-formed XML (line ") + c.refusedAt +
                    "): attribute value refers to external entity 'e'");
    }
  }
}

}  // namespace
}  // namespace voicecontrol
