// TRSA over CNG against OpenSSL's results: the fixtures (keys in every form, certificates,
// signatures) are made at build time by the openssl tool from the build's own key pair.
#include "satispay/rsa.h"

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/error_test_support.h"
#include "base/text.h"
#include "satispay/module_resources.h"

namespace qvpa {
namespace {

std::vector<uint8_t> Fixture(const std::string& name) {
  std::ifstream in(std::string(QVPA_RSA_FIXTURES) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

struct Fixtures {
  std::vector<uint8_t> message = Fixture("message.txt");
  std::vector<uint8_t> private_pkcs1 = Fixture("private_pkcs1.pem");
  std::vector<uint8_t> private_pkcs8 = Fixture("private_pkcs8.pem");
  std::vector<uint8_t> public_spki = Fixture("public_spki.pem");
  std::vector<uint8_t> public_pkcs1 = Fixture("public_pkcs1.pem");
  std::vector<uint8_t> certificate = Fixture("certificate.pem");
  std::vector<uint8_t> ec_private = Fixture("ec_private.pem");
  std::vector<uint8_t> ec_certificate = Fixture("ec_certificate.pem");
  std::vector<uint8_t> signature256 = Fixture("signature256.bin");
  std::vector<uint8_t> signature512 = Fixture("signature512.bin");
};

const Fixtures& F() {
  static const Fixtures fixtures;
  return fixtures;
}

void ExpectPrefix(const std::u16string& message, std::u16string_view prefix) {
  EXPECT_TRUE(message.starts_with(prefix)) << ToUtf8(message);
  EXPECT_GT(message.size(), prefix.size()) << "no reason after: " << ToUtf8(message);
}

TEST(TRSAWindowsTest, SignaturesAreByteIdenticalToOpenSSL) {
  const Fixtures& f = F();
  ASSERT_EQ(f.signature256.size(), 512u);
  for (const auto* key : {&f.private_pkcs1, &f.private_pkcs8}) {
    EXPECT_EQ(TRSA::Sign(f.message, *key, TRSAAlgorithm::RS256), f.signature256);
    EXPECT_EQ(TRSA::Sign(f.message, *key, TRSAAlgorithm::RS512), f.signature512);
  }
}

TEST(TRSAWindowsTest, BuiltInKeyResourceSignsLikeTheKeyFile) {
  const std::string pem = ToUtf8(LoadResourceText(u"satispay_privatekey"));
  EXPECT_EQ(TRSA::Sign(F().message, Bytes(pem), TRSAAlgorithm::RS256), F().signature256);
  const std::string pub = ToUtf8(LoadResourceText(u"SATISPAY_PUBLICKEY"));
  EXPECT_TRUE(TRSA::Verify(F().message, F().signature256, Bytes(pub), TRSAAlgorithm::RS256));
  EXPECT_EQ(ErrorOf([] { LoadResourceText(u"satispay_otherkey"); }), u"Resource satispay_otherkey not found");
}

TEST(TRSAWindowsTest, VerifiesUnderEveryPublicKeyForm) {
  const Fixtures& f = F();
  std::vector<uint8_t> tampered_signature = f.signature256;
  tampered_signature[100] ^= 0x01;
  std::vector<uint8_t> tampered_message = f.message;
  tampered_message[0] ^= 0x01;
  for (const auto* key : {&f.public_spki, &f.public_pkcs1, &f.certificate}) {
    EXPECT_TRUE(TRSA::Verify(f.message, f.signature256, *key, TRSAAlgorithm::RS256));
    EXPECT_TRUE(TRSA::Verify(f.message, f.signature512, *key, TRSAAlgorithm::RS512));
    EXPECT_FALSE(TRSA::Verify(f.message, f.signature256, *key, TRSAAlgorithm::RS512));
    EXPECT_FALSE(TRSA::Verify(f.message, tampered_signature, *key, TRSAAlgorithm::RS256));
    EXPECT_FALSE(TRSA::Verify(tampered_message, f.signature256, *key, TRSAAlgorithm::RS256));
  }
}

TEST(TRSAWindowsTest, FailuresKeepTheirMessages) {
  const Fixtures& f = F();
  const std::vector<uint8_t> input = Bytes("x");
  for (const auto* key : {&f.ec_private, &f.public_spki}) {
    ExpectPrefix(ErrorOf([&] { TRSA::Sign(input, *key, TRSAAlgorithm::RS256); }),
                 u"[RSA] Unable to load private key: ");
  }
  ExpectPrefix(ErrorOf([&] { TRSA::Sign(input, Bytes("no key here"), TRSAAlgorithm::RS256); }),
               u"[RSA] Unable to load private key: ");
  ExpectPrefix(ErrorOf([&] { TRSA::Sign(input, {}, TRSAAlgorithm::RS256); }),
               u"[RSA] Unable to load private key: ");
  ExpectPrefix(ErrorOf([&] { TRSA::Verify(input, input, f.private_pkcs1, TRSAAlgorithm::RS256); }),
               u"[RSA] Unable to load public key: ");
  std::vector<uint8_t> broken = f.public_pkcs1;
  broken[40] = '*';
  ExpectPrefix(ErrorOf([&] { TRSA::Verify(input, input, broken, TRSAAlgorithm::RS256); }),
               u"[RSA] Unable to load public key: ");
  const auto unsupported = static_cast<TRSAAlgorithm>(3);
  EXPECT_EQ(ErrorOf([&] { TRSA::Sign(input, f.private_pkcs1, unsupported); }),
            u"[RSA] Unsupported signing algorithm!");
  EXPECT_EQ(ErrorOf([&] { TRSA::Verify(input, input, Bytes("-----BEGIN CERTIFICATE-----\nAAAA\n"),
                                       TRSAAlgorithm::RS256); }),
            u"[CERT] Failure by X509 certificate loading");
  EXPECT_EQ(ErrorOf([&] { TRSA::Verify(input, input, f.ec_certificate, TRSAAlgorithm::RS256); }),
            u"[CERT] Unsupported algorithm type in X509 public key (RSA expected)");
  EXPECT_FALSE(TRSA::VerifyPublicKey(Bytes("-----BEGIN PUBLIC KEY-----")));  // truncated: no error
}

TEST(TRSAWindowsTest, KeyChecks) {
  const Fixtures& f = F();
  const struct {
    const char* name;
    const std::vector<uint8_t>& text;
    bool is_private, is_public;
  } cases[] = {
      {"private pkcs1", f.private_pkcs1, true, false},
      {"private pkcs8", f.private_pkcs8, true, false},
      {"public spki", f.public_spki, false, true},
      {"public pkcs1", f.public_pkcs1, false, true},
      {"certificate", f.certificate, false, true},
      {"ec private", f.ec_private, false, false},
      {"ec certificate", f.ec_certificate, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TRSA::VerifyPrivateKey(c.text), c.is_private) << c.name;
    EXPECT_EQ(TRSA::VerifyPublicKey(c.text), c.is_public) << c.name;
  }
}

}  // namespace
}  // namespace qvpa
