// Channel throughput against real peers: the TCP channel on loopback, the serial
// channel over a pseudo-terminal set to 115200 baud, and raw spool jobs on a private
// CUPS scheduler. Each has its floor beside it: the same bytes read with plain system
// calls, or the scheduler's cheapest round trip.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "io/cups_test_server.h"
#include "io/io_handler_serial.h"
#include "io/io_handler_spool.h"
#include "io/io_handler_tcp.h"
#include "io/loopback_peer_test_support.h"
#include "io/pty_peer.h"

namespace qvpa {
namespace {

using testing_io::LoopbackPeer;
using testing_io::PeerConnection;

// Sends aChunk over and over until the reader goes away.
void Stream(PeerConnection& aConnection, const std::string& aChunk) {
  while (aConnection.Send(aChunk)) {
  }
}

std::unique_ptr<kIOHandler_TCP> TcpChannel(int port) {
  kConnection connection;
  connection.SetAddress(u"127.0.0.1");
  connection.SetPort(port);
  connection.SetReadTimeOut(5000);
  auto channel = std::make_unique<kIOHandler_TCP>(connection, u"", u"");  // no log: the channel alone
  channel->Connect();
  return channel;
}

void BM_TcpReadChars(benchmark::State& state) {
  LoopbackPeer peer([](PeerConnection& c) { Stream(c, std::string(4096, 'x')); });
  auto channel = TcpChannel(peer.port());
  const int32_t count = static_cast<int32_t>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(channel->ReadChars(count));
  state.SetBytesProcessed(state.iterations() * count);
  channel.reset();
}
BENCHMARK(BM_TcpReadChars)->Arg(64)->Arg(4096)->UseRealTime();

void BM_TcpReadUpTo(benchmark::State& state) {
  LoopbackPeer peer([](PeerConnection& c) { Stream(c, std::string(63, 'x') + "\n"); });
  auto channel = TcpChannel(peer.port());
  const uint8_t lf[] = {10};
  for (auto _ : state) benchmark::DoNotOptimize(channel->ReadUpTo(lf));
  state.SetBytesProcessed(state.iterations() * 64);
  channel.reset();
}
BENCHMARK(BM_TcpReadUpTo)->UseRealTime();

// Floor: the same stream read with recv into a 4 KiB buffer.
void BM_TcpRecvFloor(benchmark::State& state) {
  LoopbackPeer peer([](PeerConnection& c) { Stream(c, std::string(4096, 'x')); });
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(peer.port()));
  ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  char buffer[4096];
  int64_t bytes = 0;
  for (auto _ : state) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    bytes += n > 0 ? n : 0;
  }
  state.SetBytesProcessed(bytes);
  ::close(fd);
}
BENCHMARK(BM_TcpRecvFloor)->UseRealTime();

void BM_SerialReadChars(benchmark::State& state) {
  testing_io::PtyPeer pty;
  kConnection connection;
  connection.SetSerialPort(u"COM5");
  connection.SetSpeed(115200);
  connection.SetDataBits(8);
  connection.SetStopBits(1);
  connection.SetReadTimeOut(5000);
  kIOHandler_Serial channel(connection, u"", u"");
  channel.Connect();
  std::atomic<bool> stop{false};
  std::thread device([&] {
    const std::string chunk(256, 'x');
    while (!stop) pty.Send(chunk);
  });
  const int32_t count = static_cast<int32_t>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(channel.ReadChars(count));
  state.SetBytesProcessed(state.iterations() * count);
  stop = true;
  channel.Disconnect();  // the device's blocked write fails once the port is gone
  pty.CloseMaster();
  device.join();
}
BENCHMARK(BM_SerialReadChars)->Arg(256)->UseRealTime();

// Floor for the serial channel: reads of up to 256 bytes straight from the same port.
void BM_SerialReadFloor(benchmark::State& state) {
  testing_io::PtyPeer pty;
  TComPort port(5, 115200);
  port.Open();
  std::atomic<bool> stop{false};
  std::thread device([&] {
    const std::string chunk(256, 'x');
    while (!stop) pty.Send(chunk);
  });
  char buffer[256];
  int64_t bytes = 0;
  for (auto _ : state) {
    uint32_t mask = 0;
    const int32_t n = port.Read(buffer, sizeof buffer, 100, mask);
    bytes += n > 0 ? n : 0;
  }
  state.SetBytesProcessed(bytes);
  stop = true;
  port.Close();
  pty.CloseMaster();
  device.join();
}
BENCHMARK(BM_SerialReadFloor)->UseRealTime();

testing_io::CupsTestServer& Cups() {
  static testing_io::CupsTestServer server;
  return server;
}

void BM_SpoolRawJob(benchmark::State& state) {
  if (!Cups().running()) {
    state.SkipWithError("cupsd did not start (needs root)");
    return;
  }
  kConnection connection;
  connection.SetPrinterName(u"Receipt");
  kIOHandler_Spool channel(connection, u"", u"");
  channel.SetOutputType(qvSpoolOutputType::Raw);
  const std::u16string receipt(1024, u'r');
  for (auto _ : state) {
    if (!channel.Write(receipt)) state.SkipWithError("job refused");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SpoolRawJob)->Unit(benchmark::kMillisecond)->UseRealTime();

// Floor: one request and answer with the scheduler (the printer's state).
void BM_SpoolRoundTripFloor(benchmark::State& state) {
  if (!Cups().running()) {
    state.SkipWithError("cupsd did not start (needs root)");
    return;
  }
  for (auto _ : state) {
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 "ipp://localhost/printers/Receipt");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "printer-state");
    ippDelete(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/"));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SpoolRoundTripFloor)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace qvpa
