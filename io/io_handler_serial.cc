#include "io/io_handler_serial.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

#include "base/error.h"
#include "base/text.h"
#include "base/text_helpers.h"
#include "io/code_page.h"

namespace qvpa {

namespace {

constexpr int64_t kSliceMs = 100;

int64_t ElapsedMs(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
      .count();
}

uint32_t PortNumber(const std::u16string& aSerialPort) {
  const std::u16string digits = aSerialPort.size() > 3 ? aSerialPort.substr(3, 3) : std::u16string();
  int32_t number = 0;
  if (!TryStrToInt(digits, number) || number < 0) {
    throw EQVError(u"'" + digits + u"' is not a valid integer value");
  }
  return static_cast<uint32_t>(number);
}

TParity PortParity(qvParity aParity) {
  switch (aParity) {
    case qvParity::None: return TParity::ptNone;
    case qvParity::Even: return TParity::ptEven;
    case qvParity::Odd: return TParity::ptOdd;
  }
  throw EQVError(u"Parity invalid");
}

TStopBits PortStopBits(int32_t aStopBits) {
  if (aStopBits == 1) return TStopBits::sbOne;
  if (aStopBits == 2) return TStopBits::sbTwo;
  throw EQVError(u"Stop Bits " + IntToStr(aStopBits) + u" invalid");
}

}  // namespace

kIOHandler_Serial::kIOHandler_Serial(const kConnection& aConnection, const std::u16string& aDirectory,
                                     const std::u16string& aFileName)
    : kIOHandler(&aConnection, aDirectory, aFileName) {
  const uint32_t number = PortNumber(aConnection.SerialPort());
  const TParity parity = PortParity(aConnection.Parity());
  const TStopBits stop = PortStopBits(aConnection.StopBits());
  fComPort = std::make_unique<TComPort>(number, static_cast<uint32_t>(aConnection.Speed()),
                                        static_cast<uint8_t>(aConnection.DataBits() & 0xFF), stop, parity);
}

kIOHandler_Serial::~kIOHandler_Serial() { fComPort.reset(); }

bool kIOHandler_Serial::Connect() {
  kIOHandler::Connect();
  static constexpr const char16_t* kParity[] = {u"Parity=none", u"Parity=odd", u"Parity=even",
                                                u"Parity=mark", u"Parity=space"};
  static constexpr const char16_t* kStop[] = {u"StopBits=1", u"StopBits=1.5", u"StopBits=2"};
  Debug(tQV_MessageType::let_info, u"Serial Driver Version: " + fComPort->DriverVersion());
  Debug(tQV_MessageType::let_info, u"SerialPort=COM" + IntToStr(fComPort->ComNumber()));
  Debug(tQV_MessageType::let_info, u"Speed=" + IntToStr(fComPort->BaudRate()));
  Debug(tQV_MessageType::let_info, kParity[static_cast<int>(fComPort->Parity())]);
  Debug(tQV_MessageType::let_info, u"DataBits=" + IntToStr(fComPort->DataBits()));
  Debug(tQV_MessageType::let_info, kStop[static_cast<int>(fComPort->StopBits())]);
  fComPort->Open();
  return fComPort->ComIsOpen();
}

bool kIOHandler_Serial::Disconnect() {
  fComPort->Close();
  return !fComPort->ComIsOpen();
}

bool kIOHandler_Serial::Write(const std::u16string& aMessage) {
  WriteLog(tQV_MessageType::let_info, u"Write", aMessage);
  fComPort->WriteText(EncodeCodePage(aMessage, AnsiCodePage()));
  return true;
}

int32_t kIOHandler_Serial::ReadRound(uint8_t& aByte, int64_t aElapsedMs, uint32_t& aErrorMask) {
  const int64_t slice = std::clamp<int64_t>(ReadTimeout() + 1 - aElapsedMs, 1, kSliceMs);
  const auto start = std::chrono::steady_clock::now();
  const int32_t n = fComPort->Read(&aByte, 1, static_cast<uint32_t>(slice), aErrorMask);
  if (n < 0) {
    const int64_t rest = slice - ElapsedMs(start);
    if (rest > 0) std::this_thread::sleep_for(std::chrono::milliseconds(rest));
  }
  return n;
}

std::u16string kIOHandler_Serial::ReadChars(int32_t aCharsNum) {
  const auto start = std::chrono::steady_clock::now();
  std::u16string result;
  bool by_time = false;
  // Nothing asked, nothing read: a byte taken here would be lost to the next read.
  while (static_cast<int64_t>(result.size()) < aCharsNum) {
    uint8_t byte = 0;
    uint32_t mask = 0;
    if (ReadRound(byte, ElapsedMs(start), mask) == 1) result += static_cast<char16_t>(byte);
    by_time = ElapsedMs(start) > ReadTimeout();
    if (by_time) break;
  }
  if (by_time) {
    WriteLog(tQV_MessageType::let_error, u"Read Timeout", result);
  } else {
    WriteLog(tQV_MessageType::let_info, u"Read", result);
  }
  return result;
}

std::u16string kIOHandler_Serial::ReadUpTo(std::span<const uint8_t> aChars) {
  LogWaitingFor(aChars);

  const auto start = std::chrono::steady_clock::now();
  std::u16string result;
  uint32_t mask = 0;
  std::set<uint32_t> logged_masks;  // one "Read Error" line per distinct mask and call
  bool by_time = false;
  for (;;) {
    uint8_t byte = 0;
    const int32_t n = ReadRound(byte, ElapsedMs(start), mask);
    if (mask != 0 && logged_masks.insert(mask).second) {
      WriteLog(tQV_MessageType::let_error, u"Read Error", IntToStr(mask));
    }
    if (n == 1) {
      result += static_cast<char16_t>(byte);
      if (std::find(aChars.begin(), aChars.end(), byte) != aChars.end()) break;
    }
    if (ElapsedMs(start) > ReadTimeout()) {
      by_time = true;
      break;
    }
  }
  if (by_time) {
    WriteLog(tQV_MessageType::let_error, u"Read Timeout", result);
  } else {
    WriteLog(tQV_MessageType::let_info, u"Read", result);
  }
  return result;
}

std::u16string kIOHandler_Serial::ReadAll() { throw EQVError(u"ReadAll Unsupported"); }

}  // namespace qvpa
