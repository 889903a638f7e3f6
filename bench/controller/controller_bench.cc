// One command's round trip over loopback, three ways against the same
// in-process server:
//   RawSocket   a blocking socket that sends the request bytes and reads the
//               answer: the floor of the network alone;
//   Floor       the raw client plus the two log records every conforming
//               client writes (same files, same bytes, at the same points),
//               with the fewest system calls that keep their content: the
//               floor of the contract;
//   Curl        libcurl with the command as custom method, a new
//               connection per request;
//   Controller  VoiceController::Kick until the sink has the result;
//   CInterface  vc_kick, the C interface over the same controller, until
//               its callback has the result.
// The five in turn once on an otherwise idle process and once beside busy
// threads of its own, one per core, so that "loaded" means the same on every
// machine. Then the CPU time a request costs while a slow server takes a
// second, 32 controllers with 200 commands each in parallel, 64 commands in
// flight at all times against a server that answers after a millisecond
// (beside a raw client doing the same), and the memory that 1000 commands in
// flight take.
// The host-driven mode (vc_use_host_loop) has the same three measures of its
// own: HostDriven (its round trip in turns with the raw client, the floor
// and the threaded C interface), HostDrivenInFlight64 and
// HostDrivenMemory1000InFlight; this thread's poll loop carries it.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <fstream>
#include <map>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <malloc.h>
#include <poll.h>
#include <unistd.h>

#include <voicecontrol/controller/VoiceController.h>
#include <voicecontrol/voicecontrol.h>
#include <voicecontrol/interface/HttpXmlReq.h>
#include "controller/request_sink.h"
#include "platform/clock.h"
#include "platform/file.h"
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
double g_rawMedian = 0, g_floorMedian = 0, g_curlMedian = 0, g_controllerMedian = 0, g_cMedian = 0;

void ReportLatencies(benchmark::State& state, std::vector<double>* micros, double* median) {
  if (micros->empty()) return;
  std::sort(micros->begin(), micros->end());
  *median = (*micros)[micros->size() / 2];
  state.counters["median_us"] = *median;
  state.counters["p90_us"] = (*micros)[micros->size() * 9 / 10];
}

double Micros(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::micro>(to - from).count();
}

// The floor: connect, send the request bytes, read the answer, close.
bool RawRoundTrip(const std::string& request, uint16_t port, std::string* answer) {
  platform::TcpSocket socket;
  return socket.Create() && socket.Connect("127.0.0.1", port) &&
         socket.Send(request.data(), request.size()) == static_cast<long>(request.size()) &&
         ReadMessage(socket, answer);
}

// A log record as the contract has it: the marker as UTF-16LE, then the
// message; the file holds that record alone and is replaced whole, as the
// library replaces it (bench/platform/log_bench.cc times the ways to).
void WriteRecord(const char* path, const char (&marker)[15], const std::string& message) {
  const platform::ByteRange parts[] = {{marker, 14}, {message.data(), message.size()}};
  platform::ReplaceWholeFile(path, parts, 2);  // best effort, as the library's
}

constexpr char kSendMarker[15] = "-\0-\0-\0>\0 \0\r\0\n\0";
constexpr char kReceiveMarker[15] = "<\0-\0-\0-\0 \0\r\0\n\0";

// The raw round trip with the two records: the request's after the send,
// the answer's once it is complete and the connection closed.
bool FloorRoundTrip(const std::string& request, uint16_t port, std::string* answer) {
  platform::TcpSocket socket;
  if (!socket.Create() || !socket.Connect("127.0.0.1", port) ||
      socket.Send(request.data(), request.size()) != static_cast<long>(request.size())) {
    return false;
  }
  WriteRecord("../SendVoiceMsg.log", kSendMarker, request);
  if (!ReadMessage(socket, answer)) return false;
  socket.Close();
  WriteRecord("../RecvVoiceMsg.log", kReceiveMarker, *answer);
  return true;
}

// One blocking client's round trips, one after the other.
using BlockingRoundTrip = bool (*)(const std::string&, uint16_t, std::string*);
void TimeBlockingRoundTrips(benchmark::State& state, BlockingRoundTrip roundTrip,
                            double* median) {
  const std::string request = KickRequest();
  const uint16_t port = SharedServer().port();
  std::string answer;
  std::vector<double> micros;
  for (auto _ : state) {
    const auto start = Clock::now();
    if (!roundTrip(request, port, &answer)) {
      state.SkipWithError("round trip failed");
      break;
    }
    micros.push_back(Micros(start, Clock::now()));
  }
  ReportLatencies(state, &micros, median);
}

void BM_RawSocket(benchmark::State& state) {
  TimeBlockingRoundTrips(state, RawRoundTrip, &g_rawMedian);
}
BENCHMARK(BM_RawSocket)->UseRealTime()->MinTime(2.0);

void BM_Floor(benchmark::State& state) {
  TimeBlockingRoundTrips(state, FloorRoundTrip, &g_floorMedian);
}
BENCHMARK(BM_Floor)->UseRealTime()->MinTime(2.0);

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

// libcurl sending the same command: custom method, same body and Host,
// no other headers, a fresh connection per request.
class CurlClient {
 public:
  explicit CurlClient(uint16_t port) {
    const std::string request = KickRequest();
    body_ = request.substr(request.find("\r\n\r\n") + 4);
    url_ = "http://127.0.0.1:" + std::to_string(port) + "/MyURL/";
    for (const char* header : {"Host: Host", "Content-Type:", "Accept:", "Expect:"}) {
      headers_ = curl_slist_append(headers_, header);
    }
    curl_ = curl_easy_init();
    curl_easy_setopt(curl_, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, "KICK");
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body_.c_str());
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE, static_cast<long>(body_.size()));
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_);
    curl_easy_setopt(curl_, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(curl_, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, Discard);
  }
  ~CurlClient() {
    curl_slist_free_all(headers_);
    curl_easy_cleanup(curl_);
  }
  bool RoundTrip() { return curl_easy_perform(curl_) == CURLE_OK; }

 private:
  std::string body_;
  std::string url_;
  curl_slist* headers_ = nullptr;
  CURL* curl_ = nullptr;
};

void BM_Curl(benchmark::State& state) {
  CurlClient curl(SharedServer().port());
  std::vector<double> micros;
  for (auto _ : state) {
    const auto start = Clock::now();
    if (!curl.RoundTrip()) {
      state.SkipWithError("curl round trip failed");
      break;
    }
    micros.push_back(Micros(start, Clock::now()));
  }
  ReportLatencies(state, &micros, &g_curlMedian);
}
BENCHMARK(BM_Curl)->UseRealTime()->MinTime(2.0);

// Counts outcomes and lets a host thread wait for the next one.
class WaitingSink : public internal::RequestSink {
 public:
  void OnError(std::wstring) override { Count(&errors); }
  void OnCommandResult(int32_t, int32_t, std::wstring) override { Count(&results); }
  void OnQAllEmpty() override { Count(&results); }
  void OnEntry(QAllEntry) override { Count(&results); }
  void OnValues(QSingleValues) override { Count(&results); }

  // Waits until `total` outcomes have arrived.
  void WaitFor(long total) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return results + errors >= total; });
  }

  long results = 0;               // guarded by mutex_
  long errors = 0;                // guarded by mutex_
  Clock::time_point lastOutcome;  // guarded by mutex_

 private:
  void Count(long* counter) {
    const Clock::time_point now = Clock::now();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++*counter;
      lastOutcome = now;
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
    // Up to the callback itself; waking this thread afterwards is the
    // host's business.
    micros.push_back(std::chrono::duration<double, std::micro>(sink.lastOutcome - start).count());
  }
  if (sink.errors > 0) state.SkipWithError("a command failed");
  ReportLatencies(state, &micros, &g_controllerMedian);
}
BENCHMARK(BM_Controller)->UseRealTime()->MinTime(2.0);

// The C interface over a controller, its outcomes counted by a WaitingSink
// (the callbacks' work is the same as the C++ sink's).
class CClient {
 public:
  CClient(uint16_t port, WaitingSink* sink) {
    vc_callbacks callbacks{};
    callbacks.on_error = [](void* user, void*, const char*) {
      static_cast<WaitingSink*>(user)->OnError(std::wstring());
    };
    callbacks.on_command_result = [](void* user, void*, int32_t flowId, int32_t code,
                                     const char*) {
      static_cast<WaitingSink*>(user)->OnCommandResult(flowId, code, std::wstring());
    };
    controller_ = vc_controller_create(&callbacks, sink);
    vc_set_server(controller_, "127.0.0.1", port);
  }
  ~CClient() { vc_controller_destroy(controller_); }
  CClient(const CClient&) = delete;
  CClient& operator=(const CClient&) = delete;

  bool Kick() {
    return vc_kick(controller_, "conference-1", "participant-42", nullptr) == VC_OK;
  }

 private:
  vc_controller* controller_ = nullptr;
};

// The library's two ways in, each with its own sink, against one server.
struct LibraryClients {
  explicit LibraryClients(uint16_t port) : controller(&sink), c(port, &cSink) {
    controller.serverAddress = "127.0.0.1";
    controller.serverPort = port;
  }
  bool Failed() const { return sink.errors > 0 || cSink.errors > 0; }

  WaitingSink sink;
  VoiceController controller;
  WaitingSink cSink;
  CClient c;
};

void BM_CInterface(benchmark::State& state) {
  WaitingSink sink;
  CClient client(SharedServer().port(), &sink);
  std::vector<double> micros;
  long expected = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    if (!client.Kick()) state.SkipWithError("vc_kick failed");
    sink.WaitFor(++expected);
    micros.push_back(std::chrono::duration<double, std::micro>(sink.lastOutcome - start).count());
  }
  if (sink.errors > 0) state.SkipWithError("a command failed");
  ReportLatencies(state, &micros, &g_cMedian);
}
BENCHMARK(BM_CInterface)->UseRealTime()->MinTime(2.0);

// A host-driven controller through the C interface and the loop that
// carries it, on the thread that uses this object: every callback runs
// inside Turn(), so nothing here needs a lock. The commands are kicks, the
// same bytes as the floor's, against the same servers. With a capacity,
// each command's tag is a counter of its own (outcomes exactly once) and a
// finished command sends the next one while refill holds, as
// InFlightClient does for the threaded mode.
class HostDrivenClient {
 public:
  // `logFiles` false: the records go to a hook that drops them.
  HostDrivenClient(uint16_t port, size_t commands, bool logFiles = true)
      : outcomes_(commands, 0) {
    vc_callbacks callbacks{};
    callbacks.on_error = [](void* user, void* tag, const char*) {
      static_cast<HostDrivenClient*>(user)->Outcome(tag, true);
    };
    callbacks.on_command_result = [](void* user, void* tag, int32_t, int32_t, const char*) {
      static_cast<HostDrivenClient*>(user)->Outcome(tag, false);
    };
    callbacks.on_done = [](void* user, void*) { static_cast<HostDrivenClient*>(user)->Done(); };
    controller_ = vc_controller_create(&callbacks, this);
    started_ = controller_ != nullptr && vc_use_host_loop(controller_) == VC_OK &&
               vc_set_server(controller_, "127.0.0.1", port) == VC_OK;
    if (started_) descriptor_ = static_cast<int>(vc_loop_descriptor(controller_));
    if (started_ && !logFiles) {
      vc_set_log_hook(controller_, [](void*, const vc_log_record*) {}, nullptr, 0);
    }
  }
  ~HostDrivenClient() {
    if (controller_ != nullptr) vc_controller_destroy(controller_);
  }
  HostDrivenClient(const HostDrivenClient&) = delete;
  HostDrivenClient& operator=(const HostDrivenClient&) = delete;

  bool started() const { return started_; }

  // One kick whose outcome is only counted.
  bool Kick() { return Send(nullptr); }

  // Sends the next command of the capacity; false when every slot has
  // been used.
  bool SendNext() {
    if (sent_ >= outcomes_.size()) return false;
    Send(&outcomes_[sent_++]);
    return true;
  }

  // One turn of the host's loop: wait on the descriptor for at most what
  // vc_next_timeout_ms allows, and no longer than capMs (so that a caller
  // watching the clock gets control back), then let the library move on.
  void Turn(int capMs) {
    int timeout = vc_next_timeout_ms(controller_);
    if (timeout < 0 || timeout > capMs) timeout = capMs;
    pollfd entry{descriptor_, POLLIN, 0};
    poll(&entry, 1, timeout);
    ++turns_;
    if (vc_process(controller_) != VC_OK) ++errors_;
  }

  // Every command ends within its time-outs, so this returns.
  void RunUntilIdle() {
    while (inFlight_ > 0) Turn(1000);
  }
  void RunFor(Clock::duration span) {
    const Clock::time_point end = Clock::now() + span;
    for (Clock::time_point now = Clock::now(); now < end; now = Clock::now()) {
      Turn(static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count()));
    }
  }
  template <typename Predicate>
  void RunWhile(Predicate keepGoing, Clock::duration limit) {
    const Clock::time_point end = Clock::now() + limit;
    while (keepGoing() && Clock::now() < end) Turn(10);
  }

  void set_refill(bool refill) { refill_ = refill; }
  long inFlight() const { return inFlight_; }
  long finished() const { return finished_; }
  long errors() const { return errors_; }
  long turns() const { return turns_; }
  Clock::time_point lastOutcome() const { return lastOutcome_; }
  // Commands of the capacity whose outcome did not arrive exactly once.
  long NotExactlyOnce() const {
    long wrong = 0;
    for (size_t i = 0; i < sent_; ++i) wrong += outcomes_[i] != 1;
    return wrong;
  }

 private:
  bool Send(int* tag) {
    if (vc_kick(controller_, "conference-1", "participant-42", tag) != VC_OK) {
      ++errors_;
      return false;
    }
    ++inFlight_;
    return true;
  }
  void Outcome(void* tag, bool error) {
    lastOutcome_ = Clock::now();
    if (tag != nullptr) ++*static_cast<int*>(tag);
    if (error) ++errors_;
  }
  void Done() {
    --inFlight_;
    ++finished_;
    if (refill_) SendNext();
  }

  vc_controller* controller_ = nullptr;
  bool started_ = false;
  int descriptor_ = -1;
  std::vector<int> outcomes_;  // outcomes per command of the capacity
  size_t sent_ = 0;
  long inFlight_ = 0, finished_ = 0, errors_ = 0, turns_ = 0;
  bool refill_ = false;
  Clock::time_point lastOutcome_;
};

// Medians of the host-driven run, in microseconds.
struct HostDrivenMedians {
  double raw = 0, floor = 0, c = 0, hostDriven = 0;
};
HostDrivenMedians g_hostDriven;

// The host-driven round trip, one kick at a time, in turns with the raw
// client, the floor and the threaded C interface, one request each per
// iteration: on a busy machine only ratios from the same moments mean
// anything. Timed up to the callback, as CInterface is; with the host's
// loop that callback runs on this thread, so no wake-up is left out.
void BM_HostDriven(benchmark::State& state) {
  const std::string request = KickRequest();
  const uint16_t port = SharedServer().port();
  WaitingSink cSink;
  CClient cClient(port, &cSink);
  HostDrivenClient host(port, 0);
  if (!host.started()) {
    state.SkipWithError("the controller could not be made host-driven");
    return;
  }
  std::string answer;
  std::vector<double> raw, floor, viaC, hostDriven;
  long expected = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    if (!RawRoundTrip(request, port, &answer)) state.SkipWithError("raw round trip failed");
    raw.push_back(Micros(start, Clock::now()));
    start = Clock::now();
    if (!FloorRoundTrip(request, port, &answer)) state.SkipWithError("floor round trip failed");
    floor.push_back(Micros(start, Clock::now()));
    ++expected;
    auto threaded = [&] {
      const auto begin = Clock::now();
      if (!cClient.Kick()) state.SkipWithError("vc_kick failed");
      cSink.WaitFor(expected);
      viaC.push_back(Micros(begin, cSink.lastOutcome));
    };
    auto driven = [&] {
      const auto begin = Clock::now();
      if (!host.Kick()) state.SkipWithError("host-driven vc_kick failed");
      host.RunUntilIdle();
      hostDriven.push_back(Micros(begin, host.lastOutcome()));
    };
    // The two modes take turns at going first.
    if (expected % 2 == 0) {
      threaded();
      driven();
    } else {
      driven();
      threaded();
    }
  }
  if (cSink.errors > 0 || host.errors() > 0) state.SkipWithError("a command failed");
  HostDrivenMedians& m = g_hostDriven;
  ReportLatencies(state, &raw, &m.raw);
  ReportLatencies(state, &floor, &m.floor);
  ReportLatencies(state, &viaC, &m.c);
  ReportLatencies(state, &hostDriven, &m.hostDriven);
  state.counters.erase("median_us");
  state.counters.erase("p90_us");
  state.counters["raw_us"] = m.raw;
  state.counters["floor_us"] = m.floor;
  state.counters["c_us"] = m.c;
  state.counters["hd_us"] = m.hostDriven;
  state.counters["hd/floor"] = m.hostDriven / m.floor;
  state.counters["hd/raw"] = m.hostDriven / m.raw;
  state.counters["hd/c"] = m.hostDriven / m.c;
}
BENCHMARK(BM_HostDriven)->UseRealTime()->MinTime(2.0);

// Threads that keep every core busy while they live, so that a run beside
// them sees a loaded machine whatever else runs on it.
class BusyThreads {
 public:
  BusyThreads() {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < cores; ++i) {
      threads_.emplace_back([this] {
        unsigned long spins = 0;
        while (!stop_.load(std::memory_order_relaxed)) ++spins;
        spun_ += spins;
      });
    }
  }
  ~BusyThreads() {
    stop_ = true;
    for (auto& thread : threads_) thread.join();
  }
  size_t count() const { return threads_.size(); }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<unsigned long> spun_{0};
  std::vector<std::thread> threads_;
};

// Medians of the interleaved round trips, in microseconds.
struct Mixed {
  double raw = 0, floor = 0, curl = 0, controller = 0, c = 0;
};
Mixed g_quiet, g_loaded;
double g_inFlightRatio = 0, g_kilobytesPerRequest = 0;

// The five clients in turn, one request each per iteration, so that load
// from elsewhere on the machine affects all of them alike. The ratios come
// from these runs.
void RunInterleaved(benchmark::State& state, Mixed* medians) {
  const std::string request = KickRequest();
  const uint16_t port = SharedServer().port();
  CurlClient curl(port);
  LibraryClients clients(port);
  WaitingSink& sink = clients.sink;
  WaitingSink& cSink = clients.cSink;
  VoiceController& controller = clients.controller;
  CClient& cClient = clients.c;
  std::string answer;
  std::vector<double> raw, floor, viaCurl, viaController, viaC;
  long expected = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    if (!RawRoundTrip(request, port, &answer)) state.SkipWithError("raw round trip failed");
    raw.push_back(Micros(start, Clock::now()));
    start = Clock::now();
    if (!FloorRoundTrip(request, port, &answer)) state.SkipWithError("floor round trip failed");
    floor.push_back(Micros(start, Clock::now()));
    start = Clock::now();
    if (!curl.RoundTrip()) state.SkipWithError("curl round trip failed");
    viaCurl.push_back(Micros(start, Clock::now()));
    ++expected;
    auto viaCpp = [&] {
      const auto begin = Clock::now();
      controller.Kick(L"conference-1", L"participant-42");
      sink.WaitFor(expected);
      viaController.push_back(Micros(begin, sink.lastOutcome));
    };
    auto viaCInterface = [&] {
      const auto begin = Clock::now();
      if (!cClient.Kick()) state.SkipWithError("vc_kick failed");
      cSink.WaitFor(expected);
      viaC.push_back(Micros(begin, cSink.lastOutcome));
    };
    // The two controllers take turns at going first.
    if (expected % 2 == 0) {
      viaCpp();
      viaCInterface();
    } else {
      viaCInterface();
      viaCpp();
    }
  }
  if (clients.Failed()) state.SkipWithError("a command failed");
  ReportLatencies(state, &raw, &medians->raw);
  ReportLatencies(state, &floor, &medians->floor);
  ReportLatencies(state, &viaCurl, &medians->curl);
  ReportLatencies(state, &viaController, &medians->controller);
  ReportLatencies(state, &viaC, &medians->c);
  state.counters.erase("median_us");
  state.counters.erase("p90_us");
  state.counters["raw_us"] = medians->raw;
  state.counters["floor_us"] = medians->floor;
  state.counters["curl_us"] = medians->curl;
  state.counters["controller_us"] = medians->controller;
  state.counters["c_us"] = medians->c;
  state.counters["ctl/raw"] = medians->controller / medians->raw;
  state.counters["ctl/floor"] = medians->controller / medians->floor;
  state.counters["ctl/curl"] = medians->controller / medians->curl;
  state.counters["c/ctl"] = medians->c / medians->controller;
}

void BM_Interleaved(benchmark::State& state) { RunInterleaved(state, &g_quiet); }
BENCHMARK(BM_Interleaved)->UseRealTime()->MinTime(3.0);

// The same beside one busy thread per core.
void BM_InterleavedLoaded(benchmark::State& state) {
  BusyThreads busy;
  RunInterleaved(state, &g_loaded);
  state.counters["busy_threads"] = static_cast<double>(busy.count());
}
BENCHMARK(BM_InterleavedLoaded)->UseRealTime()->MinTime(3.0);

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

// Resident memory of this process in kilobytes, as the system counts it.
long ResidentKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

// The calling thread's time on a CPU and in the run queue waiting for one,
// in nanoseconds (/proc/thread-self/schedstat; zero where unreadable).
struct ThreadSchedule {
  long long ran = 0, queued = 0;
};
ThreadSchedule ThisThreadSchedule() {
  ThreadSchedule schedule;
  std::ifstream stat("/proc/thread-self/schedstat");
  stat >> schedule.ran >> schedule.queued;
  return schedule;
}

// Answers every connection after a delay, many at once: one thread accepts
// and reads the requests, another sends each answer when it is due and
// closes the connection.
class DelayedResponder {
 public:
  DelayedResponder(std::string answer, int delayMs)
      : answer_(std::move(answer)), delay_(std::chrono::milliseconds(delayMs)) {
    listener_.Listen();
    acceptor_ = std::thread([this] { Accept(); });
    answerer_ = std::thread([this] { Answer(); });
  }
  ~DelayedResponder() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    due_.notify_all();
    acceptor_.join();
    answerer_.join();
  }
  uint16_t port() const { return listener_.Port(); }
  // Requests read in full so far.
  long received() const { return received_.load(); }

 private:
  struct Pending {
    Clock::time_point due;
    platform::TcpSocket connection;
  };

  void Accept() {
    std::string request;
    while (!Stopping()) {
      platform::TcpSocket connection = listener_.Accept(20);
      if (!connection.IsOpen() || !ReadMessage(connection, &request)) continue;
      received_.fetch_add(1);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.push_back(Pending{Clock::now() + delay_, std::move(connection)});
      }
      due_.notify_one();
    }
  }

  // The delay is the same for all, so the queue is in the order of due
  // times.
  void Answer() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      due_.wait(lock, [&] { return stop_ || !pending_.empty(); });
      if (stop_) return;
      const Clock::time_point due = pending_.front().due;
      if (Clock::now() < due) {
        due_.wait_until(lock, due);
        continue;
      }
      platform::TcpSocket connection = std::move(pending_.front().connection);
      pending_.pop_front();
      lock.unlock();
      connection.Send(answer_.data(), answer_.size());
      connection.Close();
      lock.lock();
    }
  }

  bool Stopping() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stop_;
  }

  const std::string answer_;
  const Clock::duration delay_;
  platform::TcpListener listener_;
  std::mutex mutex_;
  std::condition_variable due_;
  std::deque<Pending> pending_;  // guarded by mutex_
  bool stop_ = false;            // guarded by mutex_
  std::atomic<long> received_{0};
  std::thread acceptor_, answerer_;
};

// Keeps `inFlight` kicks outstanding on one controller through the C
// interface: every finished command issues the next one from its on_done
// callback, while `running` holds.
class InFlightClient {
 public:
  // `logFiles` false: the records go to a hook that drops them, and the
  // two files are not written.
  InFlightClient(uint16_t port, size_t commands, bool logFiles = true) : outcomes_(commands) {
    vc_callbacks callbacks{};
    callbacks.on_error = [](void* user, void* tag, const char*) {
      static_cast<InFlightClient*>(user)->Outcome(tag, true);
    };
    callbacks.on_command_result = [](void* user, void* tag, int32_t, int32_t, const char*) {
      static_cast<InFlightClient*>(user)->Outcome(tag, false);
    };
    callbacks.on_done = [](void* user, void* tag) {
      static_cast<InFlightClient*>(user)->Done(tag);
    };
    controller_ = vc_controller_create(&callbacks, this);
    vc_set_server(controller_, "127.0.0.1", port);
    if (!logFiles) vc_set_log_hook(controller_, [](void*, const vc_log_record*) {}, nullptr, 0);
    for (auto& outcome : outcomes_) outcome = 0;
  }
  ~InFlightClient() { vc_controller_destroy(controller_); }
  InFlightClient(const InFlightClient&) = delete;
  InFlightClient& operator=(const InFlightClient&) = delete;

  // Issues the next command; false when every slot has been used.
  bool Issue() {
    const size_t index = issued_.fetch_add(1);
    if (index >= outcomes_.size()) return false;
    if (vc_kick(controller_, "conference-1", "participant-42", &outcomes_[index]) != VC_OK) {
      errors_.fetch_add(1);
      FinishOne();
    }
    return true;
  }

  void set_refill(bool refill) { refill_ = refill; }
  // Waits until no command is outstanding.
  void WaitIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [&] { return outstanding_ == 0; });
  }
  void AddOutstanding(long n) {
    std::lock_guard<std::mutex> lock(mutex_);
    outstanding_ += n;
  }
  long finished() const { return finished_.load(); }
  long errors() const { return errors_.load(); }
  // Commands whose outcome did not arrive exactly once.
  long NotExactlyOnce(size_t issued) const {
    long wrong = 0;
    for (size_t i = 0; i < issued && i < outcomes_.size(); ++i) wrong += outcomes_[i] != 1;
    return wrong;
  }

 private:
  void Outcome(void* tag, bool error) {
    static_cast<std::atomic<int>*>(tag)->fetch_add(1);
    if (error) errors_.fetch_add(1);
  }
  void Done(void*) {
    finished_.fetch_add(1);
    if (refill_.load() && Issue()) return;
    FinishOne();
  }
  void FinishOne() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--outstanding_ == 0) idle_.notify_all();
  }

  vc_controller* controller_ = nullptr;
  std::vector<std::atomic<int>> outcomes_;  // outcomes per command
  std::atomic<size_t> issued_{0};
  std::atomic<long> finished_{0}, errors_{0};
  std::atomic<bool> refill_{true};
  std::mutex mutex_;
  std::condition_variable idle_;
  long outstanding_ = 0;  // guarded by mutex_
};

// The raw floor of the same load: one blocking thread per command in
// flight, each a connection per command.
// Process CPU time in microseconds (every thread, the responder's too).
double CpuMicros() { return 1e6 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

long RawInFlight(uint16_t port, int inFlight, Clock::duration window, long* failures,
                 double* cpuMicros) {
  const std::string request = KickRequest();
  std::atomic<bool> running{true};
  std::atomic<long> done{0}, failed{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < inFlight; ++i) {
    clients.emplace_back([&] {
      std::string answer;
      while (running.load()) {
        if (RawRoundTrip(request, port, &answer)) {
          done.fetch_add(1);
        } else {
          failed.fetch_add(1);
        }
      }
    });
  }
  std::this_thread::sleep_for(window / 4);  // warm-up
  const long before = done.load();
  const double cpuBefore = CpuMicros();
  std::this_thread::sleep_for(window);
  const long counted = done.load() - before;
  *cpuMicros = CpuMicros() - cpuBefore;
  running = false;
  for (auto& client : clients) client.join();
  *failures = failed.load();
  return counted;
}

long ControllerInFlight(uint16_t port, int inFlight, Clock::duration window, long* failures,
                        long* growthKilobytes, double* cpuMicros, bool logFiles = true) {
  InFlightClient client(port, 1 << 20, logFiles);
  const long before = ResidentKilobytes();
  client.AddOutstanding(inFlight);
  for (int i = 0; i < inFlight; ++i) client.Issue();
  std::this_thread::sleep_for(window / 4);  // warm-up
  const long finishedBefore = client.finished();
  const double cpuBefore = CpuMicros();
  std::this_thread::sleep_for(window);
  const long counted = client.finished() - finishedBefore;
  *cpuMicros = CpuMicros() - cpuBefore;
  *growthKilobytes = ResidentKilobytes() - before;
  client.set_refill(false);
  client.WaitIdle();
  *failures = client.errors();
  return counted;
}

// Process CPU per command of each client, one client after the other, each
// command waited for before the next. The server thread's share is in
// every figure alike.
struct CpuPerCommand {
  double raw = 0, floor = 0, controller = 0, c = 0;
};
CpuPerCommand g_cpu;

template <typename RoundTrip>
double CpuMicrosPerCommand(int commands, RoundTrip roundTrip) {
  const double before = CpuMicros();
  for (int i = 0; i < commands; ++i) roundTrip();
  return (CpuMicros() - before) / commands;
}

void BM_CpuPerCommand(benchmark::State& state) {
  constexpr int kCommands = 2000;
  const std::string request = KickRequest();
  const uint16_t port = SharedServer().port();
  std::string answer;
  bool failed = false;
  LibraryClients clients(port);
  WaitingSink& sink = clients.sink;
  WaitingSink& cSink = clients.cSink;
  VoiceController& controller = clients.controller;
  CClient& cClient = clients.c;
  long expected = 0, cExpected = 0;
  std::vector<double> raw, floor, viaController, viaC;
  for (auto _ : state) {
    raw.push_back(CpuMicrosPerCommand(kCommands, [&] {
      failed |= !RawRoundTrip(request, port, &answer);
    }));
    floor.push_back(CpuMicrosPerCommand(kCommands, [&] {
      failed |= !FloorRoundTrip(request, port, &answer);
    }));
    viaController.push_back(CpuMicrosPerCommand(kCommands, [&] {
      controller.Kick(L"conference-1", L"participant-42");
      sink.WaitFor(++expected);
    }));
    viaC.push_back(CpuMicrosPerCommand(kCommands, [&] {
      failed |= !cClient.Kick();
      cSink.WaitFor(++cExpected);
    }));
  }
  if (failed || clients.Failed()) state.SkipWithError("a command failed");
  auto median = [](std::vector<double>& values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  };
  g_cpu = {median(raw), median(floor), median(viaController), median(viaC)};
  state.counters["raw_cpu_us"] = g_cpu.raw;
  state.counters["floor_cpu_us"] = g_cpu.floor;
  state.counters["ctl_cpu_us"] = g_cpu.controller;
  state.counters["c_cpu_us"] = g_cpu.c;
}
BENCHMARK(BM_CpuPerCommand)->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// 64 commands in flight at all times against a server that answers each
// after a millisecond: the controller (one controller, each finished
// command issuing the next) beside a raw client (64 threads with a
// blocking connection per command), in turns, commands per second. The
// controller once more with its log records going to a hook instead of
// the two files: each record is a new file (so that a reader sees it
// whole), and on ext4 creating files at this rate is most of what a
// command costs.
void BM_InFlight64(benchmark::State& state) {
  constexpr int kInFlight = 64;
  const Clock::duration window = std::chrono::milliseconds(1000);
  DelayedResponder responder(KickAnswer(), 1);
  std::vector<double> raw, controller, hooked, rawCpu, controllerCpu;
  long failures = 0, growth = 0;
  const double seconds = std::chrono::duration<double>(window).count();
  for (auto _ : state) {
    long failed = 0, peak = 0;
    double cpu = 0;
    const long rawCount = RawInFlight(responder.port(), kInFlight, window, &failed, &cpu);
    raw.push_back(rawCount / seconds);
    rawCpu.push_back(cpu / std::max(1L, rawCount));
    failures += failed;
    const long controllerCount =
        ControllerInFlight(responder.port(), kInFlight, window, &failed, &peak, &cpu);
    controller.push_back(controllerCount / seconds);
    controllerCpu.push_back(cpu / std::max(1L, controllerCount));
    failures += failed;
    growth = std::max(growth, peak);
    const long hookedCount =
        ControllerInFlight(responder.port(), kInFlight, window, &failed, &peak, &cpu, false);
    hooked.push_back(hookedCount / seconds);
    failures += failed;
  }
  std::sort(rawCpu.begin(), rawCpu.end());
  std::sort(controllerCpu.begin(), controllerCpu.end());
  // On a machine whose cores are the limit, throughput follows the CPU
  // time a command costs.
  state.counters["raw_cpu_us"] = rawCpu[rawCpu.size() / 2];
  state.counters["ctl_cpu_us"] = controllerCpu[controllerCpu.size() / 2];
  if (failures > 0) state.SkipWithError("a command failed");
  std::sort(raw.begin(), raw.end());
  std::sort(controller.begin(), controller.end());
  const double rawMedian = raw[raw.size() / 2], controllerMedian = controller[controller.size() / 2];
  state.counters["raw_per_s"] = rawMedian;
  state.counters["ctl_per_s"] = controllerMedian;
  state.counters["ctl/raw"] = controllerMedian / rawMedian;
  std::sort(hooked.begin(), hooked.end());
  state.counters["ctl_log_hook/raw"] = hooked[hooked.size() / 2] / rawMedian;
  state.counters["ctl_rss_growth_kb"] = static_cast<double>(growth);
  g_inFlightRatio = controllerMedian / rawMedian;
}
BENCHMARK(BM_InFlight64)->UseRealTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// 1000 commands in flight at once against a server that answers after a
// second: the resident memory each costs while it waits, and every outcome
// delivered exactly once.
void BM_Memory1000InFlight(benchmark::State& state) {
  constexpr int kCommands = 1000;
  DelayedResponder responder(KickAnswer(), 1000);
  double perRequest = 0;
  long wrong = 0, errors = 0, pendingAtSample = 0;
  for (auto _ : state) {
    InFlightClient client(responder.port(), kCommands + 8);
    // A few commands first, so that what every process pays once (the
    // first thread, the parser's start-up) is not counted per request.
    client.set_refill(false);
    client.AddOutstanding(8);
    for (int i = 0; i < 8; ++i) client.Issue();
    client.WaitIdle();
    const long before = ResidentKilobytes();
    client.AddOutstanding(kCommands);
    for (int i = 0; i < kCommands; ++i) client.Issue();
    const long during = ResidentKilobytes();
    pendingAtSample = kCommands + 8 - client.finished();
    client.WaitIdle();
    perRequest = static_cast<double>(during - before) / kCommands;
    wrong += client.NotExactlyOnce(kCommands + 8);
    errors += client.errors();
  }
  state.counters["rss_kb_per_request"] = perRequest;
  state.counters["in_flight_at_sample"] = static_cast<double>(pendingAtSample);
  state.counters["not_exactly_once"] = static_cast<double>(wrong);
  state.counters["errors"] = static_cast<double>(errors);
  g_kilobytesPerRequest = perRequest;
  if (wrong > 0 || errors > 0) state.SkipWithError("an outcome was lost, doubled or failed");
}
BENCHMARK(BM_Memory1000InFlight)->UseRealTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// ControllerInFlight for the host-driven mode: this thread is the host's
// loop for the whole window, so the commands move on only when it turns.
// `ran`, `queued`: the shares of the window this thread (the host's loop)
// spent on a CPU and waiting for one. Together near 1, the loop never
// waited on its descriptor: its own work, and the CPU it was given, set
// the pace.
long HostDrivenInFlight(uint16_t port, int inFlight, Clock::duration window, long* failures,
                        long* growthKilobytes, double* cpuMicros, long* turns, double* ran,
                        double* queued, bool logFiles = true) {
  HostDrivenClient client(port, 1 << 20, logFiles);
  if (!client.started()) {
    *failures = 1;
    return 0;
  }
  const long before = ResidentKilobytes();
  client.set_refill(true);
  for (int i = 0; i < inFlight; ++i) client.SendNext();
  client.RunFor(window / 4);  // warm-up
  const long finishedBefore = client.finished(), turnsBefore = client.turns();
  const double cpuBefore = CpuMicros();
  const ThreadSchedule scheduleBefore = ThisThreadSchedule();
  client.RunFor(window);
  const ThreadSchedule scheduleAfter = ThisThreadSchedule();
  const long counted = client.finished() - finishedBefore;
  *cpuMicros = CpuMicros() - cpuBefore;
  *turns = client.turns() - turnsBefore;
  const double windowNs = std::chrono::duration<double, std::nano>(window).count();
  *ran = static_cast<double>(scheduleAfter.ran - scheduleBefore.ran) / windowNs;
  *queued = static_cast<double>(scheduleAfter.queued - scheduleBefore.queued) / windowNs;
  *growthKilobytes = ResidentKilobytes() - before;
  client.set_refill(false);
  client.RunUntilIdle();
  *failures = client.errors() + client.NotExactlyOnce();
  return counted;
}

double g_hdInFlightRatio = 0, g_hdInFlightVsThreaded = 0, g_hdKilobytesPerRequest = 0;

// BM_InFlight64 for the host-driven mode: the raw client, the threaded
// controller and the host-driven one in turns against the same responder,
// commands per second. The threaded one is here again so that the two
// modes are compared within one run.
void BM_HostDrivenInFlight64(benchmark::State& state) {
  constexpr int kInFlight = 64;
  const Clock::duration window = std::chrono::milliseconds(1000);
  DelayedResponder responder(KickAnswer(), 1);
  std::vector<double> raw, controller, hostDriven, hooked, rawCpu, controllerCpu, hostDrivenCpu,
      turnsPerCommand, loopRan, loopQueued;
  long failures = 0, growth = 0;
  const double seconds = std::chrono::duration<double>(window).count();
  for (auto _ : state) {
    long failed = 0, peak = 0;
    double cpu = 0;
    const long rawCount = RawInFlight(responder.port(), kInFlight, window, &failed, &cpu);
    raw.push_back(rawCount / seconds);
    rawCpu.push_back(cpu / std::max(1L, rawCount));
    failures += failed;
    const long controllerCount =
        ControllerInFlight(responder.port(), kInFlight, window, &failed, &peak, &cpu);
    controller.push_back(controllerCount / seconds);
    controllerCpu.push_back(cpu / std::max(1L, controllerCount));
    failures += failed;
    long turns = 0;
    double ran = 0, queued = 0;
    const long hostDrivenCount = HostDrivenInFlight(responder.port(), kInFlight, window, &failed,
                                                    &peak, &cpu, &turns, &ran, &queued);
    loopRan.push_back(ran);
    loopQueued.push_back(queued);
    hostDriven.push_back(hostDrivenCount / seconds);
    hostDrivenCpu.push_back(cpu / std::max(1L, hostDrivenCount));
    turnsPerCommand.push_back(static_cast<double>(turns) / std::max(1L, hostDrivenCount));
    failures += failed;
    growth = std::max(growth, peak);
    // Once more without the log files (see BM_InFlight64).
    const long hookedCount = HostDrivenInFlight(responder.port(), kInFlight, window, &failed,
                                                &peak, &cpu, &turns, &ran, &queued, false);
    hooked.push_back(hookedCount / seconds);
    failures += failed;
  }
  auto median = [](std::vector<double>& values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  };
  if (failures > 0) state.SkipWithError("a command failed");
  const double rawMedian = median(raw), controllerMedian = median(controller),
               hostDrivenMedian = median(hostDriven);
  state.counters["raw_cpu_us"] = median(rawCpu);
  state.counters["ctl_cpu_us"] = median(controllerCpu);
  state.counters["hd_cpu_us"] = median(hostDrivenCpu);
  // Wake-ups of the loop per command: below 1 when one vc_process moves
  // several commands on.
  state.counters["hd_turns_per_cmd"] = median(turnsPerCommand);
  // The loop thread's shares of the window on a CPU and queued for one: a
  // loop that is never idle and waits for a CPU most of the time is held
  // back by the machine (one thread beside the raw client's 64), not by
  // the mode's waits.
  state.counters["hd_loop_ran"] = median(loopRan);
  state.counters["hd_loop_queued"] = median(loopQueued);
  state.counters["raw_per_s"] = rawMedian;
  state.counters["ctl_per_s"] = controllerMedian;
  state.counters["hd_per_s"] = hostDrivenMedian;
  state.counters["hd/raw"] = hostDrivenMedian / rawMedian;
  state.counters["hd_log_hook/raw"] = median(hooked) / rawMedian;
  state.counters["hd/ctl"] = hostDrivenMedian / controllerMedian;
  state.counters["hd_rss_growth_kb"] = static_cast<double>(growth);
  g_hdInFlightRatio = hostDrivenMedian / rawMedian;
  g_hdInFlightVsThreaded = hostDrivenMedian / controllerMedian;
}
BENCHMARK(BM_HostDrivenInFlight64)->UseRealTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// BM_Memory1000InFlight for the host-driven mode. vc_kick only starts a
// host-driven command's connect; its request goes out when the loop turns.
// So the loop turns until the server has read all 1000 requests (it answers
// none for a second), and memory is sampled then: every command connected,
// its request sent, its answer awaited, the state it spends longest in.
void BM_HostDrivenMemory1000InFlight(benchmark::State& state) {
  constexpr int kCommands = 1000;
  constexpr int kWarmUp = 8;
  DelayedResponder responder(KickAnswer(), 1000);
  double perRequest = 0;
  long wrong = 0, errors = 0, pendingAtSample = 0, receivedAtSample = 0;
  for (auto _ : state) {
    HostDrivenClient client(responder.port(), kCommands + kWarmUp);
    if (!client.started()) {
      state.SkipWithError("the controller could not be made host-driven");
      break;
    }
    // A few commands first, so that what every process pays once (the
    // parser's start-up, the first log records) is not counted per request.
    for (int i = 0; i < kWarmUp; ++i) client.SendNext();
    client.RunUntilIdle();
    // Earlier benchmarks leave freed heap resident, which these commands
    // would reuse without a page of growth: hand it back first, so that
    // the figure does not depend on what ran before.
    malloc_trim(0);
    const long before = ResidentKilobytes();
    const long receivedBefore = responder.received();
    for (int i = 0; i < kCommands; ++i) client.SendNext();
    client.RunWhile(
        [&] {
          return responder.received() - receivedBefore < kCommands &&
                 client.finished() == kWarmUp;
        },
        std::chrono::seconds(5));
    const long during = ResidentKilobytes();
    pendingAtSample = client.inFlight();
    receivedAtSample = responder.received() - receivedBefore;
    client.RunUntilIdle();
    perRequest = static_cast<double>(during - before) / kCommands;
    wrong += client.NotExactlyOnce();
    errors += client.errors();
  }
  state.counters["rss_kb_per_request"] = perRequest;
  state.counters["in_flight_at_sample"] = static_cast<double>(pendingAtSample);
  state.counters["sent_at_sample"] = static_cast<double>(receivedAtSample);
  state.counters["not_exactly_once"] = static_cast<double>(wrong);
  state.counters["errors"] = static_cast<double>(errors);
  g_hdKilobytesPerRequest = perRequest;
  if (wrong > 0 || errors > 0) state.SkipWithError("an outcome was lost, doubled or failed");
}
BENCHMARK(BM_HostDrivenMemory1000InFlight)
    ->UseRealTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace voicecontrol

int main(int argc, char** argv) {
  // The controller logs to "../SendVoiceMsg.log" and "../RecvVoiceMsg.log":
  // keep them in a directory of their own.
  namespace fs = std::filesystem;
  const fs::path logs = fs::temp_directory_path() / "voicecontrol_bench";
  fs::create_directories(logs / "run");
  const fs::path previous = fs::current_path();
  fs::current_path(logs / "run");
  curl_global_init(CURL_GLOBAL_DEFAULT);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  using voicecontrol::g_loaded;
  using voicecontrol::g_quiet;
  for (const auto& [name, m] : {std::pair{"idle", g_quiet}, std::pair{"loaded", g_loaded}}) {
    if (m.raw <= 0 || m.controller <= 0) continue;
    std::printf("interleaved medians (%s): raw %.1f us, floor %.1f us, curl %.1f us, "
                "controller %.1f us, C %.1f us\n",
                name, m.raw, m.floor, m.curl, m.controller, m.c);
    std::printf("  controller / raw  = %.2f (goal <= %.2f)\n", m.controller / m.raw,
                name[0] == 'i' ? 1.10 : 1.30);
    if (m.floor > 0) std::printf("  controller / floor = %.2f\n", m.controller / m.floor);
    std::printf("  controller / curl = %.2f (goal < 1.00)\n", m.controller / m.curl);
    if (m.c > 0) std::printf("  C / controller    = %.3f (goal <= 1.05)\n", m.c / m.controller);
  }
  if (const auto& cpu = voicecontrol::g_cpu; cpu.raw > 0) {
    std::printf("CPU per command: raw %.1f us, floor %.1f us, controller %.1f us, C %.1f us "
                "(controller / floor = %.2f)\n",
                cpu.raw, cpu.floor, cpu.controller, cpu.c, cpu.controller / cpu.floor);
  }
  if (voicecontrol::g_inFlightRatio > 0) {
    std::printf("64 in flight: controller / raw throughput = %.2f (goal >= 0.80)\n",
                voicecontrol::g_inFlightRatio);
  }
  if (voicecontrol::g_kilobytesPerRequest > 0) {
    std::printf("1000 in flight: %.1f KB resident per request (goal <= 17)\n",
                voicecontrol::g_kilobytesPerRequest);
  }
  if (const auto& m = voicecontrol::g_hostDriven; m.floor > 0 && m.hostDriven > 0) {
    std::printf("host-driven round trip (medians, in turns): raw %.1f us, floor %.1f us, "
                "C threaded %.1f us, host-driven %.1f us\n",
                m.raw, m.floor, m.c, m.hostDriven);
    std::printf("  host-driven / floor = %.2f, / raw = %.2f, / C threaded = %.3f\n",
                m.hostDriven / m.floor, m.hostDriven / m.raw, m.hostDriven / m.c);
  }
  if (voicecontrol::g_hdInFlightRatio > 0) {
    std::printf("64 in flight, host-driven: throughput / raw = %.2f, / threaded = %.2f\n",
                voicecontrol::g_hdInFlightRatio, voicecontrol::g_hdInFlightVsThreaded);
  }
  if (voicecontrol::g_hdKilobytesPerRequest > 0) {
    std::printf("1000 in flight, host-driven: %.1f KB resident per request\n",
                voicecontrol::g_hdKilobytesPerRequest);
  }
  curl_global_cleanup();
  fs::current_path(previous);
  fs::remove_all(logs);
  return 0;
}
