// A VoiceController aimed at a fresh in-process SimulatedServer, for the
// simulator's tests.
#ifndef VOICECONTROL_TESTS_TOOLS_SIMULATOR_FIXTURE_H_
#define VOICECONTROL_TESTS_TOOLS_SIMULATOR_FIXTURE_H_

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include <voicecontrol/controller/VoiceController.h>
#include "controller/controller_testing.h"
#include <voicecontrol/testing/simulator.h>

#include "../controller/test_support.h"

namespace voicecontrol {
namespace testing {

// A controller aimed at a fresh server, with a short receive deadline so
// that faults that never answer end quickly.
class SimulatorTest : public ::testing::Test {
 protected:
  SimulatorTest() {
    controller_.serverAddress = server_.address();
    controller_.serverPort = server_.port();
    internal::ControllerTesting::SetReceiveTimeout(controller_, 500);
  }
  // Runs one command to its outcome.
  template <typename Command>
  std::string Outcome(Command command) {
    const size_t before = sink_.events().size();
    command(controller_);
    const auto events = sink_.WaitFor(before + 1);
    return events.size() > before ? events[before] : "no outcome";
  }
  std::string QAll() {
    return Outcome([](VoiceController& c) { c.QAll(); });
  }

  SimulatedServer server_;
  RecordingSink sink_;
  VoiceController controller_{&sink_};
};

// A raw client: connects and sends `bytes`, then leaves the connection open.
inline int ConnectAndSend(uint16_t port, const std::string& bytes) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return -1;
  if (!bytes.empty()) (void)!send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  return fd;
}

// Everything the server sends until it closes (at most 5 seconds).
inline std::string ReadToEnd(int fd) {
  std::string data;
  char chunk[4096];
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, 5000) == 1) {
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    data.append(chunk, static_cast<size_t>(n));
  }
  return data;
}

inline std::string CommandRequest(const std::string& method, int flowId, const std::string& value) {
  const std::string body =
      "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<Interface>\n<Request>\n<Seq_No>1</Seq_No>\n"
      "<FlowID>" + std::to_string(flowId) + "</FlowID>\n<FieldNum>4</FieldNum>\n<Field>\n"
      "<Field_Value>" + value + "</Field_Value>\n<Field_Value>o</Field_Value>\n"
      "<Field_Value>" + value + "</Field_Value>\n<Field_Value>m</Field_Value>\n</Field>\n"
      "</Request>\n</Interface>";
  return method + " /MyURL/ HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nHost: Host\r\n\r\n" + body;
}

}  // namespace testing
}  // namespace voicecontrol

#endif  // VOICECONTROL_TESTS_TOOLS_SIMULATOR_FIXTURE_H_
