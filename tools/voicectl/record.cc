#include "record.h"
#include "stop_signals.h"

#include <signal.h>

#include <chrono>
#include <iostream>
#include <stdexcept>

#include "client.h"
#include "exchange.h"

namespace voicectl {

namespace {

using voicecontrol::testing::CassetteExchange;
using voicecontrol::testing::RecordedAnswer;
using SteadyClock = std::chrono::steady_clock;

constexpr int kReadDeadlineMs = 5000;   // for the client's request, as the simulator
constexpr int kConnectTimeoutMs = 5000;  // the library's default
// How long an upstream that neither answers nor closes is waited for; the
// simulator holds such a connection 30 s.
constexpr int kHoldLimitMs = 60000;
// How long the upstream's end is still waited for once the client has gone,
// so that an answer the client had read whole is recorded with the end the
// upstream gave it rather than as held.
constexpr int kGraceMs = 1000;

int64_t MsSince(SteadyClock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start)
      .count();
}

int RemainingMs(SteadyClock::time_point deadline) {
  const int64_t left = -MsSince(deadline);
  return static_cast<int>(left < 0 ? 0 : left);
}

}  // namespace

Recorder::Recorder(RecordOptions options) : options_(std::move(options)) {
  cassette_.open(options_.cassette, std::ios::binary | std::ios::trunc);
  if (!cassette_) throw std::runtime_error("cannot write the cassette " + options_.cassette);
  if (!waker_.Open()) throw std::runtime_error("no descriptor left for a pipe");
  std::string error;
  listenFd_ = net::Listen(options_.listenAddress, options_.listenPort, &port_, &error);
  if (listenFd_ < 0) throw std::runtime_error(error);
  acceptThread_ = std::thread(&Recorder::AcceptLoop, this);
}

Recorder::~Recorder() { Stop(); }

void Recorder::Stop() {
  std::lock_guard<std::mutex> lock(stopMutex_);
  if (stopped_) return;
  stopped_ = true;
  waker_.Wake();
  acceptThread_.join();
  for (auto& connection : connections_) connection->thread.join();
  connections_.clear();
  net::Close(listenFd_, false);
}

void Recorder::AcceptLoop() {
  for (;;) {
    std::string peer;
    const int client = net::Accept(listenFd_, waker_, &peer);
    if (client < 0) return;
    // Finished connections are joined here, so that threads do not pile up
    // over a long recording.
    connections_.remove_if([](const std::unique_ptr<Connection>& c) {
      if (!c->done) return false;
      c->thread.join();
      return true;
    });
    connections_.push_back(std::make_unique<Connection>());
    Connection* self = connections_.back().get();
    self->thread = std::thread([this, client, peer, self] {
      Serve(client, peer);
      self->done = true;
    });
  }
}

// Reads one request whole, as the simulator frames it: the header block,
// then as many bytes as Content-Length says.
bool Recorder::ReadRequest(int client, std::string* request) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(kReadDeadlineMs);
  voicecontrol::testing::RequestHead head;
  char chunk[16384];
  for (;;) {
    if (voicecontrol::testing::ReadHead(*request, &head)) {
      if (!head.contentLength) return true;  // the upstream judges it
      const size_t whole = head.headerEnd + *head.contentLength;
      if (request->size() >= whole) {
        request->resize(whole);
        return true;
      }
    }
    if (request->size() > voicecontrol::testing::kMaxRequestBytes) return true;
    if (net::WaitReadable(client, -1, waker_, RemainingMs(deadline)) != net::Ready::kFirst) {
      return false;
    }
    bool reset = false;
    const long n = net::Receive(client, chunk, sizeof chunk, &reset);
    if (n == net::kNothingYet) continue;
    if (n <= 0) return false;
    request->append(chunk, static_cast<size_t>(n));
  }
}

// One exchange: the request to the upstream, its answer back to the client
// as it comes, and the way the upstream ended passed on too.
void Recorder::Serve(int client, const std::string& peer) {
  CassetteExchange exchange;
  if (!ReadRequest(client, &exchange.request)) {
    net::Close(client, false);
    Log(peer + " no whole request: nothing recorded");
    return;
  }
  exchange.number = ++arrivals_;
  exchange.arrivedAtMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
  std::string error;
  const int upstream =
      net::Connect(options_.upstreamAddress, options_.upstreamPort, kConnectTimeoutMs, &error);
  if (upstream < 0) {
    // The client sees the failure as it would see an upstream that closes
    // without a word; the cassette holds only the upstream's own answers.
    net::Close(client, false);
    Log(peer + " upstream " + options_.upstreamAddress + ":" +
        std::to_string(options_.upstreamPort) + " unreachable (" + error + "): nothing recorded");
    return;
  }
  const auto sent = SteadyClock::now();
  bool clientGone = !net::SendAll(upstream, exchange.request.data(), exchange.request.size());
  exchange.end = RecordedAnswer::End::kHold;
  auto deadline = sent + std::chrono::milliseconds(kHoldLimitMs);
  char chunk[16384];
  for (bool ended = false; !ended;) {
    const net::Ready ready =
        net::WaitReadable(upstream, clientGone ? -1 : client, waker_, RemainingMs(deadline));
    bool reset = false;
    if (ready == net::Ready::kFirst) {
      const long n = net::Receive(upstream, chunk, sizeof chunk, &reset);
      if (n == net::kNothingYet) continue;
      if (n <= 0) {
        exchange.end = reset ? RecordedAnswer::End::kReset : RecordedAnswer::End::kClose;
        ended = true;
        continue;
      }
      if (!exchange.firstByteMs) exchange.firstByteMs = MsSince(sent);
      exchange.answer.append(chunk, static_cast<size_t>(n));
      if (!clientGone && !net::SendAll(client, chunk, static_cast<size_t>(n))) clientGone = true;
    } else if (ready == net::Ready::kSecond) {
      // Anything the client sends after its request is not part of it; its
      // end means it stopped waiting.
      const long n = net::Receive(client, chunk, sizeof chunk, &reset);
      if (n == 0 || n == -1) {
        clientGone = true;
        deadline = std::min(deadline, SteadyClock::now() + std::chrono::milliseconds(kGraceMs));
      }
    } else {
      ended = true;  // stopping, or the limit passed: held
    }
  }
  exchange.upstreamMs = MsSince(sent);
  net::Close(upstream, false);
  net::Close(client, exchange.end == RecordedAnswer::End::kReset);
  Write(exchange);
  Log(peer + " exchange " + std::to_string(exchange.number) + ": " +
      std::to_string(exchange.request.size()) + " bytes -> " +
      std::to_string(exchange.answer.size()) + " bytes in " + std::to_string(exchange.upstreamMs) +
      " ms, " +
      (exchange.end == RecordedAnswer::End::kClose   ? "closed"
       : exchange.end == RecordedAnswer::End::kReset ? "reset"
                                                     : "held"));
}

void Recorder::Write(const CassetteExchange& exchange) {
  const std::string line = voicecontrol::testing::CassetteLine(exchange);
  std::lock_guard<std::mutex> lock(writeMutex_);
  // Each line whole on disk at once: a recorder killed outright still
  // leaves a cassette that plays.
  cassette_ << line << '\n' << std::flush;
}

void Recorder::Log(const std::string& line) {
  if (!options_.log) return;
  std::lock_guard<std::mutex> lock(writeMutex_);
  options_.log(line);
}

int RunRecord(const std::string& listen, const std::string& upstream,
              const std::string& cassette) {
  RecordOptions options;
  std::string host, error;
  if (!ParseHostPort(listen, 0, &host, &options.listenPort, &error) ||
      !ResolveIpv4(host, &options.listenAddress, &error)) {
    std::cerr << "voicectl record: --listen: " << error << "\n";
    return kExitUsage;
  }
  if (!ParseHostPort(upstream, 1, &host, &options.upstreamPort, &error) ||
      !ResolveIpv4(host, &options.upstreamAddress, &error)) {
    std::cerr << "voicectl record: --upstream: " << error << "\n";
    return kExitUsage;
  }
  options.cassette = cassette;
  options.log = [](const std::string& line) {
    std::cerr << "voicectl record: " + line + "\n" << std::flush;
  };
  // Before the recorder starts its threads, so that they leave the stop
  // signals to this one.
  StopSignalWait stopSignals;
  std::unique_ptr<Recorder> recorder;
  try {
    recorder = std::make_unique<Recorder>(options);
  } catch (const std::exception& e) {
    std::cerr << "voicectl record: " << e.what() << "\n";
    return kExitError;
  }
  std::cout << "listening on " << options.listenAddress << ":" << recorder->port()
            << " (recording " << options.upstreamAddress << ":" << options.upstreamPort
            << " into " << cassette << ")" << std::endl;
  const int signal = stopSignals.Wait();
  std::cerr << "voicectl record: stopping on signal " << signal << "\n";
  recorder->Stop();
  return 0;
}

}  // namespace voicectl
