#include "demo.h"

#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "client.h"
#include "simulator.h"

namespace voicectl {

namespace {

struct Step {
  const char* title;
  Command command;
  Faults faults;
  bool expectError;  // the fault should surface as an error text
};

Faults With(void (*set)(Faults&)) {
  Faults faults;
  set(faults);
  return faults;
}

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
      {"fault --delay 300", {"qsingle", {"s2"}}, With([](Faults& f) { f.delayMs = 300; }), false},
      {"fault --close-early", {"qall", {}}, With([](Faults& f) { f.closeEarly = true; }), true},
      {"fault --no-answer (waits the 5-second deadline)",
       {"qall", {}},
       With([](Faults& f) { f.noAnswer = true; }),
       true},
      {"fault --status 299", {"qall", {}}, With([](Faults& f) { f.status = 299; }), true},
      {"fault --http10", {"qall", {}}, With([](Faults& f) { f.http10 = true; }), true},
      {"fault --flowid 2000", {"qall", {}}, With([](Faults& f) { f.flowId = 2000; }), true},
      {"fault --fieldnum 0", {"qall", {}}, With([](Faults& f) { f.fieldNum = 0; }), true},
      {"fault --garbage", {"qall", {}}, With([](Faults& f) { f.garbage = true; }), true},
      {"fault --oversize", {"qall", {}}, With([](Faults& f) { f.oversize = true; }), true},
      {"fault --partial (waits the 5-second deadline)",
       {"qall", {}},
       With([](Faults& f) { f.partial = true; }),
       true},
  };
}

}  // namespace

int RunDemo(std::ostream& out, std::ostream& err) {
  namespace fs = std::filesystem;
  // The library writes its logs to "../" of the working directory: keep
  // them in a folder of the demo's own rather than beside the caller.
  const fs::path logDir = fs::temp_directory_path() / "voicectl-demo";
  std::string error;
  if (!EnterLogDir(logDir.string(), &error)) {
    err << "voicectl demo: " << error << "\n";
    return 1;
  }
  Simulator simulator;
  simulator.SetLogging(false);
  if (!simulator.Start("127.0.0.1", 0, &error)) {
    err << "voicectl demo: " << error << "\n";
    return 1;
  }
  out << "simulated voice server on 127.0.0.1:" << simulator.port() << "; logs in "
      << logDir.string() << "\n";
  ClientOptions options;
  options.port = simulator.port();
  int failures = 0;
  for (const Step& step : Steps()) {
    out << "\n== " << step.title << "\n" << std::flush;
    simulator.SetFaults(step.faults);
    // Error texts go to the same stream as results, so the demo reads in order.
    const int result = RunCommand(step.command, options, out, out);
    if ((result != 0) != step.expectError) {
      ++failures;
      err << "voicectl demo: unexpected outcome for \"" << step.title << "\"\n";
    }
  }
  simulator.Stop();
  out << "\n"
      << (failures == 0 ? "demo finished: every outcome as expected"
                        : "demo finished with failures")
      << "\n";
  return failures == 0 ? 0 : 1;
}

}  // namespace voicectl
