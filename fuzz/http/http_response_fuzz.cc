// HttpResponse::Parse on any bytes: it must end in one of its result codes,
// and a parsed response must serialise and parse back to the same code,
// content type and body.
#include <string>

#include "fuzz_input.h"
#include <voicecontrol/http/http.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace voicecontrol;
  const FuzzText text(data, size);
  HttpResponse response;
  const int result = response.Parse(text.get(), text.size());
  Check(result == 0 || result == -2 || result == -3 || result == -5 || result == -6);
  if (result != 0) {
    Check(response.GetStatusCode() == 0);
    return 0;
  }
  Check(GetStatusText(response.GetStatusCode()) != nullptr);
  Check(response.GetBody() == nullptr ||
        std::strlen(response.GetBody()) == static_cast<size_t>(response.GetBodyLength()));

  std::string wire;
  Check(response.Serialize(&wire) == 0);
  HttpResponse again;
  Check(again.Parse(wire.c_str(), static_cast<int>(wire.size())) == 0);
  Check(again.GetStatusCode() == response.GetStatusCode());
  Check(SameText(again.GetContentType(), response.GetContentType()));
  Check(SameText(again.GetBody(), response.GetBody()));
  return 0;
}
