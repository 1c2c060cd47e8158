#include "satispay/rsa.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/encoder.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "base/error.h"
#include "base/error_test_support.h"
#include "base/text.h"

namespace qvpa {
namespace {

// Keys and certificates are made here, at test time; none is stored with the sources.
struct PkeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

template <typename Write>
std::vector<uint8_t> Pem(Write write) {
  BIO* bio = BIO_new(BIO_s_mem());
  EXPECT_EQ(write(bio), 1);
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  std::vector<uint8_t> pem(data, data + size);
  BIO_free(bio);
  return pem;
}

std::vector<uint8_t> PublicKeyPem(EVP_PKEY* key, const char* structure) {
  return Pem([&](BIO* bio) {
    OSSL_ENCODER_CTX* ctx =
        OSSL_ENCODER_CTX_new_for_pkey(key, EVP_PKEY_PUBLIC_KEY, "PEM", structure, nullptr);
    const int ok = OSSL_ENCODER_to_bio(ctx, bio);
    OSSL_ENCODER_CTX_free(ctx);
    return ok;
  });
}

std::vector<uint8_t> SelfSignedCertificate(EVP_PKEY* key) {
  X509* cert = X509_new();
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), 0);
  X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("test"),
                             -1, -1, 0);
  X509_set_issuer_name(cert, name);
  X509_sign(cert, key, EVP_sha256());
  std::vector<uint8_t> pem = Pem([&](BIO* bio) { return PEM_write_bio_X509(bio, cert); });
  X509_free(cert);
  return pem;
}

struct KeyPair {
  std::vector<uint8_t> private_pkcs1, private_pkcs8, private_encrypted;
  std::vector<uint8_t> public_spki, public_pkcs1, certificate;
  std::vector<uint8_t> ec_private, ec_public, ec_certificate;
};

const KeyPair& Keys() {
  static const KeyPair keys = [] {
    KeyPair k;
    Pkey rsa(EVP_RSA_gen(2048));
    k.private_pkcs1 = Pem([&](BIO* bio) {
      return PEM_write_bio_PrivateKey_traditional(bio, rsa.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    k.private_pkcs8 = Pem([&](BIO* bio) {
      return PEM_write_bio_PrivateKey(bio, rsa.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    k.private_encrypted = Pem([&](BIO* bio) {
      return PEM_write_bio_PrivateKey(bio, rsa.get(), EVP_aes_256_cbc(), nullptr, 0, nullptr,
                                      const_cast<char*>("secret"));
    });
    k.public_spki = PublicKeyPem(rsa.get(), "SubjectPublicKeyInfo");
    k.public_pkcs1 = PublicKeyPem(rsa.get(), "type-specific");
    k.certificate = SelfSignedCertificate(rsa.get());
    Pkey ec(EVP_EC_gen("P-256"));
    k.ec_private = Pem([&](BIO* bio) {
      return PEM_write_bio_PrivateKey(bio, ec.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    k.ec_public = PublicKeyPem(ec.get(), "SubjectPublicKeyInfo");
    k.ec_certificate = SelfSignedCertificate(ec.get());
    return k;
  }();
  return keys;
}

// The message is the prefix followed by the crypto library's formatted error code.
void ExpectCryptoError(const std::u16string& message, std::u16string_view prefix) {
  ASSERT_EQ(message.substr(0, prefix.size()), prefix) << ToUtf8(message);
  const std::string rest = ToUtf8(message.substr(prefix.size()));
  // "error:" + eight hex digits + ":" + the library's module and reason
  ASSERT_GT(rest.size(), 16u) << rest;
  EXPECT_EQ(rest.substr(0, 6), "error:");
  EXPECT_EQ(rest.find_first_not_of("0123456789ABCDEF", 6), 14u) << rest;
  EXPECT_EQ(rest[14], ':');
  EXPECT_LE(rest.size(), 160u);
}

const TRSAAlgorithm kAlgorithms[] = {TRSAAlgorithm::RS256, TRSAAlgorithm::RS384, TRSAAlgorithm::RS512};

TEST(TRSATest, SignaturesVerifyUnderEveryPublicKeyForm) {
  const KeyPair& k = Keys();
  const std::vector<uint8_t> input = Bytes("(request-target): get /g_business/v1/payments\nhost: h");
  for (TRSAAlgorithm alg : kAlgorithms) {
    SCOPED_TRACE(static_cast<int>(alg));
    const std::vector<uint8_t> signature = TRSA::Sign(input, k.private_pkcs1, alg);
    EXPECT_EQ(signature.size(), 256u);
    EXPECT_EQ(TRSA::Sign(input, k.private_pkcs8, alg), signature);  // deterministic scheme
    // A kept key signs the same, again and again.
    const TRSAPrivateKey kept(k.private_pkcs8);
    EXPECT_EQ(kept.Sign(input, alg), signature);
    EXPECT_EQ(kept.Sign(input, alg), signature);
    for (const auto* key : {&k.public_spki, &k.public_pkcs1, &k.certificate}) {
      EXPECT_TRUE(TRSA::Verify(input, signature, *key, alg));
      std::vector<uint8_t> tampered = input;
      tampered[5] ^= 1;
      EXPECT_FALSE(TRSA::Verify(tampered, signature, *key, alg));
      std::vector<uint8_t> bad_signature = signature;
      bad_signature[100] ^= 0x80;
      EXPECT_FALSE(TRSA::Verify(input, bad_signature, *key, alg));
      EXPECT_FALSE(TRSA::Verify(input, std::vector<uint8_t>(signature.begin(), signature.end() - 1), *key, alg));
    }
  }
  const std::vector<uint8_t> rs256 = TRSA::Sign(input, k.private_pkcs1, TRSAAlgorithm::RS256);
  EXPECT_FALSE(TRSA::Verify(input, rs256, k.public_spki, TRSAAlgorithm::RS512));
  EXPECT_EQ(ERR_peek_error(), 0u);  // a failed verification leaves nothing behind
}

// The signature opens, under the public key, to the PKCS #1 v1.5 DigestInfo of the input.
TEST(TRSATest, SignatureIsPkcs1v15WithTheChosenDigest) {
  const KeyPair& k = Keys();
  const std::vector<uint8_t> input = Bytes("payload");
  const struct {
    TRSAAlgorithm alg;
    const EVP_MD* md;
    std::vector<uint8_t> prefix;
  } cases[] = {
      {TRSAAlgorithm::RS256, EVP_sha256(),
       {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20}},
      {TRSAAlgorithm::RS384, EVP_sha384(),
       {0x30, 0x41, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02, 0x05, 0x00, 0x04, 0x30}},
      {TRSAAlgorithm::RS512, EVP_sha512(),
       {0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40}},
  };
  BIO* bio = BIO_new_mem_buf(k.public_spki.data(), static_cast<int>(k.public_spki.size()));
  Pkey pub(PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr));
  BIO_free(bio);
  ASSERT_TRUE(pub);
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.alg));
    const std::vector<uint8_t> signature = TRSA::Sign(input, k.private_pkcs1, c.alg);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(pub.get(), nullptr);
    ASSERT_EQ(EVP_PKEY_verify_recover_init(ctx), 1);
    ASSERT_EQ(EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING), 1);
    std::vector<uint8_t> recovered(512);
    size_t length = recovered.size();
    ASSERT_EQ(EVP_PKEY_verify_recover(ctx, recovered.data(), &length, signature.data(), signature.size()), 1);
    EVP_PKEY_CTX_free(ctx);
    recovered.resize(length);

    std::vector<uint8_t> expected = c.prefix;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_length = 0;
    EVP_Digest(input.data(), input.size(), digest, &digest_length, c.md, nullptr);
    expected.insert(expected.end(), digest, digest + digest_length);
    EXPECT_EQ(recovered, expected);
  }
}

TEST(TRSATest, KeyFailuresCarryTheLibraryErrorText) {
  const KeyPair& k = Keys();
  const std::vector<uint8_t> input = Bytes("x");
  ExpectCryptoError(ErrorOf([&] { TRSA::Sign(input, Bytes("no key here"), TRSAAlgorithm::RS256); }),
                    u"[RSA] Unable to load private key: ");
  ExpectCryptoError(ErrorOf([&] { TRSA::Sign(input, {}, TRSAAlgorithm::RS256); }),
                    u"[RSA] Unable to load private key: ");
  // A key of another kind, a public key and an encrypted key (no password: no prompt).
  for (const auto* key : {&k.ec_private, &k.public_spki, &k.private_encrypted}) {
    ExpectCryptoError(ErrorOf([&] { TRSA::Sign(input, *key, TRSAAlgorithm::RS256); }),
                      u"[RSA] Unable to load private key: ");
    ExpectCryptoError(ErrorOf([&] { TRSAPrivateKey{*key}; }), u"[RSA] Unable to load private key: ");
  }
  for (const auto* key : {&k.ec_public, &k.private_pkcs1}) {
    ExpectCryptoError(ErrorOf([&] { TRSA::Verify(input, input, *key, TRSAAlgorithm::RS256); }),
                      u"[RSA] Unable to load public key: ");
  }
  std::vector<uint8_t> broken = k.public_pkcs1;
  broken[40] = '*';
  ExpectCryptoError(ErrorOf([&] { TRSA::Verify(input, input, broken, TRSAAlgorithm::RS256); }),
                    u"[RSA] Unable to load public key: ");
}

TEST(TRSATest, MessageNamesThisFailureNotAnEarlierOne) {
  ERR_raise(ERR_LIB_X509, X509_R_CERT_ALREADY_IN_HASH_TABLE);  // left over by some other call
  const std::u16string message = ErrorOf([] { TRSA::Sign(Bytes("x"), Bytes("junk"), TRSAAlgorithm::RS256); });
  ExpectCryptoError(message, u"[RSA] Unable to load private key: ");
  EXPECT_EQ(message.find(u"hash table"), std::u16string::npos) << ToUtf8(message);
  EXPECT_EQ(ERR_peek_error(), 0u);
}

TEST(TRSATest, CertificateAndAlgorithmFailures) {
  const KeyPair& k = Keys();
  const std::vector<uint8_t> input = Bytes("x");
  const auto unsupported = static_cast<TRSAAlgorithm>(3);
  EXPECT_EQ(ErrorOf([&] { TRSA::Sign(input, k.private_pkcs1, unsupported); }),
            u"[RSA] Unsupported signing algorithm!");
  for (const auto* key : {&k.public_spki, &k.public_pkcs1, &k.certificate}) {
    EXPECT_EQ(ErrorOf([&] { TRSA::Verify(input, input, *key, unsupported); }),
              u"[RSA] Unsupported signing algorithm!");
  }
  EXPECT_EQ(ErrorOf([&] {
              TRSA::Verify(input, input, Bytes("-----BEGIN CERTIFICATE-----\nAAAA\n"), TRSAAlgorithm::RS256);
            }),
            u"[CERT] Failure by X509 certificate loading");
  EXPECT_EQ(ErrorOf([&] { TRSA::Verify(input, input, k.ec_certificate, TRSAAlgorithm::RS256); }),
            u"[CERT] Unsupported algorithm type in X509 public key (RSA expected)");
}

TEST(TRSATest, KeyChecks) {
  const KeyPair& k = Keys();
  const struct {
    const char* name;
    const std::vector<uint8_t>& text;
    bool is_private, is_public;
  } cases[] = {
      {"private pkcs1", k.private_pkcs1, true, false},
      {"private pkcs8", k.private_pkcs8, true, false},
      {"private encrypted", k.private_encrypted, false, false},
      {"public spki", k.public_spki, false, true},
      {"public pkcs1", k.public_pkcs1, false, true},
      {"certificate", k.certificate, false, true},
      {"ec private", k.ec_private, false, false},
      {"ec public", k.ec_public, false, false},
      {"ec certificate", k.ec_certificate, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(TRSA::VerifyPrivateKey(c.text), c.is_private);
    EXPECT_EQ(TRSA::VerifyPublicKey(c.text), c.is_public);
  }
  for (std::string_view junk : {"", "-----BEGIN", "-----BEGIN CERTIFICATE-----\n", "text"}) {
    SCOPED_TRACE(junk);
    EXPECT_FALSE(TRSA::VerifyPrivateKey(Bytes(junk)));
    EXPECT_FALSE(TRSA::VerifyPublicKey(Bytes(junk)));
  }
  EXPECT_EQ(ERR_peek_error(), 0u);
}

}  // namespace
}  // namespace qvpa
