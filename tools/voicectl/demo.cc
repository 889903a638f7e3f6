#include "demo.h"

#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <voicecontrol/controller/VoiceController.h>
#include <voicecontrol/testing/simulator.h>

#include "client.h"
#include "log_place.h"
#include "stop_signals.h"

namespace voicectl {

namespace {

using voicecontrol::testing::Fault;
using voicecontrol::testing::SimulatedServer;

struct Step {
  const char* title;
  Command command;
  Fault fault;
  bool expectError;  // the fault should surface as an error text
};

std::vector<Step> Steps() {
  return {
      {"create s1", {"create", {"s1", "alice", "weekly sync", "alice,bob,carol"}}, {}, false},
      {"create s2", {"create", {"s2", "bob", "standup", "bob,dave"}}, {}, false},
      {"create s1 again", {"create", {"s1", "x", "y", "z"}}, {}, false},
      {"kick bob from s1", {"kick", {"s1", "bob"}}, {}, false},
      {"change s1 carol 7", {"change", {"s1", "carol"}, 7}, {}, false},
      {"dscall s2 in one hour", {"dscall", {"s2", "bob"}, 3600}, {}, false},
      {"qall", {"qall", {}}, {}, false},
      {"qsingle s1", {"qsingle", {"s1"}}, {}, false},
      {"fault --delay 300", {"qsingle", {"s2"}}, Fault::Delay(300), false},
      {"fault --close-early", {"qall", {}}, Fault::CloseEarly(), true},
      {"fault --no-answer (waits the 5-second deadline)",
       {"qall", {}},
       Fault::NoAnswer(),
       true},
      {"fault --status 299", {"qall", {}}, Fault::Status(299), true},
      {"fault --http10", {"qall", {}}, Fault::Http10(), true},
      {"fault --flowid 2000", {"qall", {}}, Fault::FlowId(2000), true},
      {"fault --fieldnum 0", {"qall", {}}, Fault::FieldNum(0), true},
      {"fault --garbage", {"qall", {}}, Fault::Garbage(), true},
      {"fault --oversize", {"qall", {}}, Fault::Oversize(), true},
      {"fault --partial (waits the 5-second deadline)",
       {"qall", {}},
       Fault::Partial(),
       true},
  };
}

}  // namespace

int RunDemo(std::ostream& out, std::ostream& err) {
  // The logs go to a directory of this run's own, removed at the end (or
  // when the demo is stopped), never beside the caller or beside another
  // run's.
  LogPlace logPlace;
  CleanUpOnStopSignal cleanUpOnStop([&logPlace] {
    voicecontrol::DisableLogs();  // waits for a record being written
    logPlace.Clean();
  });
  std::string error;
  if (!logPlace.UsePrivateDirectory(&error) ||
      !voicecontrol::SetLogDirectory(logPlace.dir().u8string().c_str())) {
    err << "voicectl demo: no directory for the logs: " << error << "\n";
    return 1;
  }
  std::unique_ptr<SimulatedServer> server;
  try {
    server = std::make_unique<SimulatedServer>();
  } catch (const std::exception& e) {
    err << "voicectl demo: " << e.what() << "\n";
    return 1;
  }
  out << "simulated voice server on " << server->address() << ":" << server->port()
      << "; logs in " << logPlace.dir().string() << " (removed at the end)\n";
  ClientOptions options;
  options.address = server->address();
  options.port = server->port();
  int failures = 0;
  for (const Step& step : Steps()) {
    out << "\n== " << step.title << "\n" << std::flush;
    server->QueueFault(step.fault);  // for this step's request only
    // Error texts go to the same stream as results, so the demo reads in order.
    const int result = RunCommand(step.command, options, out, out);
    if ((result == kExitError) != step.expectError) {
      ++failures;
      err << "voicectl demo: unexpected outcome for \"" << step.title << "\"\n";
    }
  }
  server->Stop();
  voicecontrol::DisableLogs();
  out << "\n"
      << (failures == 0 ? "demo finished: every outcome as expected"
                        : "demo finished with failures")
      << "\n";
  return failures == 0 ? 0 : 1;
}

}  // namespace voicectl
