// The one-pass reader of plain documents against libxml2 on the same text:
// whatever the reader accepts, libxml2 must accept too, with the same
// elements in the same order, the same names and the same character data.
// The DOM answers "//*" through libxml2's tree even for a plain document,
// so the comparison goes through the DOM that the library really uses.
//
// Input: the text, as UTF-8.

#include <cstdint>
#include <string>

#include <voicecontrol/interface/dom.h>
#include "../http/fuzz_input.h"  // Check
#include "interface/plain_document.h"
#include "platform/codepage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace voicecontrol;
  const std::string text(reinterpret_cast<const char*>(data), size);
  PlainDocument plain;
  if (!plain.Parse(text)) return 0;

  // Accepted text is valid UTF-8 without NUL, so it survives the way
  // through wide characters byte for byte.
  DomDocument dom;
  const DomNode root = dom.LoadXml(platform::Utf8ToWideString(text.data(), text.size()));
  Check(!root.IsEmpty());
  DomNodeList all;
  try {
    all = root.SelectNodes(L"//*");
  } catch (const DomError&) {
    Check(false);  // libxml2 refused a text the reader accepted
  }
  for (const PlainDocument::Element& element : plain.elements()) {
    const DomNode node = all.NextElement();
    Check(!node.IsEmpty());
    Check(platform::WideToUtf8String(node.GetName()) == plain.Name(element));
    Check(platform::WideToUtf8String(node.GetText()) == plain.Text(element));
  }
  Check(all.NextElement().IsEmpty());
  return 0;
}
