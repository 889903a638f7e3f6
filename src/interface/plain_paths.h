// The paths "//A/B/C" of the interface messages, matched by element names
// on a plain reading (plain_document.h), with no DOM at all.
//
// Nearly every query the library makes is such a path, asked for every
// value an answer holds; both the DOM calls on libxml2 and the plain
// reading of answers (plain_answer.h) select through these functions, so
// the two roads cannot disagree on what a path selects.
#ifndef VOICECONTROL_INTERFACE_PLAIN_PATHS_H_
#define VOICECONTROL_INTERFACE_PLAIN_PATHS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "interface/plain_document.h"

namespace voicecontrol {

// The element names of a path "//A/B/C": every element C whose parent is a
// B whose parent is an A, anywhere in the document, whatever the context.
struct ChildPath {
  static constexpr size_t kMaxSteps = 8;
  std::wstring_view steps[kMaxSteps];
  size_t count = 0;
};

// False for every path of another form; the XPath engine answers those.
// One pass over the characters.
bool ReadChildPath(std::wstring_view path, ChildPath* parsed);

// Plain names are ASCII: compared character by character with the wide step.
bool SameName(std::string_view name, std::wstring_view step);

// Whether the element `index` of a plain document is one `path` selects.
bool PlainMatches(const PlainDocument& document, size_t index, const ChildPath& path);

// The last step of `path` as a narrow name: the steps ReadChildPath takes
// are ASCII. Empty for a path of no steps.
std::string NarrowLeaf(const ChildPath& path);

// PlainMatches for elements taken in document order, walking each parent
// chain once: the values of an answer are siblings, and once one of them
// matched, the next needs only its own name compared. `leaf` is
// NarrowLeaf(path), made once by the caller: most elements fail on it.
class PlainMatcher {
 public:
  PlainMatcher(const PlainDocument& document, const ChildPath& path, std::string_view leaf)
      : document_(document), path_(path), leaf_(leaf) {}

  bool Matches(size_t index) {
    if (path_.count == 0) return false;
    const PlainDocument::Element& element = document_.elements()[index];
    if (document_.Name(element) != leaf_) return false;
    // A sibling of an element that matched has the same ancestors.
    if (element.parent == matchedParent_) return true;
    if (!PlainMatches(document_, index, path_)) return false;
    matchedParent_ = element.parent;
    return true;
  }

 private:
  const PlainDocument& document_;
  const ChildPath& path_;
  const std::string_view leaf_;
  int32_t matchedParent_ = -2;  // no element's parent: the root's is -1
};

// Elements are numbered in document order, so one pass in index order
// selects in document order; `visit` returns false to stop.
template <typename Visit>
void ForEachMatch(const PlainDocument& document, const ChildPath& path, Visit visit) {
  const std::string leaf = NarrowLeaf(path);
  PlainMatcher matcher(document, path, leaf);
  const size_t count = document.elements().size();
  for (size_t i = 0; i < count; ++i) {
    if (matcher.Matches(i) && !visit(i)) return;
  }
}

}  // namespace voicecontrol

#endif  // VOICECONTROL_INTERFACE_PLAIN_PATHS_H_
