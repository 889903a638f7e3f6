// voicectl: a command-line companion of the voicecontrol library.
#include <CLI/CLI.hpp>

#include "demo.h"

int main(int argc, char** argv) {
  CLI::App app{"voicectl - drive a voice-conference server through voicecontrol"};
  app.require_subcommand(1);

  voicectl::DemoOptions demo;
  CLI::App* demoCommand =
      app.add_subcommand("demo", "run the six commands against an in-process responder");
  demoCommand->add_option("--log-dir", demo.logDir,
                          "where SendVoiceMsg.log and RecvVoiceMsg.log go "
                          "(default: <temp>/voicectl-demo)");

  CLI11_PARSE(app, argc, argv);
  if (demoCommand->parsed()) return voicectl::RunDemo(demo);
  return 0;
}
