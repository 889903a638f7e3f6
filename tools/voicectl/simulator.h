// A simulated voice server: accepts HTTP/1.1 command requests on a loopback
// TCP port, answers them from a SessionModel, and can be told to misbehave
// in the ways a host's error paths need to see.
#ifndef VOICECTL_SIMULATOR_H_
#define VOICECTL_SIMULATOR_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "session_model.h"

namespace voicectl {

struct Faults {
  int delayMs = 0;              // wait this long before answering
  bool closeEarly = false;      // close the connection right after reading the request
  bool noAnswer = false;        // keep the connection open, never answer
  int status = 200;             // HTTP status code of the answer
  bool http10 = false;          // answer with an HTTP/1.0 status line
  std::optional<int> flowId;    // FlowID to put in the answer instead of the right one
  std::optional<int> fieldNum;  // FieldNum to put in the answer instead of the right one
  bool garbage = false;         // a body that is not an interface message
  bool oversize = false;        // an answer of more than 80 KB
  bool partial = false;         // headers, then never the body

  std::string Describe() const;  // e.g. "delay=200 status=299", or "none"
};

class Simulator {
 public:
  Simulator() = default;
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Listens on host:port (port 0 picks a free one). Returns false with a
  // message in *error when the address cannot be bound.
  bool Start(const std::string& host, uint16_t port, std::string* error);
  uint16_t port() const { return port_; }

  // Stops accepting, ends every open connection and waits for their threads.
  void Stop();

  void SetFaults(const Faults& faults);
  Faults faults();
  // Whether each exchange is logged on one line to stderr.
  void SetLogging(bool on) { logging_ = on; }

 private:
  void AcceptLoop();
  void Serve(int fd, std::string peer);
  bool WaitUntilStopped(int milliseconds);
  void Log(const std::string& line);

  SessionModel model_;
  std::mutex mutex_;
  std::condition_variable changed_;
  Faults faults_;
  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};  // a pipe that wakes the accept loop on Stop
  uint16_t port_ = 0;
  bool stopping_ = false;
  int activeConnections_ = 0;
  std::atomic<bool> logging_{true};
  std::thread acceptThread_;
};

}  // namespace voicectl

#endif  // VOICECTL_SIMULATOR_H_
