#include "io/io_handler_tcp.h"

#include <chrono>
#include <cstdint>

#include "base/error.h"
#include "base/text.h"
#include "io/code_page.h"
#include "io/tcp_socket.h"

namespace qvpa {

namespace {

constexpr char16_t kReadTimedOut[] = u"Read timed out";
constexpr char16_t kPeerClosed[] = u"Connection closed by peer";

// Whole milliseconds since a start.
class Stopwatch {
 public:
  int64_t ElapsedMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now() - start_)
        .count();
  }
  // What is left until more than aLimitMs have passed (never negative).
  int32_t WaitWithin(int32_t aLimitMs) const {
    const int64_t left = static_cast<int64_t>(aLimitMs) + 1 - ElapsedMs();
    return left > 0 ? static_cast<int32_t>(left) : 0;
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace

kIOHandler_TCP::kIOHandler_TCP(const kConnection& aConnection, const std::u16string& aDirectory,
                               const std::u16string& aFileName)
    : kIOHandler(&aConnection, aDirectory, aFileName),
      fHost(aConnection.Address()),
      fPort(static_cast<uint16_t>(aConnection.Port() & 0xFFFF)) {}

kIOHandler_TCP::~kIOHandler_TCP() { fTCPClient.reset(); }

TcpSocket& kIOHandler_TCP::Socket() {
  if (!fTCPClient) {
    throw EQVError(u"TCP channel to " + fHost + u":" + IntToStr(fPort) +
                   u" has no connection: call Connect first");
  }
  return *fTCPClient;
}

bool kIOHandler_TCP::GetConnected() {
  try {
    return fTCPClient && fTCPClient->Connected();
  } catch (...) {
    return false;
  }
}

bool kIOHandler_TCP::Connect() {
  kIOHandler::Connect();
  Debug(tQV_MessageType::let_info, u"Host=" + fHost);
  Debug(tQV_MessageType::let_info, u"Port=" + IntToStr(fPort));
  try {
    if (!fTCPClient) fTCPClient = std::make_unique<TcpSocket>();
    if (!fTCPClient->Connected()) fTCPClient->Connect(ToUtf8(fHost), fPort, ConnectTimeout());
    const bool connected = fTCPClient->Connected();
    if (!connected) WriteLog(tQV_MessageType::let_error, u"Connect Timeout", u"");
    return connected;
  } catch (const EQVError& e) {
    WriteLog(tQV_MessageType::let_error, u"Connect Error", e.Message());
    return false;
  }
}

bool kIOHandler_TCP::Disconnect() {
  if (GetConnected()) fTCPClient->Close();
  return !GetConnected();
}

void kIOHandler_TCP::ClearBuffers() { Socket().DiscardInput(); }

bool kIOHandler_TCP::InputBufferContainsData() { return Socket().HasInput(); }

bool kIOHandler_TCP::Write(const std::u16string& aMessage) {
  WriteLog(tQV_MessageType::let_info, u"Write", aMessage);
  const std::string bytes =
      CodePage() != 0 ? EncodeCodePage(aMessage, CodePage()) : EncodeLatin1(aMessage);
  Socket().SendAll(bytes);
  return true;
}

bool kIOHandler_TCP::WriteBytes(const std::vector<uint8_t>& aBytes) {
  const std::string_view bytes(reinterpret_cast<const char*>(aBytes.data()), aBytes.size());
  WriteLog(tQV_MessageType::let_info, u"Write", DecodeLatin1(bytes));
  Socket().SendAll(bytes);
  return true;
}

std::u16string kIOHandler_TCP::ReadChars(int32_t aCharsNum) {
  TcpSocket& socket = Socket();
  const Stopwatch clock;
  std::string bytes;
  const size_t wanted = aCharsNum > 0 ? static_cast<size_t>(aCharsNum) : 0;
  try {
    while (bytes.size() < wanted) {
      const auto got = socket.Read(bytes, wanted - bytes.size(), clock.WaitWithin(ReadTimeout()));
      if (got == TcpSocket::ReadResult::kClosed) throw EQVError(kPeerClosed);
      if (got == TcpSocket::ReadResult::kTimeout) break;
    }
  } catch (const EQVError& e) {
    WriteLog(tQV_MessageType::let_error, u"ReadChars Unexpected error", e.Message());
    return {};
  }
  const std::u16string result = DecodeLatin1(bytes);
  std::u16string text = result;
  if (HexLog()) text += u" [" + HexString(result) + u"]";
  if (bytes.size() < wanted) {
    WriteLog(tQV_MessageType::let_error, u"Read Timeout", text);
  } else {
    WriteLog(tQV_MessageType::let_info, u"Read", text);
  }
  return result;
}

std::u16string kIOHandler_TCP::ReadUpTo(std::span<const uint8_t> aChars) {
  TcpSocket& socket = Socket();
  LogWaitingFor(aChars);

  // Bytes are taken as they arrive, up to the first terminator; the time is compared
  // after each arrival, so a terminator that comes late still ends by time.
  const Stopwatch clock;
  std::string bytes;
  bool by_time = false;
  try {
    for (;;) {
      bool terminated = false;
      const auto got = socket.ReadUntil(bytes, aChars, clock.WaitWithin(ReadTimeout()), terminated);
      if (got == TcpSocket::ReadResult::kClosed) throw EQVError(kPeerClosed);
      if (got == TcpSocket::ReadResult::kTimeout) {
        if (bytes.empty()) throw EQVError(kReadTimedOut);
        by_time = true;  // bytes came, the terminator did not
        break;
      }
      by_time = clock.ElapsedMs() > ReadTimeout();
      if (terminated || by_time) break;
    }
  } catch (const EQVError& e) {
    WriteLog(tQV_MessageType::let_error, u"ReadUpTo Unexpected error", e.Message());
    return DecodeLatin1(bytes);
  }
  const std::u16string result = DecodeLatin1(bytes);
  if (by_time) {
    WriteLog(tQV_MessageType::let_error, u"Read Timeout", result);
  } else {
    WriteLog(tQV_MessageType::let_info, u"Read", result);
  }
  return result;
}

std::u16string kIOHandler_TCP::ReadAll() {
  TcpSocket& socket = Socket();
  const Stopwatch clock;
  std::string bytes;
  try {
    for (;;) {
      const auto got = socket.Read(bytes, SIZE_MAX, clock.WaitWithin(ReadTimeout()));
      if (got == TcpSocket::ReadResult::kClosed) {
        WriteLog(tQV_MessageType::let_info, u"Read", DecodeLatin1(bytes));
        return DecodeLatin1(bytes);
      }
      if (got == TcpSocket::ReadResult::kTimeout && bytes.empty()) throw EQVError(kReadTimedOut);
      if (got == TcpSocket::ReadResult::kTimeout || clock.ElapsedMs() > ReadTimeout()) {
        WriteLog(tQV_MessageType::let_error, u"Read Timeout", DecodeLatin1(bytes));
        return DecodeLatin1(bytes);
      }
    }
  } catch (const EQVError& e) {
    WriteLog(tQV_MessageType::let_error, u"ReadAll Unexpected error", e.Message());
  }
  return DecodeLatin1(bytes);
}

std::vector<uint8_t> kIOHandler_TCP::ReadBytes(int32_t aCount) {
  TcpSocket& socket = Socket();
  const Stopwatch clock;
  std::string bytes;
  const size_t wanted = aCount > 0 ? static_cast<size_t>(aCount) : 0;
  while (bytes.size() < wanted) {
    const auto got = socket.Read(bytes, wanted - bytes.size(), clock.WaitWithin(ReadTimeout()));
    if (got == TcpSocket::ReadResult::kClosed) throw EQVError(kPeerClosed);
    if (got == TcpSocket::ReadResult::kTimeout) throw EQVError(kReadTimedOut);
  }
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace qvpa
