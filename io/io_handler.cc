#include "io/io_handler.h"

#include "base/log_writer.h"
#include "base/text.h"

namespace qvpa {

namespace {

constexpr char16_t kStartBanner[] = u"*************************** START ***************************";
constexpr char16_t kStopBanner[] = u"*************************** STOP ****************************";
constexpr char16_t kConnectBanner[] = u"*************************************************************";

}  // namespace

kIOHandler::kIOHandler(const kConnection* aConnection, const std::u16string& aDirectory,
                       const std::u16string& aFileName) {
  if (aConnection != nullptr) {
    fReadTimeout = aConnection->ReadTimeOut();
    fConnectTimeout = aConnection->ConnectTimeOut();
  }
  if (!aDirectory.empty() && !aFileName.empty()) {
    fLogger = std::make_unique<tQV_LogWriter>(aFileName, aDirectory, 0, true);
    fLogger->Write(tQV_MessageType::let_info, kStartBanner);
  }
}

kIOHandler::~kIOHandler() {
  if (!fLogger) return;
  try {
    fLogger->Write(tQV_MessageType::let_info, kStopBanner);
  } catch (...) {
    // A destructor must not throw; the banner is lost, the queued lines are still drained.
  }
  fLogger.reset();
}

bool kIOHandler::Connect() {
  Debug(tQV_MessageType::let_info, kConnectBanner);
  Debug(tQV_MessageType::let_info, ClassName());
  Debug(tQV_MessageType::let_info, fVersion);
  Debug(tQV_MessageType::let_info, u"ConnectTimeout=" + IntToStr(fConnectTimeout));
  Debug(tQV_MessageType::let_info, u"ReadTimeout=" + IntToStr(fReadTimeout));
  return true;
}

void kIOHandler::WriteLog(tQV_MessageType aEntryType, const std::u16string& aTitle,
                          const std::u16string& aMessage) {
  if (!fLogger) return;
  std::u16string line = aTitle + u":" + aMessage;
  if (fHexLog) line += u" [" + HexString(aMessage) + u"]";
  fLogger->Write(aEntryType, line);
}

void kIOHandler::Debug(tQV_MessageType aEntryType, const std::u16string& aMessage) {
  if (fLogger) fLogger->Write(aEntryType, aMessage);
}

void kIOHandler::SetCustomError(int32_t aErrorCode, const std::u16string& aErrorMessage) {
  fErrorFound = true;
  fErrorCode = aErrorCode;
  fErrorMessage = aErrorMessage;
}

void kIOHandler::ResetCustomError() {
  fErrorFound = false;
  fErrorCode = 0;
  fErrorMessage.clear();
}

std::u16string kIOHandler::GetLogFileName() const {
  return fLogger ? fLogger->FileName() : std::u16string();
}

void kIOHandler::SetTemporaryReadTimeout(int32_t aNewTimeout) {
  Debug(tQV_MessageType::let_info, u"Set Read Timeout to " + IntToStr(aNewTimeout) +
                                       u"ms from " + IntToStr(fReadTimeout) + u" ms");
  if (aNewTimeout > 0) {
    fTemporaryReadTimeout = fReadTimeout;
    fReadTimeout = aNewTimeout;
  }
}

void kIOHandler::ResetTemporaryReadTimeout() {
  Debug(tQV_MessageType::let_info,
        u"Reset Timeout to " + IntToStr(fTemporaryReadTimeout) + u" ms");
  if (fTemporaryReadTimeout != 0) fReadTimeout = fTemporaryReadTimeout;
}

void kIOHandler::LogWaitingFor(std::span<const uint8_t> aChars) {
  std::u16string list;
  std::u16string hex_list;
  for (uint8_t c : aChars) {
    if (!list.empty()) {
      list += u',';
      hex_list += u',';
    }
    list += static_cast<char16_t>(c);
    hex_list += HexString(std::u16string(1, static_cast<char16_t>(c)));
  }
  Debug(tQV_MessageType::let_info,
        u"Waiting for:" + list + (fHexLog ? u" [" + hex_list + u"]" : std::u16string()));
}

std::u16string kIOHandler::HexString(std::u16string_view aText) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  std::u16string out;
  out.reserve(aText.size() * 3);
  for (char16_t unit : aText) {
    if (!out.empty()) out += u' ';
    if (unit > 0xFFF) out += kDigits[(unit >> 12) & 0xF];
    if (unit > 0xFF) out += kDigits[(unit >> 8) & 0xF];
    out += kDigits[(unit >> 4) & 0xF];
    out += kDigits[unit & 0xF];
  }
  return out;
}

std::u16string kIOHandler::CurrencyToText(Currency aValue) { return aValue.ToText(); }

}  // namespace qvpa
