#include "io/connection.h"

#include "base/error.h"
#include "base/text.h"

namespace qvpa {

std::u16string ConnectionTypeName(qvConnectionType aType) {
  switch (aType) {
    case qvConnectionType::OPOS: return u"OPOS";
    case qvConnectionType::TCP: return u"TCP";
    case qvConnectionType::HTTP: return u"HTTP";
    case qvConnectionType::Serial: return u"Serial";
    case qvConnectionType::DLL: return u"DLL";
    case qvConnectionType::Com: return u"Com";
    case qvConnectionType::Spool: return u"Spool";
  }
  return u"#" + IntToStr(static_cast<int>(aType));
}

qvConnectionType kConnection::ConvertConnectionType(std::u16string_view aString) {
  const std::u16string s = LowerCase(aString);
  if (s == u"serial") return qvConnectionType::Serial;
  if (s == u"http") return qvConnectionType::HTTP;
  if (s == u"tcp") return qvConnectionType::TCP;
  if (s == u"opos") return qvConnectionType::OPOS;
  if (s == u"dll") return qvConnectionType::DLL;
  if (s == u"com") return qvConnectionType::Com;
  if (s == u"spool") return qvConnectionType::Spool;
  throw EQVError(u"Connection Type " + std::u16string(aString) + u" is not valid");
}

qvParity kConnection::ConvertParity(std::u16string_view aString) {
  const std::u16string s = LowerCase(aString);
  if (s == u"none") return qvParity::None;
  if (s == u"odd") return qvParity::Odd;
  if (s == u"even") return qvParity::Even;
  throw EQVError(u"Connection Parity " + std::u16string(aString) + u" is not valid");
}

qvHTTPAuthType kConnection::ConvertAuthType(std::u16string_view aString) {
  const std::u16string s = LowerCase(aString);
  if (s == u"basic") return qvHTTPAuthType::at_Basic;
  if (s == u"digest") return qvHTTPAuthType::at_Digest;
  return qvHTTPAuthType::at_None;
}

void kConnection::SetConnectTimeOut(int32_t Value) {
  if (Value > 0) fConnectTimeout = Value;
}

void kConnection::SetReadTimeOut(int32_t Value) {
  if (Value > 0) fReadTimeout = Value;
}

}  // namespace qvpa
