// Recursive-descent parser: one XmlNode::Parse per element, reading the
// tokens of the calling thread's scanner. The first error is thrown as
// TXMLExcept; the partial tree is destroyed on the way out, and
// XmlParser::ParseOrFail turns the exception into its message.

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <voicecontrol/http/trim_space.h>
#include <voicecontrol/xml/xml.h>
#include "xml/xml_arena.h"
#include "xml/xml_fast_parser.h"

namespace voicecontrol {

namespace {

// Points the scanner at what one parse works with, and clears the pointers
// again however the parse ends.
class ParseScope {
 public:
  ParseScope(std::string& gathered, XmlArena& arena, std::string*& gatheredSlot,
             XmlArena*& arenaSlot)
      : gatheredSlot_(gatheredSlot), arenaSlot_(arenaSlot) {
    gatheredSlot_ = &gathered;
    arenaSlot_ = &arena;
  }
  ~ParseScope() {
    gatheredSlot_ = nullptr;
    arenaSlot_ = nullptr;
  }
  ParseScope(const ParseScope&) = delete;
  ParseScope& operator=(const ParseScope&) = delete;

 private:
  std::string*& gatheredSlot_;
  XmlArena*& arenaSlot_;
};

// Runs a parse, turning its exceptions into ParseOrFail's report: no
// exception leaves the library (see Parse in xml.h).
template <typename Parse>
XmlNode* Reporting(char (&message)[kXmlMessageSize], Parse parse) noexcept {
  try {
    return parse();
  } catch (const TXMLExcept& error) {
    CopyBounded(message, error.what(), kXmlMessageSize);
  } catch (const std::bad_alloc&) {
    message[0] = '\0';
  }
  return nullptr;
}

}  // namespace

TXMLExcept::TXMLExcept(const char* text) { CopyBounded(message, text, kXmlMessageSize); }

const char* TXMLExcept::what() const noexcept { return message; }

// The parse steps throw TXMLExcept (through Fail and Expect) and catch
// nothing: unwinding destroys the partial tree.
XmlNode* XmlParser::ParseOrFail(const char* text, char (&message)[kXmlMessageSize]) noexcept {
  return Reporting(message, [text] {
    XmlRootEnd end;
    std::unique_ptr<XmlNode> root(XmlParsePaths::Fast(text, &end));
    if (root == nullptr) return ParseWithScanner(text);
    Current().ResumeAfterRoot(text, end);
    return root.release();
  });
}

XmlNode* XmlParsePaths::TokenByTokenOrFail(const char* text,
                                           char (&message)[kXmlMessageSize]) noexcept {
  return Reporting(message, [text] { return XmlParser::ParseWithScanner(text); });
}

void XmlParser::ResumeAfterRoot(const char* text, const XmlRootEnd& end) {
  // The state ParseWithScanner has after the root's closing bracket, which
  // it then scans past: the next token is whatever follows the root.
  const char* lineBegin = end.after;
  while (lineBegin > text && lineBegin[-1] != '\n') --lineBegin;
  inTag = 0;
  kind = TokTagClose;
  position = countedTo = end.after;
  lineStart = lineBegin;
  spanMayHoldLineFeeds = false;
  line = end.line;
  depth = 0;
  NextToken();
}

XmlNode* XmlParser::ParseWithScanner(const char* text) {
  XmlParser& scanner = Current();
  // The root owns the arena that holds the whole tree, and everything the
  // parse makes hangs off the root as soon as it exists, so destroying the
  // root on an error releases all of it.
  std::unique_ptr<XmlArena> arena(new XmlArena);
  std::unique_ptr<XmlNode> root(new (*arena, true) XmlNode);
  root->inArena = true;
  XmlArena& memory = *arena.release();
  std::string gathered;
  ParseScope scope(gathered, memory, scanner.gatheredText, scanner.arena);
  scanner.Reset(text);
  scanner.NextToken();
  root->Parse(scanner);
  return root.release();
}

void XmlNode::Parse(XmlParser& scanner) {
  // Each level costs a few stack frames; a bound keeps hostile input from
  // exhausting the stack of whatever thread parses it.
  if (scanner.depth >= kXmlMaxDepth) {
    XmlParser::Fail("line %d, col %d, too deep nesting,the max depth is %d", scanner.line,
                    scanner.column, kXmlMaxDepth);
  }
  ++scanner.depth;
  if (ParseStartTag(scanner)) {
    ParseContent(scanner);
    ParseEndTag(scanner);
  }
  --scanner.depth;
}

bool XmlNode::ParseStartTag(XmlParser& scanner) {
  line = scanner.line;
  scanner.Expect(TokTagOpen);
  scanner.NextToken();
  scanner.Expect(TokName);
  if (scanner.tokenLength > kXmlMaxNameLength) {
    XmlParser::Fail("line %d, col %d, too long tag,the max length is %d", scanner.line,
                    scanner.column, kXmlMaxNameLength);
  }
  SetParsedName(scanner.tokenText, scanner.tokenLength);
  scanner.NextToken();
  XmlAttr* lastAttr = nullptr;
  while (scanner.kind != TokTagClose && scanner.kind != TokEmptyTagClose) {
    ParseAttr(scanner, lastAttr);
  }
  const bool hasContent = scanner.kind == TokTagClose;
  scanner.NextToken();
  return hasContent;
}

void XmlNode::ParseAttr(XmlParser& scanner, XmlAttr*& lastAttr) {
  scanner.Expect(TokName);
  if (scanner.tokenLength > kXmlMaxNameLength) {
    XmlParser::Fail("line %d, col %d, too long attribute name,the max length is %d", scanner.line,
                    scanner.column, kXmlMaxNameLength);
  }
  XmlAttr* attr = new (*scanner.arena) XmlAttr;
  attr->inArena = true;
  std::memcpy(attr->name, scanner.tokenText, scanner.tokenLength + 1);
  attr->line = scanner.line;
  // Linked through the remembered tail: appending stays constant-time for
  // elements with many attributes.
  if (lastAttr == nullptr) {
    firstAttr = attr;
  } else {
    lastAttr->next = attr;
  }
  lastAttr = attr;
  scanner.NextToken();
  scanner.Expect(TokEquals);
  scanner.NextToken();
  scanner.Expect(TokString);
  attr->value = scanner.arena->CopyText(scanner.tokenText, scanner.tokenLength);
  attr->valueInArena = true;
  scanner.NextToken();
}

void XmlNode::ParseContent(XmlParser& scanner) {
  // This element's character data goes to the end of the shared buffer; a
  // child's data is appended behind it and cut off again when the child
  // ends, so the buffer behaves like a stack.
  std::string& gathered = *scanner.gatheredText;
  const size_t start = gathered.size();
  XmlNode* lastChild = nullptr;
  auto link_child = [this, &lastChild](XmlNode* child) {
    child->parent = this;
    if (lastChild == nullptr) {
      firstChild = child;
    } else {
      lastChild->nextSibling = child;
    }
    lastChild = child;
  };

  for (;;) {
    switch (scanner.kind) {
      case TokEndTagOpen: {
        size_t length = gathered.size() - start;
        if (length > 0) {
          TrimSpace(gathered.data() + start);
          length = std::strlen(gathered.c_str() + start);
        }
        text = scanner.arena->CopyText(gathered.c_str() + start, length);
        textInArena = true;
        gathered.resize(start);
        return;
      }
      case TokText:
        if (gathered.size() - start + scanner.dataLength > size_t{kXmlMaxElementText}) {
          XmlParser::Fail("line %d, col %d, too long text", scanner.line, scanner.column);
        }
        gathered.append(scanner.dataText, scanner.dataLength);
        scanner.NextToken();
        break;
      case TokTagOpen: {
        XmlNode* child = new (*scanner.arena, false) XmlNode;
        child->inArena = true;
        link_child(child);
        child->Parse(scanner);
        break;
      }
      case TokCData: {
        XmlNode* child = new (*scanner.arena, false) XmlNode;
        child->inArena = true;
        link_child(child);
        child->SetParsedName("CDATA", 5);
        child->text = scanner.arena->CopyText(scanner.dataText, scanner.dataLength);
        child->textInArena = true;
        scanner.NextToken();
        break;
      }
      default:
        XmlParser::Fail("line %d, col %d, invalid token", scanner.line, scanner.column);
    }
  }
}

void XmlNode::ParseEndTag(XmlParser& scanner) {
  scanner.Expect(TokEndTagOpen);
  scanner.NextToken();
  scanner.Expect(TokName);
  if (std::strcmp(scanner.tokenText, name) != 0) {
    XmlParser::Fail("line %d, col %d, tag %s not match %s", scanner.line, scanner.column,
                    scanner.tokenText, name);
  }
  scanner.NextToken();
  scanner.Expect(TokTagClose);
  scanner.NextToken();
}

}  // namespace voicecontrol
