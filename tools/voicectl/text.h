// UTF-8 <-> wide text for the command line, which speaks UTF-8.
#ifndef VOICECTL_TEXT_H_
#define VOICECTL_TEXT_H_

#include <string>

#include "platform/codepage.h"

namespace voicectl {

inline std::string Utf8(const std::wstring& text) {
  return voicecontrol::platform::WideToUtf8String(text);
}
inline std::wstring Wide(const std::string& text) {
  return voicecontrol::platform::Utf8ToWideString(text);
}

// `text` as a JSON string literal, quotes included.
std::string JsonString(const std::string& text);

}  // namespace voicectl

#endif  // VOICECTL_TEXT_H_
