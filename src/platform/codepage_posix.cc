// The code pages a host selects, through iconv. UTF-8 itself is converted
// by codepage_utf8.cc, the same code on every platform.
#include <errno.h>
#include <iconv.h>

#include <atomic>
#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "platform/codepage_names.h"

namespace voicecontrol {
namespace platform {

namespace {

constexpr wchar_t kReplacement = 0xFFFD;

// The code page selected by the host; null while UTF-8 is in force.
std::atomic<const CodePage*> selected_code_page{nullptr};

// glibc's name for wchar_t text: UTF-32 in the machine's byte order.
constexpr char kWideName[] = "WCHAR_T";

// One iconv conversion, open for the length of one call: descriptors keep
// shift state and must not be shared between threads.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts what it can of [*in, *in + *in_left) into [*out, *out +
  // *out_left); with null `in`, writes what returns a stateful code page
  // to its initial state. False, with errno, where it stopped early.
  bool Convert(char** in, size_t* in_left, char** out, size_t* out_left) {
    return iconv(cd_, in, in_left, out, out_left) != static_cast<size_t>(-1);
  }

 private:
  iconv_t cd_;
};

// Narrow text in `page` to wide text. A sequence the code page does not
// define becomes U+FFFD and decoding goes on at the next byte; a sequence
// cut off at the end becomes one U+FFFD.
std::wstring NarrowToWide(const CodePage& page, const char* text, size_t length) {
  std::wstring out;
  if (text == nullptr || length == 0) return out;
  Iconv converter(kWideName, page.iconvName);
  if (!converter.ok()) return out;
  // Usually enough: a byte gives at most one character in most code pages.
  out.resize(length);
  char* in = const_cast<char*>(text);
  size_t in_left = length;
  size_t used = 0;  // bytes of `out` written
  while (in_left > 0) {
    char* const begin = reinterpret_cast<char*>(&out[0]);
    char* next = begin + used;
    size_t out_left = out.size() * sizeof(wchar_t) - used;
    const bool done = converter.Convert(&in, &in_left, &next, &out_left);
    used = static_cast<size_t>(next - begin);
    if (done) break;
    if (errno == E2BIG || out_left < sizeof(wchar_t)) {
      out.resize(out.size() * 2);
      continue;
    }
    std::memcpy(begin + used, &kReplacement, sizeof kReplacement);
    used += sizeof kReplacement;
    if (errno == EINVAL) break;  // incomplete at the end
    ++in;
    --in_left;
  }
  out.resize(used / sizeof(wchar_t));
  return out;
}

// Room for the narrow form of a wide character in the usual code pages
// (GB18030 writes up to 4 bytes); stateful ones may need more, and the
// buffer then grows.
constexpr size_t kUsualNarrowBytes = 4;
// Room for the bytes that shift a stateful code page back to its initial state.
constexpr size_t kShiftBytes = 8;

// Wide text to narrow text in `page`. A character the code page cannot
// hold becomes '?', as Windows writes it, and conversion goes on.
std::string WideToNarrow(const CodePage& page, const wchar_t* text, size_t length) {
  std::string out;
  if (text == nullptr || length == 0) return out;
  Iconv converter(page.iconvName, kWideName);
  if (!converter.ok()) return out;
  out.resize(length * kUsualNarrowBytes + kShiftBytes);
  char* in = reinterpret_cast<char*>(const_cast<wchar_t*>(text));
  size_t in_left = length * sizeof(wchar_t);
  size_t used = 0;
  for (;;) {
    char* next = &out[used];
    size_t out_left = out.size() - used;
    // After the text, shift back to the initial state (stateful code pages only).
    const bool flushing = in_left == 0;
    const bool done = flushing ? converter.Convert(nullptr, nullptr, &next, &out_left)
                               : converter.Convert(&in, &in_left, &next, &out_left);
    used = static_cast<size_t>(next - &out[0]);
    if (done && flushing) break;
    if (done) continue;
    if (errno == E2BIG || out_left == 0) {
      out.resize(out.size() * 2);
    } else if (errno == EILSEQ && !flushing) {
      out[used++] = '?';
      in += sizeof(wchar_t);
      in_left -= sizeof(wchar_t);
    } else {
      break;  // cannot happen for whole wide characters
    }
  }
  out.resize(used);
  return out;
}

// Whether iconv converts `page` both ways and reads and writes ASCII as
// ASCII.
bool IsUsable(const CodePage& page) {
  if (!Iconv(kWideName, page.iconvName).ok() || !Iconv(page.iconvName, kWideName).ok()) {
    return false;
  }
  const std::string ascii = kAsciiProbe;
  const std::wstring wide = NarrowToWide(page, ascii.data(), ascii.size());
  return wide == std::wstring(ascii.begin(), ascii.end()) &&
         WideToNarrow(page, wide.data(), wide.size()) == ascii;
}

// A code page of the table, or else one iconv may know by that name.
const CodePage* LookUpCodePage(const char* name) {
  const CodePage* page = FindCodePage(name);
  if (page != nullptr) return page;
  if (!IsSystemCodePageName(name)) return nullptr;
  return RememberSystemCodePage(name, 0, name);
}

}  // namespace

bool SelectAnsiCodePage(const char* name) {
  const CodePage* page = LookUpCodePage(name);
  if (page == nullptr) return false;
  if (page->windowsId == kUtf8CodePageId) {
    selected_code_page.store(nullptr);
    return true;
  }
  if (!IsUsable(*page)) return false;
  selected_code_page.store(page);
  return true;
}

void ResetAnsiCodePage() { selected_code_page.store(nullptr); }

bool AnsiIsUtf8() { return selected_code_page.load() == nullptr; }

std::wstring AnsiToWideString(const char* text, size_t length) {
  const CodePage* page = selected_code_page.load();
  if (page == nullptr) return Utf8ToWideString(text, length);
  return NarrowToWide(*page, text, length);
}

std::string WideToAnsiString(const wchar_t* text, size_t length) {
  const CodePage* page = selected_code_page.load();
  if (page == nullptr) return WideToUtf8String(text, length);
  return WideToNarrow(*page, text, length);
}

}  // namespace platform
}  // namespace voicecontrol
