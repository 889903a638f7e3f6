// UTF-8 <-> UTF-32 wide text, written out for speed; other code pages a
// host selects go through iconv.
#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

#include "platform/codepage.h"
#include "platform/codepage_names.h"
#include "platform/utf8.h"

namespace voicecontrol {
namespace platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at text[*pos] and advances *pos. A maximal
// ill-formed subsequence yields one U+FFFD, as the Windows decoder does.
char32_t DecodeOne(const unsigned char* text, size_t length, size_t* pos) {
  char32_t value;
  return DecodeUtf8(text, length, pos, &value) ? value : kReplacement;
}

// Writes the UTF-8 form of `cp` at `out` (room for 4 bytes) and returns the
// end of what was written; what is no Unicode scalar value becomes U+FFFD.
char* EncodeOne(char32_t cp, char* out) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  return EncodeUtf8(cp, out);
}

// Both directions size the result once and write through a pointer, and
// copy runs of ASCII a block at a time: texts are mostly ASCII, and the
// fixed-size block loops below compile to vector instructions.
constexpr size_t kBlock = 16;

bool IsAsciiBlock(const unsigned char* bytes) {
  unsigned char any = 0;
  for (size_t i = 0; i < kBlock; ++i) any |= bytes[i];
  return any < 0x80;
}

bool IsAsciiBlock(const wchar_t* text) {
  std::uint32_t any = 0;
  for (size_t i = 0; i < kBlock; ++i) any |= static_cast<std::uint32_t>(text[i]);
  return any < 0x80;
}

// Whether all `length` units at `text` are ASCII, a block at a time.
template <typename Unit>
bool IsAsciiText(const Unit* text, size_t length) {
  size_t i = 0;
  for (; length - i >= kBlock; i += kBlock) {
    if (!IsAsciiBlock(text + i)) return false;
  }
  for (; i < length; ++i) {
    if (static_cast<std::uint32_t>(text[i]) >= 0x80) return false;
  }
  return true;
}

size_t Utf8Size(std::uint32_t cp) {
  if (cp < 0x80) return 1;
  if (cp < 0x800) return 2;
  if (cp < 0x10000 || cp > 0x10FFFF) return 3;  // surrogates and beyond Unicode: U+FFFD
  return 4;
}

}  // namespace

std::wstring Utf8ToWideString(const char* text, size_t length) {
  std::wstring out;
  if (text == nullptr || length == 0) return out;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  // Pure ASCII, the usual case, widens with one allocation.
  if (IsAsciiText(bytes, length)) return std::wstring(bytes, bytes + length);
  out.resize(length);  // never more code points than bytes
  wchar_t* const begin = &out[0];
  wchar_t* end = begin;
  size_t pos = 0;
  while (pos < length) {
    if (length - pos >= kBlock && IsAsciiBlock(bytes + pos)) {
      // Through a local copy: the output may not alias the input, so the
      // widening loop is free to use vector instructions.
      unsigned char block[kBlock];
      std::memcpy(block, bytes + pos, kBlock);
      for (size_t i = 0; i < kBlock; ++i) end[i] = static_cast<wchar_t>(block[i]);
      end += kBlock;
      pos += kBlock;
    } else if (bytes[pos] < 0x80) {
      *end++ = static_cast<wchar_t>(bytes[pos++]);
    } else {
      *end++ = static_cast<wchar_t>(DecodeOne(bytes, length, &pos));
    }
  }
  out.resize(static_cast<size_t>(end - begin));
  return out;
}

std::string WideToUtf8String(const wchar_t* text, size_t length) {
  std::string out;
  if (text == nullptr || length == 0) return out;
  if (IsAsciiText(text, length)) {
    out.resize(length);
    std::transform(text, text + length, &out[0], [](wchar_t c) { return static_cast<char>(c); });
    return out;
  }
  size_t size = 0;
  size_t i = 0;
  while (i < length) {
    if (length - i >= kBlock && IsAsciiBlock(text + i)) {
      size += kBlock;
      i += kBlock;
    } else {
      size += Utf8Size(static_cast<std::uint32_t>(text[i++]));
    }
  }
  out.resize(size);
  char* end = &out[0];
  i = 0;
  while (i < length) {
    if (length - i >= kBlock && IsAsciiBlock(text + i)) {
      char block[kBlock];  // local, for the same reason as above
      for (size_t k = 0; k < kBlock; ++k) block[k] = static_cast<char>(text[i + k]);
      std::memcpy(end, block, kBlock);
      end += kBlock;
      i += kBlock;
    } else {
      end = EncodeOne(static_cast<char32_t>(static_cast<std::uint32_t>(text[i++])), end);
    }
  }
  return out;
}

namespace {

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
  // *out_left). False, with errno, where it stopped early.
  bool Convert(char** in, size_t* in_left, char** out, size_t* out_left) {
    return iconv(cd_, in, in_left, out, out_left) != static_cast<size_t>(-1);
  }

 private:
  iconv_t cd_;
};

// Narrow text in `page` to wide text. Every byte gives at most one
// character, so the result is sized once. A sequence the code page does not
// define becomes U+FFFD and decoding goes on at the next byte; a sequence
// cut off at the end becomes one U+FFFD.
std::wstring NarrowToWide(const CodePage& page, const char* text, size_t length) {
  std::wstring out;
  if (text == nullptr || length == 0) return out;
  Iconv converter(kWideName, page.iconvName);
  if (!converter.ok()) return out;
  out.resize(length);
  char* in = const_cast<char*>(text);
  size_t in_left = length;
  char* const begin = reinterpret_cast<char*>(&out[0]);
  char* next = begin;
  size_t out_left = length * sizeof(wchar_t);
  while (in_left > 0 && !converter.Convert(&in, &in_left, &next, &out_left)) {
    if (out_left < sizeof(wchar_t)) break;  // cannot happen: one character per byte at most
    const wchar_t replacement = static_cast<wchar_t>(kReplacement);
    std::memcpy(next, &replacement, sizeof replacement);
    next += sizeof replacement;
    out_left -= sizeof replacement;
    if (errno == EINVAL) break;  // incomplete at the end
    ++in;
    --in_left;
  }
  out.resize(static_cast<size_t>(next - begin) / sizeof(wchar_t));
  return out;
}

// The longest character any of the table's code pages writes (GB18030).
constexpr size_t kMaxNarrowBytes = 4;

// Wide text to narrow text in `page`. A character the code page cannot
// hold becomes '?', as Windows writes it, and conversion goes on.
std::string WideToNarrow(const CodePage& page, const wchar_t* text, size_t length) {
  std::string out;
  if (text == nullptr || length == 0) return out;
  Iconv converter(page.iconvName, kWideName);
  if (!converter.ok()) return out;
  out.resize(length * kMaxNarrowBytes);
  char* in = reinterpret_cast<char*>(const_cast<wchar_t*>(text));
  size_t in_left = length * sizeof(wchar_t);
  char* const begin = &out[0];
  char* next = begin;
  size_t out_left = out.size();
  while (in_left > 0 && !converter.Convert(&in, &in_left, &next, &out_left)) {
    if (out_left == 0 || errno != EILSEQ) break;
    *next++ = '?';
    --out_left;
    in += sizeof(wchar_t);
    in_left -= sizeof(wchar_t);
  }
  // Shift back to the initial state (stateful code pages only).
  converter.Convert(nullptr, nullptr, &next, &out_left);
  out.resize(static_cast<size_t>(next - begin));
  return out;
}

}  // namespace

bool SelectAnsiCodePage(const char* name) {
  const CodePage* page = FindCodePage(name);
  if (page == nullptr) return false;
  if (page->windowsId == kUtf8CodePageId) {
    selected_code_page.store(nullptr);
    return true;
  }
  if (!Iconv(kWideName, page->iconvName).ok() || !Iconv(page->iconvName, kWideName).ok()) {
    return false;
  }
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
