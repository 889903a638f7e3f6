// How much load the simulated server takes: 64 clients, each a loop of
// connect, send one QSINGLE request, read the whole answer, close, for a
// few seconds. The same load runs first against a minimal raw responder
// (one thread: accept, read the request, send fixed bytes, close), which
// answers with the very bytes the simulator sends, then against
// SimulatedServer. Reported per target: answered requests per second, median
// and p99 latency, errors (a refused connection, a short or wrong answer),
// and the growth of the process's open descriptors; the simulator's run
// also gives its throughput as a share of the raw responder's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <voicecontrol/controller/VoiceController.h>
#include <voicecontrol/interface/HttpXmlReq.h>
#include <voicecontrol/testing/simulator.h>
#include "platform/socket.h"

namespace voicecontrol {
namespace {

using Clock = std::chrono::steady_clock;
using testing::SimulatedServer;

constexpr int kClients = 64;
constexpr auto kLoadTime = std::chrono::seconds(3);

std::string QSingleRequest() {
  HttpXmlReq request;
  request.CreateBody();
  request.SetMethod(kHttpXmlQsingle);
  request.SetSeqNo(1);
  request.SetFlowID(1005);
  request.SetFieldNum(1);
  request.AddFieldValue(L"conference-1");
  std::string bytes;
  request.Serialize(&bytes);
  return bytes;
}

// Reads until the HTTP answer is complete; false when the peer closes
// early, fails, or a second passes.
bool ReadAnswer(platform::TcpSocket& socket, std::string* answer) {
  answer->clear();
  char chunk[8192];
  while (!IsResponseComplete(answer->data(), static_cast<int>(answer->size()))) {
    if (socket.WaitReadable(1000) != platform::WaitResult::kReady) return false;
    const long got = socket.Receive(chunk, sizeof chunk);
    if (got <= 0) return false;
    answer->append(chunk, static_cast<size_t>(got));
  }
  return true;
}

bool RoundTrip(uint16_t port, const std::string& request, std::string* answer) {
  platform::TcpSocket socket;
  return socket.Create() && socket.Connect("127.0.0.1", port) &&
         socket.Send(request.data(), request.size()) == static_cast<long>(request.size()) &&
         ReadAnswer(socket, answer);
}

// The floor: one thread that answers every request with the same bytes.
class RawResponder {
 public:
  explicit RawResponder(std::string answer) : answer_(std::move(answer)) {
    listener_.Listen();
    thread_ = std::thread([this] { Run(); });
  }
  ~RawResponder() {
    stop_ = true;
    thread_.join();
  }
  uint16_t port() const { return listener_.Port(); }

 private:
  void Run() {
    std::string request;
    while (!stop_) {
      platform::TcpSocket connection = listener_.Accept(20);
      if (!connection.IsOpen() || !ReadRequest(connection, &request)) continue;
      connection.Send(answer_.data(), answer_.size());
    }
  }
  // Header block plus Content-Length body; the request is the benchmark's own.
  static bool ReadRequest(platform::TcpSocket& socket, std::string* request) {
    request->clear();
    char chunk[8192];
    for (;;) {
      const size_t blank = request->find("\r\n\r\n");
      if (blank != std::string::npos) {
        const size_t length = request->find("Content-Length: ");
        const size_t body = length == std::string::npos ? 0 : std::stoul(request->substr(length + 16));
        if (request->size() >= blank + 4 + body) return true;
      }
      if (socket.WaitReadable(1000) != platform::WaitResult::kReady) return false;
      const long got = socket.Receive(chunk, sizeof chunk);
      if (got <= 0) return false;
      request->append(chunk, static_cast<size_t>(got));
    }
  }

  const std::string answer_;
  platform::TcpListener listener_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

size_t OpenDescriptors() {
  namespace fs = std::filesystem;
  return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/fd"),
                                           fs::directory_iterator()));
}

struct LoadResult {
  size_t answered = 0;
  size_t errors = 0;
  double seconds = 0;
  std::vector<double> latenciesUs;
};

// kClients threads, each running round trips until the load time is over.
LoadResult Drive(uint16_t port, const std::string& request, const std::string& expected) {
  std::vector<LoadResult> perClient(kClients);
  std::vector<std::thread> clients;
  const auto start = Clock::now();
  const auto end = start + kLoadTime;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] {
      LoadResult& mine = perClient[i];
      std::string answer;
      while (Clock::now() < end) {
        const auto before = Clock::now();
        if (!RoundTrip(port, request, &answer) || answer != expected) {
          ++mine.errors;
          continue;
        }
        ++mine.answered;
        mine.latenciesUs.push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - before).count());
      }
    });
  }
  for (std::thread& client : clients) client.join();
  LoadResult total;
  total.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (LoadResult& one : perClient) {
    total.answered += one.answered;
    total.errors += one.errors;
    total.latenciesUs.insert(total.latenciesUs.end(), one.latenciesUs.begin(),
                             one.latenciesUs.end());
  }
  std::sort(total.latenciesUs.begin(), total.latenciesUs.end());
  return total;
}

void Report(benchmark::State& state, const LoadResult& load, long descriptorGrowth) {
  const double perSecond = static_cast<double>(load.answered) / load.seconds;
  state.counters["answered_per_s"] = perSecond;
  state.counters["errors"] = static_cast<double>(load.errors);
  state.counters["fd_growth"] = static_cast<double>(descriptorGrowth);
  if (!load.latenciesUs.empty()) {
    state.counters["p50_us"] = load.latenciesUs[load.latenciesUs.size() / 2];
    state.counters["p99_us"] = load.latenciesUs[load.latenciesUs.size() * 99 / 100];
  }
}

// The simulator's answer to the request, which the raw responder repeats.
std::string SimulatorAnswer(const std::string& request) {
  SimulatedServer server;
  testing::Session session;
  session.id = L"conference-1";
  server.AddSession(session);
  std::string answer;
  RoundTrip(server.port(), request, &answer);
  return answer;
}

double g_rawPerSecond = 0;

void BM_RawResponder(benchmark::State& state) {
  const std::string request = QSingleRequest();
  const std::string answer = SimulatorAnswer(request);
  for (auto _ : state) {
    const size_t before = OpenDescriptors();
    LoadResult load;
    {
      RawResponder responder(answer);
      load = Drive(responder.port(), request, answer);
    }
    Report(state, load, static_cast<long>(OpenDescriptors()) - static_cast<long>(before));
    g_rawPerSecond = static_cast<double>(load.answered) / load.seconds;
  }
}
BENCHMARK(BM_RawResponder)->UseRealTime()->Iterations(1)->Unit(benchmark::kSecond);

void BM_SimulatedServer(benchmark::State& state) {
  const std::string request = QSingleRequest();
  const std::string answer = SimulatorAnswer(request);
  for (auto _ : state) {
    const size_t before = OpenDescriptors();
    LoadResult load;
    {
      testing::ServerOptions options;
      options.requestLogLimit = 0;
      SimulatedServer server(options);
      testing::Session session;
      session.id = L"conference-1";
      server.AddSession(session);
      load = Drive(server.port(), request, answer);
    }
    Report(state, load, static_cast<long>(OpenDescriptors()) - static_cast<long>(before));
    if (g_rawPerSecond > 0) {
      state.counters["vs_raw"] = static_cast<double>(load.answered) / load.seconds / g_rawPerSecond;
    }
  }
}
BENCHMARK(BM_SimulatedServer)->UseRealTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace voicecontrol

BENCHMARK_MAIN();
