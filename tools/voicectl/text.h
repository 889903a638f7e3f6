// UTF-8 <-> wide text for the command line, which speaks UTF-8.
#ifndef VOICECTL_TEXT_H_
#define VOICECTL_TEXT_H_

#include <string>

#include <voicecontrol/controller/convert.h>

namespace voicectl {

// Through the library's public conversions, like any host: a wide unit
// becomes at most 4 UTF-8 bytes, a UTF-8 byte at most one wide unit.
// Wide text stops at an embedded NUL, which neither the command line nor
// the protocol's values carry.
inline std::string Utf8(const std::wstring& text) {
  std::string out(text.size() * 4, '\0');
  const int length =
      voicecontrol::WideToUtf8(text.c_str(), out.data(), static_cast<int>(out.size()));
  out.resize(length < 0 ? 0 : static_cast<size_t>(length));
  return out;
}
inline std::wstring Wide(const std::string& text) {
  std::wstring out(text.size(), L'\0');
  const int length = voicecontrol::Utf8ToWide(text.c_str(), static_cast<int>(text.size()),
                                              out.data(), static_cast<int>(out.size()));
  out.resize(length < 0 ? 0 : static_cast<size_t>(length));
  return out;
}

// `text` as a JSON string literal, quotes included.
std::string JsonString(const std::string& text);

}  // namespace voicectl

#endif  // VOICECTL_TEXT_H_
