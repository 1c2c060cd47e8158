#include "tools/gbusiness-sim/test_client.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

#include <openssl/bio.h>
#include <openssl/encoder.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

namespace qvpa::gbsim::testing {

namespace {

struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
struct EncoderFree {
  void operator()(OSSL_ENCODER_CTX* ctx) const { OSSL_ENCODER_CTX_free(ctx); }
};

std::string Encode(EVP_PKEY* key, int selection, const char* structure) {
  std::unique_ptr<OSSL_ENCODER_CTX, EncoderFree> ctx(
      OSSL_ENCODER_CTX_new_for_pkey(key, selection, "PEM", structure, nullptr));
  unsigned char* data = nullptr;
  size_t length = 0;
  if (!ctx || OSSL_ENCODER_to_data(ctx.get(), &data, &length) != 1) throw std::runtime_error("encode");
  std::string out(reinterpret_cast<char*>(data), length);
  OPENSSL_free(data);
  return out;
}

std::string StandardBase64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(bytes.data()),
                                static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

}  // namespace

TestKey TestKey::Generate(int bits) {
  TestKey key;
  key.key_ = std::shared_ptr<EVP_PKEY>(EVP_RSA_gen(static_cast<unsigned>(bits)), EVP_PKEY_free);
  if (!key.key_) throw std::runtime_error("RSA key generation failed");
  key.public_pem_ = Encode(key.key_.get(), EVP_PKEY_PUBLIC_KEY, "SubjectPublicKeyInfo");
  return key;
}

std::string TestKey::pkcs1_public_pem() const {
  return Encode(key_.get(), EVP_PKEY_PUBLIC_KEY, "type-specific");
}

std::string TestKey::private_pem() const { return Encode(key_.get(), EVP_PKEY_KEYPAIR, "type-specific"); }

std::string TestKey::Sign(const std::string& data) const {
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  size_t length = 0;
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key_.get()) != 1 ||
      EVP_DigestSign(ctx.get(), nullptr, &length, reinterpret_cast<const unsigned char*>(data.data()),
                     data.size()) != 1)
    throw std::runtime_error("sign");
  std::string signature(length, '\0');
  if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                     reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1)
    throw std::runtime_error("sign");
  signature.resize(length);
  return signature;
}

std::string ClientDigest(const std::string& body) {
  unsigned char hash[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(body.data()), body.size(), hash);
  return "SHA-256=" + StandardBase64(std::string(reinterpret_cast<char*>(hash), sizeof hash));
}

std::string ClientSigningString(const std::string& method, const std::string& target, const std::string& host,
                                const std::string& date, const std::string& digest) {
  std::string lower = method;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return "(request-target): " + lower + " " + target + "\nhost: " + host + "\ndate: " + date +
         "\ndigest: " + digest;
}

httplib::Headers SignedHeaders(const TestKey& key, const SignOptions& options, const std::string& method,
                               const std::string& target, const std::string& body) {
  const std::string date = "Mon, 18 Mar 2019 15:10:24 +0000";
  const std::string digest = ClientDigest(body);
  std::string signature = StandardBase64(key.Sign(ClientSigningString(method, target, options.host, date, digest)));
  if (options.url_safe) {
    std::replace(signature.begin(), signature.end(), '+', '-');
    std::replace(signature.begin(), signature.end(), '/', '_');
    signature.erase(signature.find_last_not_of('=') + 1);
  }
  return {{"host", options.host},
          {"date", date},
          {"digest", digest},
          {"Authorization", "Signature keyId=\"" + options.key_id +
                                "\", algorithm=\"rsa-sha256\", headers=\"" + options.header_list +
                                "\", signature=\"" + signature + "\""}};
}

}  // namespace qvpa::gbsim::testing
