// voicectl record: a proxy between clients and a real server that writes
// every exchange into a cassette, for `voicectl serve --replay`.
#ifndef VOICECTL_RECORD_H_
#define VOICECTL_RECORD_H_

#include <atomic>
#include <cstdint>
#include <fstream>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "cassette.h"
#include "record_net.h"

namespace voicectl {

struct RecordOptions {
  std::string listenAddress = "127.0.0.1";  // dotted IPv4
  uint16_t listenPort = 0;                  // 0: a free one
  std::string upstreamAddress;              // dotted IPv4
  uint16_t upstreamPort = 0;
  std::string cassette;  // the file, replaced
  std::function<void(const std::string&)> log;  // one line per exchange; may be empty
};

class Recorder {
 public:
  // Creates the cassette and listens at once; throws std::runtime_error
  // when it cannot.
  explicit Recorder(RecordOptions options);
  ~Recorder();  // Stop()
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  uint16_t port() const { return port_; }
  // Ends every connection (an exchange still open is written as held) and
  // joins every thread. Idempotent.
  void Stop();

 private:
  struct Connection {
    std::thread thread;
    std::atomic<bool> done{false};
  };
  void AcceptLoop();
  void Serve(int client, const std::string& peer);
  bool ReadRequest(int client, std::string* request);
  void Write(const voicecontrol::testing::CassetteExchange& exchange);
  void Log(const std::string& line);

  const RecordOptions options_;
  std::ofstream cassette_;
  std::mutex writeMutex_;  // one line at a time, in the cassette and the log
  net::Waker waker_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::atomic<uint64_t> arrivals_{0};
  std::thread acceptThread_;
  std::list<std::unique_ptr<Connection>> connections_;  // the accept thread's
  std::mutex stopMutex_;
  bool stopped_ = false;
};

// `voicectl record`: records until SIGINT or SIGTERM; the exit status.
int RunRecord(const std::string& listen, const std::string& upstream, const std::string& cassette);

}  // namespace voicectl

#endif  // VOICECTL_RECORD_H_
