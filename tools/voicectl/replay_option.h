// voicectl serve --replay FILE [--strict]: answers from a cassette that
// `voicectl record` wrote.
#ifndef VOICECTL_REPLAY_OPTION_H_
#define VOICECTL_REPLAY_OPTION_H_

#include <string>

#include <voicecontrol/testing/simulator.h>

namespace voicectl {

// Loads the cassette at `path` and makes `options` answer from it: each
// command its next unused matching exchange; one without gets the session
// model's answer, or under `strict` a 404. False with a message when the
// file cannot be read. *summary says what was loaded, for the first line.
bool UseCassette(const std::string& path, bool strict,
                 voicecontrol::testing::ServerOptions* options, std::string* summary,
                 std::string* error);

}  // namespace voicectl

#endif  // VOICECTL_REPLAY_OPTION_H_
