// A minimal voice server for trying the library out: it listens on
// 127.0.0.1, reads each command with the library's HttpXmlReq, and answers
// it with an HttpXmlRsp shaped like a real server's answer.
#ifndef VOICECONTROL_TOOLS_VOICECTL_RESPONDER_H_
#define VOICECONTROL_TOOLS_VOICECTL_RESPONDER_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/socket.h"
#include "platform/thread.h"

namespace voicectl {

class Responder {
 public:
  // `log` receives one line per command handled (on the responder's
  // thread).
  explicit Responder(std::function<void(const std::string&)> log);
  ~Responder();

  // Listens on a free loopback port and starts answering. False when no
  // port could be opened.
  bool Start();
  uint16_t port() const { return listener_.Port(); }

 private:
  void Serve();
  void Answer(voicecontrol::platform::TcpSocket& connection);

  std::function<void(const std::string&)> log_;
  voicecontrol::platform::TcpListener listener_;
  std::atomic<bool> stop_{false};
  voicecontrol::platform::Thread thread_;
};

}  // namespace voicectl

#endif  // VOICECONTROL_TOOLS_VOICECTL_RESPONDER_H_
