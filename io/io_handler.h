// kIOHandler: the abstract I/O channel a device talks through. The base owns the
// channel's log (start/stop banners, titled lines with optional hex rendering), the
// error state drivers read after each operation, and a temporary read time-out.
// Without a directory or file name there is no log and every logging call does nothing.
// Used from one thread at a time; log writer errors pass through to the caller.
#ifndef QVPA_IO_IO_HANDLER_H_
#define QVPA_IO_IO_HANDLER_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "base/currency.h"
#include "base/message_type.h"
#include "io/connection.h"

namespace qvpa {

class tQV_LogWriter;

class kIOHandler {
 public:
  virtual ~kIOHandler();  // writes the stop banner, then releases the log writer
  kIOHandler(const kIOHandler&) = delete;
  kIOHandler& operator=(const kIOHandler&) = delete;

  // Name of the concrete channel class, as logged by the connect banner.
  virtual std::u16string ClassName() const { return u"kIOHandler"; }

  // Transport slots; each channel documents what it does with them.
  virtual bool GetConnected() = 0;
  virtual bool Connect();  // writes the connect banner; returns true
  virtual bool Disconnect() = 0;
  virtual void ClearBuffers() = 0;
  virtual bool Write(const std::u16string& aMessage) = 0;
  // Everything up to and including the first byte equal to one of aChars.
  virtual std::u16string ReadUpTo(std::span<const uint8_t> aChars) = 0;
  virtual std::u16string ReadChars(int32_t aCharsNum) = 0;
  virtual std::u16string ReadAll() = 0;
  virtual std::u16string DecodeError(int32_t aErrorCode) = 0;
  virtual bool InputBufferContainsData() = 0;
  virtual void SetParameter(const std::u16string& aName, const std::u16string& aValue) = 0;

  bool Connected() { return GetConnected(); }

  // Logs aTitle + ":" + aMessage (+ " [" + HexString(aMessage) + "]" with HexLog on).
  void WriteLog(tQV_MessageType aEntryType, const std::u16string& aTitle,
                const std::u16string& aMessage);
  // Logs aMessage unchanged.
  void Debug(tQV_MessageType aEntryType, const std::u16string& aMessage);

  void SetCustomError(int32_t aErrorCode, const std::u16string& aErrorMessage);
  void ResetCustomError();

  // Full path of the current log file; empty when the channel has no log.
  std::u16string GetLogFileName() const;

  // Logs the change, then (only for aNewTimeout > 0) saves ReadTimeout and applies
  // aNewTimeout. One saved value, not a stack; a reset does not clear it.
  void SetTemporaryReadTimeout(int32_t aNewTimeout);
  void ResetTemporaryReadTimeout();

  // Each UTF-16 code unit as lower-case hex of at least two digits, blank-separated.
  static std::u16string HexString(std::u16string_view aText);
  // Shortest decimal text with "." and no grouping: 12.5, -3.25, 100.
  static std::u16string CurrencyToText(Currency aValue);

  bool ErrorFound() const { return fErrorFound; }
  int32_t ErrorCode() const { return fErrorCode; }
  const std::u16string& ErrorMessage() const { return fErrorMessage; }
  bool HexLog() const { return fHexLog; }
  void SetHexLog(bool v) { fHexLog = v; }
  int32_t ConnectTimeout() const { return fConnectTimeout; }
  void SetConnectTimeout(int32_t v) { fConnectTimeout = v; }
  int32_t ReadTimeout() const { return fReadTimeout; }
  void SetReadTimeout(int32_t v) { fReadTimeout = v; }
  const std::u16string& Version() const { return fVersion; }
  void SetVersion(std::u16string v) { fVersion = std::move(v); }
  int32_t CodePage() const { return fCodePage; }
  void SetCodePage(int32_t v) { fCodePage = v; }

 protected:
  // Takes the time-outs from aConnection when given (else both stay 0); with a
  // directory and a file name opens the daily log and writes the start banner.
  kIOHandler(const kConnection* aConnection, const std::u16string& aDirectory,
             const std::u16string& aFileName);
  // Logs "Waiting for:" and the terminators as characters joined by ",", with HexLog on
  // followed by " [" + their hex renderings joined by "," + "]".
  void LogWaitingFor(std::span<const uint8_t> aChars);
  // Replaces only the error text, for channels whose failures leave flag and code alone.
  void SetErrorMessage(std::u16string aMessage) { fErrorMessage = std::move(aMessage); }

 private:
  bool fErrorFound = false;
  int32_t fErrorCode = 0;
  std::u16string fErrorMessage;
  std::unique_ptr<tQV_LogWriter> fLogger;  // null when the channel has no log
  bool fHexLog = false;
  int32_t fConnectTimeout = 0;
  int32_t fReadTimeout = 0;
  int32_t fTemporaryReadTimeout = 0;
  std::u16string fVersion;
  int32_t fCodePage = 0;
};

}  // namespace qvpa

#endif  // QVPA_IO_IO_HANDLER_H_
