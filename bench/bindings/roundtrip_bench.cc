// One QALL round trip, from the command call until the host holds the whole
// outcome, through each way a host can drive the library:
//   Sink             VoiceController::QAll, a VoiceEventSink that signals
//                    the waiting thread;
//   CInterface       vc_qall, signalled from on_done;
//   OutcomeFuture    OutcomeCommands::QAll(), future.get();
//   OutcomeCallback  OutcomeCommands::QAll(callback), signalling.
// The server is the simulator with no sessions (an answer without entries):
// in this process, or `voicectl serve` at VC_BENCH_SERVER=HOST:PORT, which
// is what bench/bindings/RoundTrip.cs (the C# binding) measures against.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <voicecontrol/controller/Outcome.h>
#include <voicecontrol/controller/VoiceController.h>
#include <voicecontrol/testing/simulator.h>
#include <voicecontrol/voicecontrol.h>
#include "controller/request_sink.h"

namespace voicecontrol {
namespace {

using Clock = std::chrono::steady_clock;

struct Server {
  std::string address = "127.0.0.1";
  uint16_t port = 0;
};

// The server named by VC_BENCH_SERVER, or a simulator of this process.
const Server& TheServer() {
  static const Server server = [] {
    Server chosen;
    const char* named = std::getenv("VC_BENCH_SERVER");
    const std::string text = named != nullptr ? named : "";
    const size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
      chosen.address = text.substr(0, colon);
      chosen.port = static_cast<uint16_t>(std::atoi(text.c_str() + colon + 1));
      return chosen;
    }
    static testing::SimulatedServer simulator;
    chosen.port = simulator.port();
    return chosen;
  }();
  return server;
}

// Lets the measuring thread wait for the outcome a library thread signals.
class Signal {
 public:
  void Raise() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++raised_;
    changed_.notify_one();
  }
  void Await(long count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return raised_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  long raised_ = 0;
};

// Round trips in microseconds; their median and 90th percentile become the
// benchmark's counters.
class Latencies {
 public:
  void Add(Clock::time_point start) {
    micros_.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  void Report(benchmark::State& state) {
    if (micros_.empty()) return;
    std::sort(micros_.begin(), micros_.end());
    state.counters["median_us"] = micros_[micros_.size() / 2];
    state.counters["p90_us"] = micros_[micros_.size() * 9 / 10];
  }

 private:
  std::vector<double> micros_;
};

class SignallingSink : public internal::RequestSink {
 public:
  void OnError(std::wstring) override { errors = true, signal.Raise(); }
  void OnCommandResult(int32_t, int32_t, std::wstring) override { signal.Raise(); }
  // The simulator has no sessions: every answer is "no entries".
  void OnQAllEmpty() override { signal.Raise(); }
  void OnEntry(QAllEntry) override {}
  void OnValues(QSingleValues) override {}
  Signal signal;
  bool errors = false;
};

void Target(VoiceController& controller) {
  controller.serverAddress = TheServer().address;
  controller.serverPort = TheServer().port;
}

void BM_Sink(benchmark::State& state) {
  SignallingSink sink;
  VoiceController controller(&sink);
  Target(controller);
  Latencies latencies;
  long count = 0;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    controller.QAll();
    sink.signal.Await(++count);
    latencies.Add(start);
  }
  if (sink.errors) state.SkipWithError("a command failed");
  latencies.Report(state);
}
BENCHMARK(BM_Sink)->UseRealTime()->Iterations(1000);

void BM_CInterface(benchmark::State& state) {
  struct Waiting {
    Signal signal;
    bool errors = false;
  } waiting;
  vc_callbacks callbacks{};
  callbacks.on_error = [](void* user, void*, const char*) {
    static_cast<Waiting*>(user)->errors = true;
  };
  callbacks.on_done = [](void* user, void*) { static_cast<Waiting*>(user)->signal.Raise(); };
  vc_controller* controller = vc_controller_create(&callbacks, &waiting);
  vc_set_server(controller, TheServer().address.c_str(), TheServer().port);
  Latencies latencies;
  long count = 0;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    if (vc_qall(controller, nullptr) != VC_OK) state.SkipWithError("vc_qall failed");
    waiting.signal.Await(++count);
    latencies.Add(start);
  }
  vc_controller_destroy(controller);
  if (waiting.errors) state.SkipWithError("a command failed");
  latencies.Report(state);
}
BENCHMARK(BM_CInterface)->UseRealTime()->Iterations(1000);

void BM_OutcomeFuture(benchmark::State& state) {
  VoiceController controller(nullptr);
  Target(controller);
  OutcomeCommands commands(controller);
  Latencies latencies;
  bool errors = false;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    const Outcome outcome = commands.QAll().get();
    latencies.Add(start);
    errors = errors || !outcome.ok();
  }
  if (errors) state.SkipWithError("a command failed");
  latencies.Report(state);
}
BENCHMARK(BM_OutcomeFuture)->UseRealTime()->Iterations(1000);

void BM_OutcomeCallback(benchmark::State& state) {
  VoiceController controller(nullptr);
  Target(controller);
  OutcomeCommands commands(controller);
  Latencies latencies;
  Signal signal;
  bool errors = false;
  long count = 0;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    commands.QAll([&](const Outcome& outcome) {
      errors = errors || !outcome.ok();
      signal.Raise();
    });
    signal.Await(++count);
    latencies.Add(start);
  }
  if (errors) state.SkipWithError("a command failed");
  latencies.Report(state);
}
BENCHMARK(BM_OutcomeCallback)->UseRealTime()->Iterations(1000);

}  // namespace
}  // namespace voicecontrol

BENCHMARK_MAIN();
