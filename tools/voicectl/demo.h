// `voicectl demo`: the six commands against an in-process responder.
#ifndef VOICECONTROL_TOOLS_VOICECTL_DEMO_H_
#define VOICECONTROL_TOOLS_VOICECTL_DEMO_H_

#include <string>

namespace voicectl {

struct DemoOptions {
  // The controller writes its logs to "../SendVoiceMsg.log" and
  // "../RecvVoiceMsg.log"; the demo runs from `logDir`/run so that they
  // land in `logDir`.
  std::string logDir;
};

// Returns the process exit code: 0 when every command got its answer.
int RunDemo(const DemoOptions& options);

}  // namespace voicectl

#endif  // VOICECONTROL_TOOLS_VOICECTL_DEMO_H_
