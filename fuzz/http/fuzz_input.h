// Turns a fuzzer input into the NUL-terminated text the parsers take. The
// copy is exactly as long as the text plus its NUL, so AddressSanitizer
// reports any read past the end.
#ifndef VOICECONTROL_FUZZ_HTTP_FUZZ_INPUT_H_
#define VOICECONTROL_FUZZ_HTTP_FUZZ_INPUT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace voicecontrol {

class FuzzText {
 public:
  FuzzText(const uint8_t* data, size_t size) : text_(new char[size + 1]) {
    if (size > 0) std::memcpy(text_.get(), data, size);
    text_[size] = '\0';
    size_ = static_cast<int>(size);
  }
  const char* get() const { return text_.get(); }
  int size() const { return size_; }

 private:
  std::unique_ptr<char[]> text_;
  int size_ = 0;
};

// Stops the run with a crash libFuzzer records when a property fails.
inline void Check(bool condition) {
  if (!condition) __builtin_trap();
}

inline bool SameText(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return std::strcmp(a, b) == 0;
}

}  // namespace voicecontrol

#endif  // VOICECONTROL_FUZZ_HTTP_FUZZ_INPUT_H_
