#include "satispay/signed_request.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>

#include "base/error.h"
#include "base/text.h"
#include "satispay/base64.h"
#include "satispay/module_resources.h"
#include "satispay/rsa.h"

namespace qvpa {
namespace {

TEST(SignedRequestTest, MethodTextFallsBackToPost) {
  const struct {
    int32_t kind;
    const char16_t* text;
  } cases[] = {{0, u"POST"}, {1, u"PUT"}, {2, u"GET"}, {3, u"POST"}, {-1, u"POST"}};
  for (const auto& c : cases) EXPECT_EQ(MethodText(c.kind), c.text) << c.kind;
}

TEST(SignedRequestTest, DigestIsBase64OfSha256OfUtf8Body) {
  const struct {
    const char16_t* body;
    const char16_t* digest;
  } cases[] = {
      {u"", u"SHA-256=47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU="},
      {u"{\"action\": \"CANCEL_OR_REFUND\"}", u"SHA-256=tw2kbsgUCvjaNgIqD5qEIIn1uOILg7wtrpo8BUTVQBs="},
      {u"Gr\u00fc\u00dfe \u20ac", u"SHA-256=k+SGA3fNFOombXwPMdXdyF7NnBhT099WoTQgNQYYZ1E="},
  };
  for (const auto& c : cases) EXPECT_EQ(BodyDigest(c.body), c.digest) << ToUtf8(c.body);
}

TEST(SignedRequestTest, DateUsesEnglishNamesAndFixedLayout) {
  const struct {
    DateTimeParts utc;
    const char16_t* text;
  } cases[] = {
      {{2019, 3, 18, 15, 10, 24, 0, 1}, u"Mon, 18 Mar 2019 15:10:24 +0000"},
      {{2024, 1, 5, 3, 4, 5, 999, 5}, u"Fri, 05 Jan 2024 03:04:05 +0000"},
      {{2023, 12, 31, 23, 59, 59, 0, 0}, u"Sun, 31 Dec 2023 23:59:59 +0000"},
  };
  for (const auto& c : cases) EXPECT_EQ(SignatureDate(c.utc), c.text);
}

// The header must carry universal time whatever the machine's zone says.
TEST(SignedRequestTest, CurrentDateIsUtcInAnyTimeZone) {
  const char* saved = std::getenv("TZ");
  const std::string saved_tz = saved != nullptr ? saved : "";
  setenv("TZ", "Pacific/Kiritimati", 1);  // UTC+14: local day differs from UTC most of the time
  tzset();
  std::u16string expected[2];
  std::u16string actual;
  for (int attempt = 0; attempt < 2; ++attempt) {
    // The clock the header is read from: time() may lag it by a tick at a second's turn.
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[64];
    std::strftime(text, sizeof(text), "%a, %d %b %Y %H:%M:%S +0000", &utc);
    expected[attempt] = FromAscii(text);
    if (attempt == 0) actual = CurrentSignatureDate();
  }
  if (saved != nullptr) setenv("TZ", saved_tz.c_str(), 1); else unsetenv("TZ");
  tzset();
  EXPECT_TRUE(actual == expected[0] || actual == expected[1]) << ToUtf8(actual);
}

TEST(SignedRequestTest, SigningStringHasFourLinesJoinedByLineFeeds) {
  const std::u16string text =
      SigningString(u"authservices.satispay.com", u"SHA-256=abc", u"Mon, 18 Mar 2019 15:10:24 +0000",
                    u"get", u"/g_business/v1/payments?starting_after=x&limit=20");
  EXPECT_EQ(text,
            u"(request-target): get /g_business/v1/payments?starting_after=x&limit=20\n"
            u"host: authservices.satispay.com\n"
            u"date: Mon, 18 Mar 2019 15:10:24 +0000\n"
            u"digest: SHA-256=abc");
  EXPECT_EQ(text.find(u'\r'), std::u16string::npos);
}

TEST(SignedRequestTest, AuthorizationQuotesKeyAndSignatureEvenWhenEmpty) {
  EXPECT_EQ(AuthorizationValue(u"key-1", u"c2ln"),
            u"Signature keyId=\"key-1\", algorithm=\"rsa-sha256\", "
            u"headers=\"(request-target) host date digest\", signature=\"c2ln\"");
  EXPECT_EQ(AuthorizationValue(u"", u"c2ln").substr(0, 20), u"Signature keyId=\"\", ");
}

// The built-in pair signs: the signature is base64url without padding, 683 characters for
// the 4096-bit key, and verifies under the built-in public key.
TEST(SignedRequestTest, SignatureWithBuiltInKeyVerifies) {
  const std::u16string text = u"(request-target): get /g_business/v1/payments\nhost: h\ndate: d\ndigest: x";
  const std::u16string signature = SignText(text, LoadResourceText(u"satispay_privatekey"));
  EXPECT_EQ(signature.size(), 683u);
  EXPECT_EQ(signature.find_first_of(u"+/=\r\n"), std::u16string::npos);

  const std::vector<uint8_t> raw = TBase64::URLDecode(TJOSEBytes::FromByteString(ToUtf8(signature))).AsBytes();
  const std::string message = ToUtf8(text);
  const std::string public_key = ToUtf8(LoadResourceText(u"satispay_publickey"));
  const auto bytes = [](const std::string& s) {
    return std::span(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  };
  EXPECT_TRUE(TRSA::Verify(bytes(message), raw, bytes(public_key), TRSAAlgorithm::RS256));
  EXPECT_FALSE(TRSA::Verify(bytes(message + "x"), raw, bytes(public_key), TRSAAlgorithm::RS256));
}

TEST(SignedRequestTest, SigningWithBrokenKeyThrows) {
  // A PKCS#1 armour around a body that is not a key.
  EXPECT_THROW(SignText(u"text", u"-----BEGIN RSA " u"PRIVATE KEY-----\r\nAAAA\r\n-----END RSA "
                                 u"PRIVATE KEY-----\r\n"),
               EQVError);
}

TEST(SignedRequestTest, HostsComeFromEnvironmentWhenSet) {
  unsetenv("QVPA_SATISPAY_HOST");
  unsetenv("QVPA_SATISPAY_STAGING_HOST");
  EXPECT_EQ(ProductionHost(), u"authservices.satispay.com");
  EXPECT_EQ(StagingHost(), u"staging.authservices.satispay.com");
  setenv("QVPA_SATISPAY_HOST", "127.0.0.1:8443", 1);
  setenv("QVPA_SATISPAY_STAGING_HOST", "localhost:8443", 1);
  EXPECT_EQ(ProductionHost(), u"127.0.0.1:8443");
  EXPECT_EQ(StagingHost(), u"localhost:8443");
  setenv("QVPA_SATISPAY_HOST", "", 1);
  EXPECT_EQ(ProductionHost(), u"authservices.satispay.com");
  unsetenv("QVPA_SATISPAY_HOST");
  unsetenv("QVPA_SATISPAY_STAGING_HOST");
}

}  // namespace
}  // namespace qvpa
