// The pieces of a signed request to the payment service: body digest, date text,
// signing string, Authorization value and method text, plus where the service lives
// (production and staging hosts, overridable through the environment) and which extra
// certificate authorities to trust. Pure functions; nothing here touches the network.
#ifndef QVPA_SATISPAY_SIGNED_REQUEST_H_
#define QVPA_SATISPAY_SIGNED_REQUEST_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/date_time.h"
#include "satispay/rsa.h"

namespace qvpa {

// Method kinds of a service request; any other value means POST.
enum class SatispayMethod : int32_t { Post = 0, Put = 1, Get = 2 };

// "POST", "PUT" or "GET"; any other kind gives "POST".
std::u16string MethodText(int32_t aMethodKind);

// "SHA-256=" + standard Base64 of the SHA-256 hash of the body's UTF-8 bytes.
std::u16string BodyDigest(std::u16string_view aBody);

// The date header: "ddd, dd mmm yyyy hh:nn:ss +0000" with English day and month
// abbreviations, from a moment given in UTC.
std::u16string SignatureDate(const DateTimeParts& aUtc);
// SignatureDate of the current moment.
std::u16string CurrentSignatureDate();

// The four lines "(request-target): <method> <path>", "host: ...", "date: ...",
// "digest: ..." joined by single line feeds, no line feed at the end.
std::u16string SigningString(std::u16string_view aHost, std::u16string_view aDigest,
                             std::u16string_view aDate, std::u16string_view aMethodLower,
                             std::u16string_view aPath);

// Signature keyId="<key>", algorithm="rsa-sha256", headers="(request-target) host date digest", signature="<sig>"
std::u16string AuthorizationValue(std::u16string_view aKeyId, std::u16string_view aSignature);

// base64url (no padding) of the RS256 signature of the text's UTF-8 bytes under the
// private key. Throws EQVError when signing fails.
std::u16string SignText(std::u16string_view aText, const TRSAPrivateKey& aPrivateKey);
// The same under a PEM private key, parsed for this call; throws EQVError when it does not load.
std::u16string SignText(std::u16string_view aText, std::u16string_view aPrivateKeyPem);

// A fresh random UUID (version 4, lower case) from the crypto library's generator, the
// Idempotency-Key of one payment creation. Throws EQVError when the generator fails.
std::u16string NewIdempotencyKey();

// Who sends the requests, as the service's device identification headers tell it.
struct DeviceIdentity {
  std::u16string device_type = u"POS";  // one of the values IsDeviceType accepts
  std::u16string device_info;           // the machine's host name
  std::u16string os, os_version;
  std::u16string app_name, app_version;
};

// Whether the text is one of the service's device types: SMARTPHONE, TABLET,
// "CASH REGISTER", POS, PC, ECOMMERCE_PLUGIN (exact letters).
bool IsDeviceType(std::u16string_view aText);
// "SMARTPHONE, TABLET, CASH REGISTER, POS, PC, ECOMMERCE_PLUGIN", for messages.
std::u16string DeviceTypeList();

// The headers the service asks of every client: Accept: application/json, then
// x-satispay-devicetype, -deviceinfo, -os, -osv, -appn, -appv (those with a value).
std::vector<std::pair<std::string, std::string>> ContractHeaders(const DeviceIdentity& aIdentity);

// Service hosts: $QVPA_SATISPAY_HOST / $QVPA_SATISPAY_STAGING_HOST (host or host:port)
// when set and not empty, else the service's public names.
std::u16string ProductionHost();
std::u16string StagingHost();
// $QVPA_SATISPAY_CA_FILE: a PEM bundle trusted besides the system's store; empty when unset.
std::string ExtraCaFile();

}  // namespace qvpa

#endif  // QVPA_SATISPAY_SIGNED_REQUEST_H_
