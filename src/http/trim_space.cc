#include <voicecontrol/http/trim_space.h>

#include <cassert>
#include <cstring>

namespace voicecontrol {

namespace {
bool IsTrimmable(char c) {
  const unsigned char byte = static_cast<unsigned char>(c);
  return byte >= 1 && byte <= 32;
}
}  // namespace

void TrimSpace(char* text) {
  assert(text != nullptr);
  if (text == nullptr) return;
  size_t end = std::strlen(text);
  while (end > 0 && IsTrimmable(text[end - 1])) --end;
  size_t begin = 0;
  while (begin < end && IsTrimmable(text[begin])) ++begin;
  if (begin > 0) std::memmove(text, text + begin, end - begin);
  text[end - begin] = '\0';
}

}  // namespace voicecontrol
