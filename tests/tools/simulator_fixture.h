// A VoiceController aimed at a fresh in-process SimulatedServer, for the
// simulator's tests.
#ifndef VOICECONTROL_TESTS_TOOLS_SIMULATOR_FIXTURE_H_
#define VOICECONTROL_TESTS_TOOLS_SIMULATOR_FIXTURE_H_

#include <gtest/gtest.h>

#include <string>

#include <voicecontrol/controller/VoiceController.h>
#include "controller/controller_testing.h"
#include "platform/socket.h"
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
    internal::ControllerTesting::SetReceiveTimeout(controller_, kReceiveTimeoutMs);
  }
#ifdef _WIN32
  // Under Wine every send and timed wait goes through the wine server: a
  // dribbled answer of fifteen pieces can take longer than 500 ms there.
  static constexpr int kReceiveTimeoutMs = 2000;
#else
  static constexpr int kReceiveTimeoutMs = 500;
#endif
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

// A raw client (the library's own sockets, on every platform): connects
// and sends `bytes`, then leaves the connection open.
inline platform::TcpSocket ConnectAndSend(uint16_t port, const std::string& bytes) {
  platform::TcpSocket socket;
  if (!socket.Create() || !socket.Connect("127.0.0.1", port, 5000)) return socket;
  if (!bytes.empty()) socket.Send(bytes.data(), bytes.size());
  return socket;
}

// Everything the server sends until it closes (at most 5 seconds).
inline std::string ReadToEnd(platform::TcpSocket& socket) {
  std::string data;
  char chunk[4096];
  while (socket.WaitReadable(5000) == platform::WaitResult::kReady) {
    const long n = socket.Receive(chunk, sizeof chunk);
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
