#include "replay_option.h"

#include <fstream>
#include <memory>
#include <stdexcept>

#include "cassette.h"

namespace voicectl {

using voicecontrol::testing::Cassette;
using voicecontrol::testing::ReceivedRequest;
using voicecontrol::testing::RecordedAnswer;

bool UseCassette(const std::string& path, bool strict,
                 voicecontrol::testing::ServerOptions* options, std::string* summary,
                 std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = "cannot read " + path;
    return false;
  }
  std::shared_ptr<Cassette> cassette;
  try {
    cassette = std::make_shared<Cassette>(file, path);
  } catch (const std::exception& e) {
    *error = e.what();
    return false;
  }
  *summary = "replaying " + std::to_string(cassette->size()) +
             (cassette->size() == 1 ? " exchange" : " exchanges") + " of " + path +
             (strict ? ", strict" : "");
  options->recorded = [cassette, strict](const ReceivedRequest& request)
      -> std::optional<RecordedAnswer> {
    std::optional<RecordedAnswer> answer = cassette->Take(request);
    if (!answer && strict) answer = voicecontrol::testing::UnmatchedAnswer(request);
    return answer;
  };
  return true;
}

}  // namespace voicectl
