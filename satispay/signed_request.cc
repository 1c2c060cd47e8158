#include "satispay/signed_request.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "satispay/base64.h"
#include "satispay/crypto_blocks.h"
#include "satispay/rsa.h"

namespace qvpa {
namespace {

constexpr const char16_t* kDayNames[7] = {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};
constexpr const char16_t* kMonthNames[12] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                             u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};

std::u16string TwoDigits(int value) {
  std::u16string text = IntToStr(value);
  return text.size() < 2 ? u"0" + text : text;
}

std::u16string EnvironmentText(const char* name, std::u16string_view fallback) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::u16string(fallback);
  return FromUtf8(value);
}

constexpr std::array<std::u16string_view, 6> kDeviceTypes = {
    u"SMARTPHONE", u"TABLET", u"CASH REGISTER", u"POS", u"PC", u"ECOMMERCE_PLUGIN"};

}  // namespace

std::u16string MethodText(int32_t aMethodKind) {
  switch (static_cast<SatispayMethod>(aMethodKind)) {
    case SatispayMethod::Put: return u"PUT";
    case SatispayMethod::Get: return u"GET";
    default: return u"POST";
  }
}

std::u16string BodyDigest(std::u16string_view aBody) {
  const std::string bytes = ToUtf8(aBody);
  const std::array<uint8_t, 32> hash = Sha256(std::span(
      reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  const TJOSEBytes encoded = TBase64::Encode(TJOSEBytes(std::vector<uint8_t>(hash.begin(), hash.end())));
  return u"SHA-256=" + encoded.AsString();
}

std::u16string SignatureDate(const DateTimeParts& aUtc) {
  const int day_of_week = aUtc.day_of_week >= 0 && aUtc.day_of_week < 7 ? aUtc.day_of_week : 0;
  const int month = aUtc.month >= 1 && aUtc.month <= 12 ? aUtc.month : 1;
  std::u16string year = IntToStr(aUtc.year);
  while (year.size() < 4) year.insert(0, 1, u'0');
  return std::u16string(kDayNames[day_of_week]) + u", " + TwoDigits(aUtc.day) + u" " +
         kMonthNames[month - 1] + u" " + year + u" " + TwoDigits(aUtc.hour) + u":" +
         TwoDigits(aUtc.minute) + u":" + TwoDigits(aUtc.second) + u" +0000";
}

std::u16string CurrentSignatureDate() { return SignatureDate(UtcNowParts()); }

std::u16string SigningString(std::u16string_view aHost, std::u16string_view aDigest,
                             std::u16string_view aDate, std::u16string_view aMethodLower,
                             std::u16string_view aPath) {
  std::u16string text = u"(request-target): ";
  text.append(aMethodLower).append(u" ").append(aPath);
  text.append(u"\nhost: ").append(aHost);
  text.append(u"\ndate: ").append(aDate);
  text.append(u"\ndigest: ").append(aDigest);
  return text;
}

std::u16string AuthorizationValue(std::u16string_view aKeyId, std::u16string_view aSignature) {
  std::u16string value = u"Signature keyId=\"";
  value.append(aKeyId);
  value.append(u"\", algorithm=\"rsa-sha256\", headers=\"(request-target) host date digest\", signature=\"");
  value.append(aSignature);
  value.append(u"\"");
  return value;
}

std::u16string SignText(std::u16string_view aText, const TRSAPrivateKey& aPrivateKey) {
  const std::string text = ToUtf8(aText);
  const std::vector<uint8_t> raw = aPrivateKey.Sign(
      std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), TRSAAlgorithm::RS256);
  return TBase64::URLEncode(TJOSEBytes(raw)).AsString();
}

std::u16string SignText(std::u16string_view aText, std::u16string_view aPrivateKeyPem) {
  const std::string key = ToUtf8(aPrivateKeyPem);
  return SignText(aText, TRSAPrivateKey(std::span(reinterpret_cast<const uint8_t*>(key.data()), key.size())));
}

std::u16string NewIdempotencyKey() {
  uint8_t bytes[16];
  FillRandom(bytes);
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  char text[37];
  std::snprintf(text, sizeof(text),
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9],
                bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
  return FromUtf8(text);
}

bool IsDeviceType(std::u16string_view aText) {
  for (const std::u16string_view type : kDeviceTypes) {
    if (type == aText) return true;
  }
  return false;
}

std::u16string DeviceTypeList() {
  std::u16string list;
  for (const std::u16string_view type : kDeviceTypes) {
    if (!list.empty()) list += u", ";
    list += type;
  }
  return list;
}

std::vector<std::pair<std::string, std::string>> ContractHeaders(const DeviceIdentity& aIdentity) {
  std::vector<std::pair<std::string, std::string>> headers = {{"Accept", "application/json"}};
  const std::pair<const char*, const std::u16string*> device[] = {
      {"x-satispay-devicetype", &aIdentity.device_type}, {"x-satispay-deviceinfo", &aIdentity.device_info},
      {"x-satispay-os", &aIdentity.os},                  {"x-satispay-osv", &aIdentity.os_version},
      {"x-satispay-appn", &aIdentity.app_name},          {"x-satispay-appv", &aIdentity.app_version}};
  for (const auto& [name, value] : device) {
    if (!value->empty()) headers.emplace_back(name, ToUtf8(*value));
  }
  return headers;
}

std::u16string ProductionHost() {
  return EnvironmentText("QVPA_SATISPAY_HOST", u"authservices.satispay.com");
}

std::u16string StagingHost() {
  return EnvironmentText("QVPA_SATISPAY_STAGING_HOST", u"staging.authservices.satispay.com");
}

std::string ExtraCaFile() {
  const char* value = std::getenv("QVPA_SATISPAY_CA_FILE");
  return value == nullptr ? std::string() : std::string(value);
}

}  // namespace qvpa
