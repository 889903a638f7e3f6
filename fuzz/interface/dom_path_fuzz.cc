// Plain paths ("//A/B/C") are answered by the DOM layer's own element scan;
// the same path spelled with axes goes to pugixml's XPath engine. On any
// document and path both must select the same nodes in the same order, and
// SelectSingleNode must give the same node for both.
//
// Input: the path on the first line, the document (ANSI/UTF-8) after it.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <voicecontrol/interface/dom.h>
#include "platform/codepage.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

struct Selection {
  bool raised = false;
  std::vector<std::wstring> names_and_texts;
};

// Names and texts of every element the path selects; a raised DomError is a
// result too (both spellings must then raise).
Selection Select(const voicecontrol::DomNode& root, const std::wstring& path) {
  Selection selection;
  try {
    voicecontrol::DomNodeList list = root.SelectNodes(path);
    for (voicecontrol::DomNode node = list.NextElement(); !node.IsEmpty();
         node = list.NextElement()) {
      selection.names_and_texts.push_back(node.GetName());
      selection.names_and_texts.push_back(node.GetText());
    }
  } catch (const voicecontrol::DomError&) {
    selection.raised = true;
  }
  return selection;
}

// The same for SelectSingleNode: name and text of the node, none if empty.
Selection SelectFirst(const voicecontrol::DomNode& root, const std::wstring& path) {
  Selection selection;
  try {
    const voicecontrol::DomNode node = root.SelectSingleNode(path);
    if (!node.IsEmpty()) selection.names_and_texts = {node.GetName(), node.GetText()};
  } catch (const voicecontrol::DomError&) {
    selection.raised = true;
  }
  return selection;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace voicecontrol;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t line_end = input.find('\n');
  if (line_end == std::string_view::npos) return 0;
  const std::string_view path_bytes = input.substr(0, line_end);
  // "///x" would spell as "/descendant-or-self::node()//x", a different
  // (valid) expression; every other text keeps its meaning.
  if (path_bytes.substr(0, 2) != "//" || path_bytes.substr(0, 3) == "///") return 0;

  DomDocument dom;
  const DomNode root = dom.LoadAnsiXml(input.substr(line_end + 1));
  if (root.IsEmpty()) return 0;

  const std::wstring path = platform::Utf8ToWideString(path_bytes.data(), path_bytes.size());
  // "//" abbreviates "/descendant-or-self::node()/".
  const std::wstring spelled = L"/descendant-or-self::node()/" + path.substr(2);
  const Selection plain = Select(root, path);
  const Selection general = Select(root, spelled);
  Check(plain.raised == general.raised);
  Check(plain.names_and_texts == general.names_and_texts);

  const Selection plain_first = SelectFirst(root, path);
  const Selection general_first = SelectFirst(root, spelled);
  Check(plain_first.raised == general_first.raised);
  Check(plain_first.names_and_texts == general_first.names_and_texts);
  return 0;
}
