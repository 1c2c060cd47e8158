// How a device is reached: the channel kind, its parameters and the two time-outs.
// kConnection is a plain value; the conversions turn request texts into the
// enumerations and throw EQVError for an unknown connection type or parity.
#ifndef QVPA_IO_CONNECTION_H_
#define QVPA_IO_CONNECTION_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace qvpa {

enum class qvConnectionType : uint8_t { OPOS = 0, TCP = 1, HTTP = 2, Serial = 3, DLL = 4, Com = 5, Spool = 6 };
enum class qvParity : uint8_t { None = 0, Even = 1, Odd = 2 };
enum class qvHTTPAuthType : uint8_t { at_None = 0, at_Basic = 1, at_Digest = 2, at_Bearer = 3 };
enum class qvSpoolOutputType : uint8_t { Raw = 0, Normal = 1 };

// The member name of a connection type ("OPOS", "TCP", "HTTP", ...), for messages.
std::u16string ConnectionTypeName(qvConnectionType aType);

class kConnection {
 public:
  kConnection() = default;

  // Each conversion lower-cases the text and compares it with its keywords; no trimming.
  // Throws EQVError "Connection Type <text> is not valid" for an unknown type.
  static qvConnectionType ConvertConnectionType(std::u16string_view aString);
  // Throws EQVError "Connection Parity <text> is not valid" for an unknown parity.
  static qvParity ConvertParity(std::u16string_view aString);
  // Unknown texts (also "bearer") give at_None; never throws.
  static qvHTTPAuthType ConvertAuthType(std::u16string_view aString);

  const std::u16string& Address() const { return fAddress; }
  void SetAddress(std::u16string v) { fAddress = std::move(v); }
  int32_t Port() const { return fPort; }
  void SetPort(int32_t v) { fPort = v; }
  const std::u16string& URL() const { return fURL; }
  void SetURL(std::u16string v) { fURL = std::move(v); }
  qvHTTPAuthType AuthType() const { return fAuthType; }
  void SetAuthType(qvHTTPAuthType v) { fAuthType = v; }
  const std::u16string& User() const { return fUser; }
  void SetUser(std::u16string v) { fUser = std::move(v); }
  const std::u16string& Password() const { return fPassword; }
  void SetPassword(std::u16string v) { fPassword = std::move(v); }
  const std::u16string& SerialPort() const { return fSerialPort; }
  void SetSerialPort(std::u16string v) { fSerialPort = std::move(v); }
  int32_t Speed() const { return fSpeed; }
  void SetSpeed(int32_t v) { fSpeed = v; }
  int32_t DataBits() const { return fDataBits; }
  void SetDataBits(int32_t v) { fDataBits = v; }
  qvParity Parity() const { return fParity; }
  void SetParity(qvParity v) { fParity = v; }
  int32_t StopBits() const { return fStopBits; }
  void SetStopBits(int32_t v) { fStopBits = v; }
  const std::u16string& DeviceName() const { return fDeviceName; }
  void SetDeviceName(std::u16string v) { fDeviceName = std::move(v); }
  const std::u16string& LibraryName() const { return fLibraryName; }
  void SetLibraryName(std::u16string v) { fLibraryName = std::move(v); }
  const std::u16string& PrinterName() const { return fPrinterName; }
  void SetPrinterName(std::u16string v) { fPrinterName = std::move(v); }
  qvConnectionType ConnectionType() const { return fConnectionType; }
  void SetConnectionType(qvConnectionType v) { fConnectionType = v; }

  // Milliseconds, always > 0: the setters ignore values of 0 or less.
  int32_t ConnectTimeOut() const { return fConnectTimeout; }
  void SetConnectTimeOut(int32_t Value);
  int32_t ReadTimeOut() const { return fReadTimeout; }
  void SetReadTimeOut(int32_t Value);

 private:
  std::u16string fAddress;
  int32_t fPort = 0;
  std::u16string fURL;
  qvHTTPAuthType fAuthType = qvHTTPAuthType::at_None;
  std::u16string fUser;
  std::u16string fPassword;
  std::u16string fSerialPort;
  int32_t fSpeed = 0;
  int32_t fDataBits = 0;
  qvParity fParity = qvParity::None;
  int32_t fStopBits = 0;
  std::u16string fDeviceName;
  std::u16string fLibraryName;
  std::u16string fPrinterName;
  qvConnectionType fConnectionType = qvConnectionType::OPOS;
  int32_t fConnectTimeout = 1000;
  int32_t fReadTimeout = 1000;
};

}  // namespace qvpa

#endif  // QVPA_IO_CONNECTION_H_
