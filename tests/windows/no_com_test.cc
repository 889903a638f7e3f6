// A host that never initialised COM: the DOM service cannot be created on
// the receive thread, and the library says so ("init http parse.", with the
// reason as the detail) instead of taking the answer for a bad message.
//
// This program has a main of its own, which initialises Windows Sockets but
// not COM, so that no thread of the process belongs to an apartment.
// winsock2.h has to come before anything that pulls in windows.h.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <voicecontrol/controller/VoiceController.h>
#include <voicecontrol/interface/HttpXmlReq.h>
#include <voicecontrol/interface/dom.h>
#include "controller/request_sink.h"
#include "interface/error_detail.h"

namespace voicecontrol {
namespace {

constexpr char kNoCom[] = "COM is not initialised on this thread";

TEST(NoComTest, AnAnswerCannotBeCreated) {
  internal::TakeErrorDetail();
  HttpXmlRsp answer;
  EXPECT_EQ(answer.CreateBody(), -1);
  EXPECT_EQ(internal::TakeErrorDetail(), kNoCom);
}

TEST(NoComTest, ADocumentCannotBeLoaded) {
  DomDocument dom;
  EXPECT_FALSE(dom.Prepare());
  EXPECT_EQ(internal::TakeErrorDetail(), kNoCom);
  EXPECT_TRUE(dom.LoadXml(L"<a/>").IsEmpty());
  EXPECT_EQ(internal::TakeErrorDetail(), kNoCom);
}

// Requests need no DOM: a command is still built and sent.
TEST(NoComTest, ARequestIsStillMade) {
  HttpXmlReq request;
  ASSERT_EQ(request.CreateBody(), 0);
  request.SetMethod(kHttpXmlQall);
  request.SetSeqNo(1);
  request.SetFlowID(1004);
  request.SetFieldNum(0);
  std::string text;
  EXPECT_EQ(request.Serialize(&text), 0);
}

class RecordingSink : public internal::RequestSink {
 public:
  RecordingSink() = default;

  void OnError(std::wstring text) override { Record(L"error: " + text); }
  void OnCommandResult(int32_t, int32_t, std::wstring) override { Record(L"result"); }
  void OnQAllEmpty() override { Record(L"qall empty"); }

  // The first outcome, waiting up to 10 seconds for it.
  std::wstring WaitForOutcome() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [this] { return !outcome_.empty(); });
    return outcome_;
  }

 private:
  void OnEntry(QAllEntry) override { Record(L"qall entry"); }
  void OnValues(QSingleValues) override { Record(L"qsingle"); }

  void Record(std::wstring outcome) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (outcome_.empty()) outcome_ = std::move(outcome);
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::wstring outcome_;
};

// One loopback connection answered with an empty QALL answer.
class OneAnswerServer {
 public:
  OneAnswerServer() {
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 1);
    int size = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~OneAnswerServer() {
    closesocket(listener_);
    thread_.join();
  }

  uint16_t port() const { return port_; }

 private:
  void Serve() {
    const SOCKET connection = accept(listener_, nullptr, nullptr);
    if (connection == INVALID_SOCKET) return;
    char request[4096];
    recv(connection, request, sizeof request, 0);
    const std::string body =
        "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<Interface>\n<Response>\n"
        "<Seq_No>1</Seq_No>\n<FlowID>1004</FlowID>\n<FieldNum>9</FieldNum>\n<Field>\n"
        "<Field_Value>0</Field_Value>\n</Field>\n</Response>\n</Interface>";
    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: " +
                               std::to_string(body.size()) + "\r\n\r\n" + body;
    send(connection, answer.data(), static_cast<int>(answer.size()), 0);
    closesocket(connection);
  }

  SOCKET listener_;
  uint16_t port_ = 0;
  std::thread thread_;
};

TEST(NoComTest, TheHostIsToldInitHttpParse) {
  OneAnswerServer server;
  RecordingSink sink;
  {
    VoiceController controller(&sink);
    controller.serverAddress = "127.0.0.1";
    controller.serverPort = server.port();
    controller.QAll();
    EXPECT_EQ(sink.WaitForOutcome(), L"error: init http parse.");
  }
}

}  // namespace
}  // namespace voicecontrol

int main(int argc, char** argv) {
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
    std::fprintf(stderr, "WSAStartup failed\n");
    return 1;
  }
  testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  WSACleanup();
  return result;
}
