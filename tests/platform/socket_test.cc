#include "platform/socket.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/thread.h"

namespace voicecontrol {
namespace platform {
namespace {

// A connected pair over loopback: `client` connected to `server`.
struct Pair {
  TcpListener listener;
  TcpSocket client;
  TcpSocket server;
};

void Connect(Pair* pair) {
  ASSERT_TRUE(pair->listener.Listen());
  ASSERT_NE(pair->listener.Port(), 0);
  ASSERT_TRUE(pair->client.Create());
  ASSERT_TRUE(pair->client.Connect("127.0.0.1", pair->listener.Port()));
  pair->server = pair->listener.Accept(5000);
  ASSERT_TRUE(pair->server.IsOpen());
}

TEST(TcpSocketTest, CarriesBytesBothWaysAndSeesTheEndOfStream) {
  Pair pair;
  Connect(&pair);
  EXPECT_EQ(pair.client.Send("ping", 4), 4);
  ASSERT_EQ(pair.server.WaitReadable(5000), WaitResult::kReady);
  char buffer[16] = {};
  EXPECT_EQ(pair.server.Receive(buffer, sizeof buffer), 4);
  EXPECT_EQ(std::string(buffer), "ping");

  EXPECT_EQ(pair.server.Send("pong!", 5), 5);
  pair.server.Close();
  ASSERT_EQ(pair.client.WaitReadable(5000), WaitResult::kReady);
  EXPECT_EQ(pair.client.Receive(buffer, sizeof buffer), 5);
  ASSERT_EQ(pair.client.WaitReadable(5000), WaitResult::kReady);
  EXPECT_EQ(pair.client.Receive(buffer, sizeof buffer), 0);
}

TEST(TcpSocketTest, WaitTimesOutWhenNothingArrives) {
  Pair pair;
  Connect(&pair);
  EXPECT_EQ(pair.client.WaitReadable(0), WaitResult::kTimedOut);
  EXPECT_EQ(pair.client.WaitReadable(20), WaitResult::kTimedOut);
}

TEST(TcpSocketTest, RejectsAddressesInetAddrCannotRead) {
  TcpListener listener;
  ASSERT_TRUE(listener.Listen());
  for (const char* address : {"", "localhost", "127.0.0.256", "1.2.3.4.5", "255.255.255.255"}) {
    TcpSocket socket;
    ASSERT_TRUE(socket.Create());
    EXPECT_FALSE(socket.Connect(address, listener.Port())) << address;
    EXPECT_EQ(socket.lastError().kind, SocketError::Kind::kBadAddress) << address;
  }
  // inet_addr's shorter forms are accepted: 127.1 is 127.0.0.1.
  TcpSocket socket;
  ASSERT_TRUE(socket.Create());
  EXPECT_TRUE(socket.Connect("127.1", listener.Port()));
}

TEST(TcpSocketTest, ConnectToAClosedPortFails) {
  uint16_t port;
  {
    TcpListener listener;
    ASSERT_TRUE(listener.Listen());
    port = listener.Port();
  }
  for (const int64_t timeoutMs : {TcpSocket::kNoTimeLimit, int64_t{5000}}) {
    TcpSocket socket;
    ASSERT_TRUE(socket.Create());
    EXPECT_FALSE(socket.Connect("127.0.0.1", port, timeoutMs));
    EXPECT_EQ(socket.lastError().kind, SocketError::Kind::kSystem);
    // The same words on every platform.
    EXPECT_EQ(SocketErrorText(socket.lastError().code), "Connection refused");
  }
}

// A listener whose accept queue is full drops further connection requests
// without an answer; the system would retry them for minutes. The attempt
// must end at its own limit, and the socket must be usable (blocking) after
// a successful bounded connect.
TEST(TcpSocketTest, AConnectGetsNoLongerThanItsLimit) {
  TcpListener listener;
  ASSERT_TRUE(listener.Listen(0, 0));
  // Fill the queue: connections complete until it is full, then one hangs.
  std::vector<std::unique_ptr<TcpSocket>> queued;
  bool full = false;
  while (!full && queued.size() < 64) {
    auto filler = std::make_unique<TcpSocket>();
    ASSERT_TRUE(filler->Create());
    if (filler->Connect("127.0.0.1", listener.Port(), 300)) {
      queued.push_back(std::move(filler));
    } else {
      ASSERT_EQ(filler->lastError().kind, SocketError::Kind::kTimedOut);
      full = true;
    }
  }
  ASSERT_TRUE(full) << "the accept queue never filled";
  ASSERT_FALSE(queued.empty());

  int64_t worstMs = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    TcpSocket socket;
    ASSERT_TRUE(socket.Create());
    const int64_t start = MonotonicMilliseconds();
    EXPECT_FALSE(socket.Connect("127.0.0.1", listener.Port(), 400));
    const int64_t took = MonotonicMilliseconds() - start;
    EXPECT_EQ(socket.lastError().kind, SocketError::Kind::kTimedOut);
    EXPECT_GE(took, 390);
    worstMs = std::max(worstMs, took);
  }
  EXPECT_LT(worstMs, 400 + 1000);
  RecordProperty("worst_bounded_connect_ms_for_400", static_cast<int>(worstMs));

  // A queued connection is whole: it carries bytes once accepted.
  TcpSocket server = listener.Accept(5000);
  ASSERT_TRUE(server.IsOpen());
  EXPECT_EQ(queued.front()->Send("ping", 4), 4);
  ASSERT_EQ(server.WaitReadable(5000), WaitResult::kReady);
  char buffer[8] = {};
  EXPECT_EQ(server.Receive(buffer, sizeof buffer), 4);
  // Blocking again after the bounded connect: a read waits for data.
  EXPECT_EQ(server.Send("pong", 4), 4);
  EXPECT_EQ(queued.front()->Receive(buffer, sizeof buffer), 4);
  EXPECT_EQ(std::string(buffer, 4), "pong");
}

TEST(TcpSocketTest, SendingToAVanishedPeerFailsWithoutASignal) {
  Pair pair;
  Connect(&pair);
  pair.server.Close();
  // The first sends may still be taken; once the reset has arrived they
  // fail. Either way the process must survive.
  const std::string block(65536, 'x');
  long result = 0;
  for (int i = 0; i < 100 && result >= 0; ++i)
    result = pair.client.Send(block.data(), block.size());
  EXPECT_EQ(result, -1);
}

TEST(TcpSocketTest, ClosedSocketsRefuseEveryOperation) {
  TcpSocket socket;
  char byte;
  EXPECT_FALSE(socket.IsOpen());
  EXPECT_FALSE(socket.Connect("127.0.0.1", 1));
  EXPECT_EQ(socket.lastError().kind, SocketError::Kind::kSystem);
  EXPECT_EQ(socket.Send("x", 1), -1);
  EXPECT_EQ(socket.Receive(&byte, 1), -1);
  EXPECT_EQ(socket.WaitReadable(0), WaitResult::kFailed);
  socket.Close();  // harmless twice

  TcpListener listener;
  EXPECT_FALSE(listener.Accept(0).IsOpen());
  ASSERT_TRUE(listener.Listen());
  EXPECT_FALSE(listener.Accept(10).IsOpen());  // nobody connects
}

}  // namespace
}  // namespace platform
}  // namespace voicecontrol
