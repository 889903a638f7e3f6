// fault_soak: the soak's load against a row of servers that each answer
// every request with one fault (voicectl serve with that fault's option),
// and one that answers correctly. Before a command the driver points its
// controller at the server of the fault it wants, so each fault shapes the
// answer of exactly the command it was meant for.
//
//   fault_soak --host 127.0.0.1 --plain PORT --fault delay=PORT ... [--seconds S]
//
// It needs nothing but the library's C interface and no simulator in its
// own process: so it runs on Windows too, beside the DLL as it ships, against
// servers on the Linux side of Wine. Every fault kind must be given a
// server. Verdict (exit status 0 when both hold): every command got exactly
// one outcome, of its own kind; every fault gave the error it stands for
// and no other error came.
#if defined(_WIN32)
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
// clang-format on
#endif

#include <CLI/CLI.hpp>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "load.h"
#include "report.h"

namespace voicecontrol {
namespace soak {
namespace {

class FaultServers : public FaultTarget {
 public:
  FaultServers(std::string host, uint16_t plain, const std::array<uint16_t, kFaultKinds>& ports)
      : host_(std::move(host)), plain_(plain), ports_(ports) {}

  bool Aim(vc_controller* controller) override {
    return vc_set_server(controller, host_.c_str(), plain_) == VC_OK;
  }
  void Arrange(vc_controller* controller, FaultKind kind, std::mt19937&) override {
    vc_set_server(controller, host_.c_str(), kind == kFaultKinds ? plain_ : ports_[kind]);
  }

 private:
  const std::string host_;
  const uint16_t plain_;
  const std::array<uint16_t, kFaultKinds> ports_;
};

int Run(const std::string& host, uint16_t plain, const std::array<uint16_t, kFaultKinds>& ports,
        double seconds, const LoadOptions& options) {
  std::printf(
      "fault_soak: %d controllers, up to %d commands in flight each, for %.0f s against %s:%u "
      "and one server per fault; quick faults on %.0f%% of the commands, a fault that costs the "
      "time-out every %.1f s\n",
      options.controllers, options.depth, seconds, host.c_str(), plain, 100 * options.faultShare,
      options.slowFaultEveryMs / 1000.0);
  FaultServers target(host, plain, ports);
  Load load(target, options);
  const auto start = std::chrono::steady_clock::now();
  load.Start();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  load.Finish();
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const Tally totals = load.Totals();
  const auto faults = load.FaultsQueued();
  PrintTotals(totals, faults, elapsed);
  std::printf("verdict:\n");
  const bool outcomes = JudgeOutcomes(totals);
  const bool faultsOk = JudgeFaults(totals, faults, 0);
  const bool ok = outcomes && faultsOk && totals.issued > 0;
  return ExitStatus(ok);
}

}  // namespace
}  // namespace soak
}  // namespace voicecontrol

int main(int argc, char** argv) {
  using namespace voicecontrol::soak;
  CLI::App app{
      "Drives controllers against one server per fault kind and checks that every command "
      "gets exactly one outcome, the one its server's fault stands for."};
  std::string host = "127.0.0.1";
  uint16_t plain = 0;
  std::vector<std::string> faults;
  double seconds = 60;
  LoadOptions options;
  options.controllers = 4;
  options.faultShare = 0.3;
  app.add_option("--host", host, "Address of every server")->capture_default_str();
  app.add_option("--plain", plain, "Port of the server that answers correctly")->required();
  std::string kinds;
  for (const char* name : kFaultNames) kinds += std::string(kinds.empty() ? "" : ", ") + name;
  app.add_option("--fault", faults, "KIND=PORT: the server that answers with KIND (" + kinds +
                                            "); every kind once")
      ->required();
  app.add_option("--seconds", seconds, "How long to run")->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_option("--controllers", options.controllers, "Controllers, one thread each")
      ->check(CLI::Range(1, 64))->capture_default_str();
  app.add_option("--depth", options.depth, "Commands in flight per controller, at most")
      ->check(CLI::Range(1, 64))->capture_default_str();
  app.add_option("--fault-share", options.faultShare, "Share of commands given a quick fault")
      ->check(CLI::Range(0.0, 1.0))->capture_default_str();
  app.add_option("--seed", options.seed, "Seed of the drivers' choices");
  CLI11_PARSE(app, argc, argv);

  std::array<uint16_t, kFaultKinds> ports{};
  for (const std::string& fault : faults) {
    const size_t equals = fault.rfind('=');  // kinds such as status=299 hold one too
    int kind = 0;
    while (kind < kFaultKinds && fault.compare(0, equals, kFaultNames[kind]) != 0) ++kind;
    const long port = equals == std::string::npos ? 0 : std::strtol(fault.c_str() + equals + 1, nullptr, 10);
    if (kind == kFaultKinds || port < 1 || port > 65535) {
      std::fprintf(stderr, "fault_soak: --fault %s: not KIND=PORT with a known kind\n", fault.c_str());
      return 2;
    }
    ports[static_cast<size_t>(kind)] = static_cast<uint16_t>(port);
  }
  for (int kind = 0; kind < kFaultKinds; ++kind) {
    if (ports[static_cast<size_t>(kind)] == 0) {
      std::fprintf(stderr, "fault_soak: no --fault %s=PORT\n", kFaultNames[kind]);
      return 2;
    }
  }
#if defined(_WIN32)
  // What every Windows host does before using the library.
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 2;
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 2;
#endif
  const int status = Run(host, plain, ports, seconds, options);
#if defined(_WIN32)
  CoUninitialize();
  WSACleanup();
#endif
  return status;
}
