// HttpRequest::Parse on any bytes: it must end in one of its result codes,
// store method and URI exactly when it succeeds, and a parsed request must
// serialise into a buffer of any capacity without writing past it.
#include <vector>

#include "fuzz_input.h"
#include <voicecontrol/http/http.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace voicecontrol;
  const FuzzText text(data, size);
  HttpRequest request;
  const int result = request.Parse(text.get(), text.size());
  Check(result == 0 || result == -3 || result == -4 || result == -5 || result == -6);
  if (result != 0) {
    Check(request.GetMethod() == -1 && request.GetUri() == nullptr);
    return 0;
  }
  Check(request.GetMethod() >= 0 && request.GetMethod() < kHttpMethodCount);
  Check(std::strlen(request.GetUri()) < static_cast<size_t>(kHttpMaxUri));
  Check(request.GetAuid() != nullptr);

  std::string wire;
  Check(request.Serialize(&wire) == 0);
  // Every capacity from "one short" to "exact" must be handled cleanly.
  for (size_t capacity = wire.size(); capacity <= wire.size() + 1; ++capacity) {
    std::vector<char> buffer(capacity);
    int length = 0;
    const int written = request.Serialize(buffer.data(), static_cast<int>(capacity), &length);
    Check(written == (capacity > wire.size() ? 0 : kHttpBufferTooSmall));
    if (written == 0) Check(std::memcmp(buffer.data(), wire.data(), wire.size()) == 0);
  }
  return 0;
}
