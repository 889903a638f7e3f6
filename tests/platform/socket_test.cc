#include "platform/socket.h"

#include <gtest/gtest.h>

#include <string>

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
  TcpSocket socket;
  ASSERT_TRUE(socket.Create());
  EXPECT_FALSE(socket.Connect("127.0.0.1", port));
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
