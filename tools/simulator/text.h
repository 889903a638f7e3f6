// UTF-8 <-> wide text for the simulator, through the library's public
// conversions: this library is linked by hosts against the installed shared
// library, which exports nothing else.
#ifndef VOICECONTROL_TOOLS_SIMULATOR_TEXT_H_
#define VOICECONTROL_TOOLS_SIMULATOR_TEXT_H_

#include <string>

#include <voicecontrol/controller/convert.h>

namespace voicecontrol {
namespace testing {

// A UTF-8 byte gives at most one wide unit.
inline std::wstring WideFromUtf8(const std::string& utf8) {
  std::wstring out(utf8.size(), L'\0');
  const int length = Utf8ToWide(utf8.data(), static_cast<int>(utf8.size()), out.data(),
                                static_cast<int>(out.size()));
  out.resize(length < 0 ? 0 : static_cast<size_t>(length));
  return out;
}

// A wide unit gives at most four bytes.
inline std::string Utf8FromWide(const std::wstring& wide) {
  std::string out(wide.size() * 4, '\0');
  const int length = WideToUtf8(wide.c_str(), out.data(), static_cast<int>(out.size()));
  out.resize(length < 0 ? 0 : static_cast<size_t>(length));
  return out;
}

}  // namespace testing
}  // namespace voicecontrol

#endif  // VOICECONTROL_TOOLS_SIMULATOR_TEXT_H_
