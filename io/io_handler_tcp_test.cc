// The TCP channel against loopback peers started by each test: one that answers and
// closes, one that streams without end, one that stays silent, one that resets, a port
// nobody listens on and a listener that never completes a handshake. The same cases run
// on every platform; the system's texts for refusal and reset differ, and under Wine a
// peer's reset reaches the client as an orderly end.
#include "io/io_handler_tcp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/error_test_support.h"
#include "base/text.h"
#include "io/loopback_peer_test_support.h"
#include "io/test_support.h"

namespace qvpa {
namespace {

using testing_io::CloseAndReadLog;
using testing_io::DumpLines;
using testing_io::HasLine;
using testing_io::LoopbackPeer;
using testing_io::PeerConnection;
using testing_io::TempDir;
using Clock = std::chrono::steady_clock;

constexpr int32_t kReadTimeout = 300;
// Upper bound for a read bounded by kReadTimeout, generous for a loaded machine.
constexpr auto kReadBound = std::chrono::seconds(5);

std::unique_ptr<kIOHandler_TCP> MakeChannel(const TempDir& dir, int port,
                                            int32_t read_timeout = kReadTimeout) {
  kConnection connection;
  connection.SetConnectionType(qvConnectionType::TCP);
  connection.SetAddress(u"127.0.0.1");
  connection.SetPort(port);
  connection.SetReadTimeOut(read_timeout);
  connection.SetConnectTimeOut(2000);
  return std::make_unique<kIOHandler_TCP>(connection, dir.u16(), u"TCP_TEST");
}

TEST(TcpChannelTest, ConnectLogsTheEndpointAndDoesNotReconnect) {
  // Each connection is greeted with its number; a reconnect would read "2".
  int connections = 0;
  LoopbackPeer peer([&connections](PeerConnection& c) {
    c.Send(std::to_string(++connections));
    c.AwaitClose();
  });
  TempDir dir;
  kConnection connection;
  connection.SetAddress(u"127.0.0.1");
  connection.SetPort(peer.port() + 0x10000);  // only the low 16 bits count
  auto channel = std::make_unique<kIOHandler_TCP>(connection, dir.u16(), u"TCP_TEST");
  channel->SetVersion(u"9.9");
  EXPECT_FALSE(channel->Connected());
  EXPECT_TRUE(channel->Connect());
  EXPECT_TRUE(channel->Connected());
  EXPECT_TRUE(channel->Connect());
  EXPECT_EQ(channel->ReadChars(1), u"1");
  EXPECT_TRUE(channel->Disconnect());
  EXPECT_FALSE(channel->Connected());

  const auto lines = CloseAndReadLog(channel);
  const std::string port = std::to_string(peer.port());
  const std::vector<std::string> banner = {
      " - *************************************************************",
      " - kIOHandler_TCP", " - 9.9", " - ConnectTimeout=1000", " - ReadTimeout=1000",
      " - Host=127.0.0.1", " - Port=" + port};
  ASSERT_EQ(lines.size(), 3 + 2 * banner.size()) << DumpLines(lines);
  for (size_t i = 0; i < banner.size(); ++i) {
    EXPECT_EQ(lines[1 + i], banner[i]);
    EXPECT_EQ(lines[1 + banner.size() + i], banner[i]);
  }
}

TEST(TcpChannelTest, ClosedPortFailsToConnectWithTheReason) {
  TempDir dir;
  auto channel = MakeChannel(dir, testing_io::ClosedLoopbackPort());
  EXPECT_FALSE(channel->Connect());
  EXPECT_FALSE(channel->Connected());
  EXPECT_FALSE(channel->ErrorFound());
  const auto lines = CloseAndReadLog(channel);
  const std::string refused = testing_io::RefusedConnectionText();
  EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                         [&refused](const std::string& l) {
                           return l.rfind(" - ERROR - Connect Error:Cannot connect to 127.0.0.1:", 0) == 0 &&
                                  l.find(refused) != std::string::npos;
                         }),
            lines.end())
      << DumpLines(lines);
}

TEST(TcpChannelTest, ConnectGivesUpAfterTheConnectTimeout) {
  testing_io::StalledListener listener;
  TempDir dir;
  kConnection connection;
  connection.SetAddress(u"127.0.0.1");
  connection.SetPort(listener.port());
  connection.SetConnectTimeOut(300);
  auto channel = std::make_unique<kIOHandler_TCP>(connection, dir.u16(), u"TCP_TEST");
  const auto start = Clock::now();
  EXPECT_FALSE(channel->Connect());
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_LT(Clock::now() - start, kReadBound);
  const auto lines = CloseAndReadLog(channel);
  EXPECT_TRUE(HasLine(lines, " - ERROR - Connect Timeout:")) << DumpLines(lines);
}

TEST(TcpChannelTest, ReadUpToStopsAtTheTerminatorAndLogsTheList) {
  LoopbackPeer peer([](PeerConnection& c) {
    c.Send("ABC\rDEF\n");
    c.AwaitClose();
  });
  TempDir dir;
  auto channel = MakeChannel(dir, peer.port());
  channel->SetHexLog(true);
  ASSERT_TRUE(channel->Connect());
  const uint8_t terminators[] = {13, 10};
  EXPECT_EQ(channel->ReadUpTo(terminators), u"ABC\r");
  EXPECT_EQ(channel->ReadUpTo(terminators), u"DEF\n");
  const auto lines = CloseAndReadLog(channel);
  EXPECT_TRUE(HasLine(lines, " - Waiting for:\r,\n [0d,0a]")) << DumpLines(lines);
  EXPECT_TRUE(HasLine(lines, " - Read:ABC\r [41 42 43 0d]")) << DumpLines(lines);
  EXPECT_TRUE(HasLine(lines, " - Read:DEF\n [44 45 46 0a]")) << DumpLines(lines);
}

TEST(TcpChannelTest, ReadAllReturnsTheWholeReplyOfAPeerThatCloses) {
  LoopbackPeer peer([](PeerConnection& c) { c.Send("STATUS OK\r\nBYE"); });
  TempDir dir;
  auto channel = MakeChannel(dir, peer.port(), 5000);
  ASSERT_TRUE(channel->Connect());
  EXPECT_EQ(channel->ReadAll(), u"STATUS OK\r\nBYE");
  EXPECT_FALSE(channel->Connected());
  const auto lines = CloseAndReadLog(channel);
  EXPECT_TRUE(HasLine(lines, " - Read:STATUS OK")) << DumpLines(lines);
  EXPECT_TRUE(HasLine(lines, "BYE")) << DumpLines(lines);
}

TEST(TcpChannelTest, EveryByteValueArrivesAsTheSameCharacterCode) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  LoopbackPeer peer([&all](PeerConnection& c) {
    c.Send(all + all);
    c.AwaitClose();
  });
  TempDir dir;
  auto channel = MakeChannel(dir, peer.port(), 5000);
  ASSERT_TRUE(channel->Connect());
  const std::u16string text = channel->ReadChars(256);
  ASSERT_EQ(text.size(), 256u);
  for (int b = 0; b < 256; ++b) EXPECT_EQ(text[b], static_cast<char16_t>(b)) << b;
  const std::vector<uint8_t> bytes = channel->ReadBytes(256);
  ASSERT_EQ(bytes.size(), 256u);
  for (int b = 0; b < 256; ++b) EXPECT_EQ(bytes[b], b);
}

TEST(TcpChannelTest, SilentPeerEndsEveryReadAfterTheReadTimeout) {
  LoopbackPeer peer([](PeerConnection& c) {
    c.Send("XY");
    c.AwaitClose();
  });
  TempDir dir;
  auto channel = MakeChannel(dir, peer.port());
  ASSERT_TRUE(channel->Connect());

  auto start = Clock::now();
  EXPECT_EQ(channel->ReadChars(3), u"XY");  // two of three, then the time-out
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(kReadTimeout));
  EXPECT_LT(Clock::now() - start, kReadBound);

  const uint8_t cr[] = {13};
  start = Clock::now();
  EXPECT_EQ(channel->ReadUpTo(cr), u"");
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(kReadTimeout));
  EXPECT_LT(Clock::now() - start, kReadBound);

  start = Clock::now();
  EXPECT_EQ(channel->ReadAll(), u"");
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(kReadTimeout));
  EXPECT_LT(Clock::now() - start, kReadBound);

  EXPECT_EQ(ErrorOf([&] { channel->ReadBytes(1); }), u"Read timed out");
  EXPECT_FALSE(channel->ErrorFound());
  const auto lines = CloseAndReadLog(channel);
  EXPECT_TRUE(HasLine(lines, " - ERROR - Read Timeout:XY")) << DumpLines(lines);
  EXPECT_TRUE(HasLine(lines, " - ERROR - ReadUpTo Unexpected error:Read timed out")) << DumpLines(lines);
  EXPECT_TRUE(HasLine(lines, " - ERROR - ReadAll Unexpected error:Read timed out")) << DumpLines(lines);
}

TEST(TcpChannelTest, StreamingPeerWithoutTerminatorEndsByTime) {
  LoopbackPeer peer([](PeerConnection& c) {
    const std::string chunk(16, 'z');
    while (c.Send(chunk)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  TempDir dir;
  auto channel = MakeChannel(dir, peer.port(), 100);
  ASSERT_TRUE(channel->Connect());
  // The stream has begun (a loaded machine may take longer than one read time-out to start it).
  const auto deadline = Clock::now() + kReadBound;
  while (!channel->InputBufferContainsData() && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const uint8_t cr[] = {13};
  for (int round = 0; round < 2; ++round) {
    const auto start = Clock::now();
    const std::u16string text = round == 0 ? channel->ReadUpTo(cr) : channel->ReadAll();
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_LT(Clock::now() - start, kReadBound);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find_first_not_of(u'z'), std::u16string::npos);
  }
  channel->Disconnect();
  const auto lines = CloseAndReadLog(channel);
  const auto timeouts = std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.rfind(" - ERROR - Read Timeout:zzz", 0) == 0;
  });
  EXPECT_EQ(timeouts, 2) << DumpLines(lines);
}

TEST(TcpChannelTest, ResetConnectionIsLoggedNotThrown) {
  LoopbackPeer peer([](PeerConnection& c) {
    c.Send("AB");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    c.ResetOnClose();
  });
  TempDir dir;
  auto channel = MakeChannel(dir, peer.port(), 5000);
  ASSERT_TRUE(channel->Connect());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto start = Clock::now();
  channel->ReadAll();
  EXPECT_LT(Clock::now() - start, kReadBound);
  EXPECT_EQ(channel->ReadChars(5), u"");
  const auto lines = CloseAndReadLog(channel);
  if (!testing_io::ResetReachesTheClient()) {
    // The reset arrives as an orderly end: what was sent is read, then the connection is gone.
    EXPECT_TRUE(HasLine(lines, " - Read:AB")) << DumpLines(lines);
    EXPECT_TRUE(HasLine(lines, " - ERROR - ReadChars Unexpected error:Connection closed by peer")) << DumpLines(lines);
    return;
  }
  const std::string reset_text = testing_io::ResetConnectionText();
  const auto reset = [&reset_text](const std::string& l) { return l.find(reset_text) != std::string::npos; };
  EXPECT_NE(std::find_if(lines.begin(), lines.end(), reset), lines.end()) << DumpLines(lines);
  EXPECT_TRUE(HasLine(lines, " - ERROR - ReadChars Unexpected error:Connection closed by peer") ||
              std::count_if(lines.begin(), lines.end(), reset) == 2)
      << DumpLines(lines);
}

TEST(TcpChannelTest, WritesSendTextInTheCodePageAndRefuseWhatItCannotHold) {
  std::mutex mutex;
  std::string received;
  {
    LoopbackPeer peer([&](PeerConnection& c) {
      const std::string all = c.ReceiveAll();
      std::lock_guard<std::mutex> lock(mutex);
      received = all;
    });
    TempDir dir;
    auto channel = MakeChannel(dir, peer.port());
    ASSERT_TRUE(channel->Connect());
    EXPECT_TRUE(channel->Write(u"\u00e9\u00ff|"));
    EXPECT_EQ(ErrorOf([&] { channel->Write(u"\u20ac"); }),
              u"Character \"\u20ac\" (U+20AC) has no byte in one byte per character");
    channel->SetCodePage(1252);
    EXPECT_TRUE(channel->Write(u"\u20ac|"));
    channel->SetCodePage(437);
    EXPECT_EQ(ErrorOf([&] { channel->Write(u"\u20ac"); }),
              u"Character \"\u20ac\" (U+20AC) has no byte in code page 437");
    EXPECT_TRUE(channel->WriteBytes({0x02, 0x80, 0x03}));
    channel->Disconnect();
    const auto lines = CloseAndReadLog(channel);
    EXPECT_TRUE(HasLine(lines, " - Write:\xc3\xa9\xc3\xbf|")) << DumpLines(lines);
    EXPECT_TRUE(HasLine(lines, " - Write:\x02\xc2\x80\x03")) << DumpLines(lines);
  }
  EXPECT_EQ(received, "\xe9\xff|\x80|\x02\x80\x03");
}

TEST(TcpChannelTest, BufferCallsSeeWhatHasArrived) {
  LoopbackPeer peer([](PeerConnection& c) {
    c.Send("OLD");
    c.Receive(1);
    c.Send("NEW");
    c.AwaitClose();
  });
  TempDir dir;
  auto channel = MakeChannel(dir, peer.port(), 5000);
  ASSERT_TRUE(channel->Connect());
  const auto deadline = Clock::now() + kReadBound;
  while (!channel->InputBufferContainsData() && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(channel->InputBufferContainsData());
  channel->ClearBuffers();
  EXPECT_FALSE(channel->InputBufferContainsData());
  channel->Write(u"!");
  EXPECT_EQ(channel->ReadChars(3), u"NEW");
}

TEST(TcpChannelTest, ReadsAndBufferCallsBeforeConnectAreRefused) {
  TempDir dir;
  auto channel = MakeChannel(dir, 1);
  const std::u16string refusal = u"TCP channel to 127.0.0.1:1 has no connection: call Connect first";
  const uint8_t cr[] = {13};
  EXPECT_EQ(ErrorOf([&] { channel->ReadChars(1); }), refusal);
  EXPECT_EQ(ErrorOf([&] { channel->ReadUpTo(cr); }), refusal);
  EXPECT_EQ(ErrorOf([&] { channel->ReadAll(); }), refusal);
  EXPECT_EQ(ErrorOf([&] { channel->ReadBytes(1); }), refusal);
  EXPECT_EQ(ErrorOf([&] { channel->ClearBuffers(); }), refusal);
  EXPECT_EQ(ErrorOf([&] { channel->InputBufferContainsData(); }), refusal);
  EXPECT_EQ(ErrorOf([&] { channel->Write(u"x"); }), refusal);
  EXPECT_FALSE(channel->Connected());
  EXPECT_TRUE(channel->Disconnect());
}

}  // namespace
}  // namespace qvpa
