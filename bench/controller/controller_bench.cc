// One command's round trip over loopback, three ways against the same
// in-process server:
//   RawSocket   a blocking socket that sends the request bytes and reads the
//               answer: the floor;
//   Curl        libcurl with the command as custom method, a new
//               connection per request;
//   Controller  VoiceController::Kick until the sink has the result.
// Then the CPU time a request costs while a slow server takes a second, and
// 32 controllers with 200 commands each in parallel.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "controller/VoiceController.h"
#include "interface/HttpXmlReq.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/thread.h"

namespace voicecontrol {
namespace {

using Clock = std::chrono::steady_clock;

std::string KickRequest() {
  HttpXmlReq request;
  request.CreateBody();
  request.SetMethod(kHttpXmlKick);
  request.SetSeqNo(1);
  request.SetFlowID(1002);
  request.SetFieldNum(2);
  request.AddFieldValue(L"conference-1");
  request.AddFieldValue(L"participant-42");
  std::string bytes;
  request.Serialize(&bytes);
  return bytes;
}

std::string KickAnswer() {
  HttpXmlRsp answer;
  answer.CreateBody();
  answer.SetStatus(200);
  answer.SetSeqNo(1);
  answer.SetFlowID(1002);
  answer.SetFieldNum(2);
  answer.AddFieldValue(L"0");
  answer.AddFieldValue(L"kicked");
  std::string bytes;
  answer.Serialize(&bytes);
  return bytes;
}

// Reads until the HTTP message is complete, the peer closes or a second
// passes.
bool ReadMessage(platform::TcpSocket& socket, std::string* message) {
  message->clear();
  char chunk[8192];
  while (!IsResponseComplete(message->data(), static_cast<int>(message->size()))) {
    if (socket.WaitReadable(1000) != platform::WaitResult::kReady) return false;
    const long got = socket.Receive(chunk, sizeof chunk);
    if (got <= 0) return false;
    message->append(chunk, static_cast<size_t>(got));
  }
  return true;
}

// Answers every request with the same bytes, optionally after a delay.
class Server {
 public:
  explicit Server(std::string answer, int delayMs = 0)
      : answer_(std::move(answer)), delayMs_(delayMs) {
    listener_.Listen();
    thread_.Start([this] { Run(); });
  }
  ~Server() {
    stop_ = true;
    thread_.Join();
  }
  uint16_t port() const { return listener_.Port(); }

 private:
  void Run() {
    std::string request;
    while (!stop_) {
      platform::TcpSocket connection = listener_.Accept(20);
      if (!connection.IsOpen() || !ReadMessage(connection, &request)) continue;
      if (delayMs_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_));
      connection.Send(answer_.data(), answer_.size());
    }
  }

  const std::string answer_;
  const int delayMs_;
  platform::TcpListener listener_;
  std::atomic<bool> stop_{false};
  platform::Thread thread_;
};

Server& SharedServer() {
  static Server server(KickAnswer());
  return server;
}

// Medians of the round trips, in microseconds, by benchmark.
double g_rawMedian = 0, g_curlMedian = 0, g_controllerMedian = 0;

void ReportLatencies(benchmark::State& state, std::vector<double>* micros, double* median) {
  if (micros->empty()) return;
  std::sort(micros->begin(), micros->end());
  *median = (*micros)[micros->size() / 2];
  state.counters["median_us"] = *median;
  state.counters["p90_us"] = (*micros)[micros->size() * 9 / 10];
}

void BM_RawSocket(benchmark::State& state) {
  const std::string request = KickRequest();
  const uint16_t port = SharedServer().port();
  std::string answer;
  std::vector<double> micros;
  for (auto _ : state) {
    const auto start = Clock::now();
    platform::TcpSocket socket;
    if (!socket.Create() || !socket.Connect("127.0.0.1", port) ||
        socket.Send(request.data(), request.size()) != static_cast<long>(request.size()) ||
        !ReadMessage(socket, &answer)) {
      state.SkipWithError("raw round trip failed");
      break;
    }
    socket.Close();
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  ReportLatencies(state, &micros, &g_rawMedian);
}
BENCHMARK(BM_RawSocket)->UseRealTime()->MinTime(2.0);

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

void BM_Curl(benchmark::State& state) {
  const std::string request = KickRequest();
  const std::string body = request.substr(request.find("\r\n\r\n") + 4);
  const std::string url = "http://127.0.0.1:" + std::to_string(SharedServer().port()) + "/MyURL/";
  CURL* curl = curl_easy_init();
  curl_slist* headers = nullptr;
  headers = curl_slist_append(headers, "Host: Host");
  headers = curl_slist_append(headers, "Content-Type:");
  headers = curl_slist_append(headers, "Accept:");
  headers = curl_slist_append(headers, "Expect:");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "KICK");
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
  std::vector<double> micros;
  for (auto _ : state) {
    const auto start = Clock::now();
    if (curl_easy_perform(curl) != CURLE_OK) {
      state.SkipWithError("curl round trip failed");
      break;
    }
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  ReportLatencies(state, &micros, &g_curlMedian);
}
BENCHMARK(BM_Curl)->UseRealTime()->MinTime(2.0);

// Counts outcomes and lets a host thread wait for the next one.
class WaitingSink : public VoiceEventSink {
 public:
  void OnError(std::wstring) override { Count(&errors); }
  void OnCommandResult(int32_t, int32_t, std::wstring) override { Count(&results); }
  void OnQAllEmpty() override { Count(&results); }
  void OnQAllEntry(std::wstring, std::wstring, std::wstring, std::wstring, std::wstring,
                   std::wstring, std::wstring, std::wstring) override {
    Count(&results);
  }
  void OnQSingleResult(std::wstring, std::wstring, std::wstring, std::wstring, std::wstring,
                       std::wstring, std::wstring, std::wstring, std::wstring, std::wstring,
                       std::wstring, std::wstring, std::wstring, std::wstring, std::wstring,
                       std::wstring, std::wstring, std::wstring) override {
    Count(&results);
  }

  // Waits until `total` outcomes have arrived.
  void WaitFor(long total) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return results + errors >= total; });
  }

  long results = 0;  // guarded by mutex_
  long errors = 0;   // guarded by mutex_

 private:
  void Count(long* counter) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++*counter;
    }
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
};

void BM_Controller(benchmark::State& state) {
  WaitingSink sink;
  VoiceController controller(&sink);
  controller.serverAddress = "127.0.0.1";
  controller.serverPort = SharedServer().port();
  std::vector<double> micros;
  long expected = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    controller.Kick(L"conference-1", L"participant-42");
    sink.WaitFor(++expected);
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  if (sink.errors > 0) state.SkipWithError("a command failed");
  ReportLatencies(state, &micros, &g_controllerMedian);
}
BENCHMARK(BM_Controller)->UseRealTime()->MinTime(2.0);

// CPU time of the whole process while one request waits for a server that
// answers after a second (the server thread only sleeps meanwhile).
void BM_CpuWhileWaitingOneSecond(benchmark::State& state) {
  Server slow(KickAnswer(), 1000);
  WaitingSink sink;
  VoiceController controller(&sink);
  controller.serverAddress = "127.0.0.1";
  controller.serverPort = slow.port();
  double worstCpuMs = 0;
  long expected = 0;
  for (auto _ : state) {
    const std::clock_t before = std::clock();
    controller.Kick(L"conference-1", L"participant-42");
    sink.WaitFor(++expected);
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC;
    worstCpuMs = std::max(worstCpuMs, cpuMs);
  }
  if (sink.errors > 0) state.SkipWithError("a command failed");
  state.counters["worst_cpu_ms"] = worstCpuMs;
}
BENCHMARK(BM_CpuWhileWaitingOneSecond)->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);

int CountOpenDescriptors() {
  std::error_code error;
  int count = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd", error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    ++count;
  }
  return count;
}

// 32 controllers, each on a host thread of its own, 200 commands each, the
// next command once the previous outcome has arrived.
void BM_ParallelControllers(benchmark::State& state) {
  constexpr int kControllers = 32;
  constexpr int kCommands = 200;
  Server& server = SharedServer();
  long lost = 0, duplicated = 0, errors = 0;
  int leaked = 0;
  for (auto _ : state) {
    const int descriptorsBefore = CountOpenDescriptors();
    std::vector<std::unique_ptr<WaitingSink>> sinks;
    for (int c = 0; c < kControllers; ++c) sinks.push_back(std::make_unique<WaitingSink>());
    {
      std::vector<std::unique_ptr<platform::Thread>> hosts;
      for (int c = 0; c < kControllers; ++c) {
        hosts.push_back(std::make_unique<platform::Thread>());
        WaitingSink* sink = sinks[c].get();
        hosts.back()->Start([sink, &server] {
          VoiceController controller(sink);
          controller.serverAddress = "127.0.0.1";
          controller.serverPort = server.port();
          for (long i = 1; i <= kCommands; ++i) {
            controller.Kick(L"conference-1", L"participant-42");
            sink->WaitFor(i);
          }
        });
      }
    }  // joins every host thread; each controller has waited for its threads
    for (const auto& sink : sinks) {
      const long outcomes = sink->results + sink->errors;
      lost += std::max(0L, kCommands - outcomes);
      duplicated += std::max(0L, outcomes - kCommands);
      errors += sink->errors;
    }
    leaked += CountOpenDescriptors() - descriptorsBefore;
  }
  state.counters["commands"] = kControllers * kCommands;
  state.counters["lost"] = static_cast<double>(lost);
  state.counters["duplicated"] = static_cast<double>(duplicated);
  state.counters["errors"] = static_cast<double>(errors);
  state.counters["leaked_fds"] = leaked;
  if (lost || duplicated || errors || leaked) state.SkipWithError("outcomes or descriptors lost");
}
BENCHMARK(BM_ParallelControllers)->UseRealTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace voicecontrol

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  using voicecontrol::g_controllerMedian;
  if (voicecontrol::g_rawMedian > 0 && g_controllerMedian > 0) {
    std::printf("median round trip: raw %.1f us, curl %.1f us, controller %.1f us\n",
                voicecontrol::g_rawMedian, voicecontrol::g_curlMedian, g_controllerMedian);
    std::printf("controller / raw  = %.2f (goal <= 1.20)\n",
                g_controllerMedian / voicecontrol::g_rawMedian);
    if (voicecontrol::g_curlMedian > 0) {
      std::printf("controller / curl = %.2f (goal < 1.00)\n",
                  g_controllerMedian / voicecontrol::g_curlMedian);
    }
  }
  curl_global_cleanup();
  return 0;
}
