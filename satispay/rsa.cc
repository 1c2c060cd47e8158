#include "satispay/rsa.h"

#include <climits>
#include <memory>
#include <string_view>

#include <openssl/bio.h>
#include <openssl/decoder.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "base/error.h"
#include "base/text.h"

namespace qvpa {
namespace {

constexpr std::string_view kCertificateHeader = "-----BEGIN CERTIFICATE-----";
constexpr std::string_view kRsaPublicKeyHeader = "-----BEGIN RSA PUBLIC KEY-----";

template <auto Free>
struct Deleter {
  template <typename T>
  void operator()(T* p) const {
    Free(p);
  }
};
using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509_free>>;
using DecoderCtxPtr = std::unique_ptr<OSSL_DECODER_CTX, Deleter<OSSL_DECODER_CTX_free>>;

[[noreturn]] void Fail(std::u16string_view message) { throw EQVError(std::u16string(message)); }
[[noreturn]] void FailWithCryptoError(std::u16string_view message) {
  throw EQVError(std::u16string(message) + TRSA::GetLastCryptoError());
}

bool StartsWith(std::span<const uint8_t> text, std::string_view header) {
  return text.size() >= header.size() &&
         std::string_view(reinterpret_cast<const char*>(text.data()), header.size()) == header;
}

// A read-only memory stream over the given bytes.
BioPtr MemoryStream(std::span<const uint8_t> bytes) {
  // An empty span may carry a null pointer, which the library reads as "use strlen".
  static const char kNothing[] = "";
  // Texts beyond the stream's int length are read as nothing (no key).
  const bool usable = !bytes.empty() && bytes.size() <= static_cast<std::size_t>(INT_MAX);
  BioPtr bio(BIO_new_mem_buf(usable ? bytes.data() : static_cast<const void*>(kNothing),
                             usable ? static_cast<int>(bytes.size()) : 0));
  if (!bio) throw std::bad_alloc();
  return bio;
}

// Passphrase callback refusing every request: keys are read without a password and an
// encrypted key must fail instead of prompting on the terminal.
int NoPassphrase(char*, int, int, void*) { return -1; }

// Leaves an "expecting an rsa key" entry in the error queue for a key of another kind.
PkeyPtr RequireRsa(PkeyPtr key) {
  if (key && EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) {
    ERR_raise(ERR_LIB_EVP, EVP_R_EXPECTING_AN_RSA_KEY);
    key.reset();
  }
  return key;
}

PkeyPtr ReadPrivateKey(std::span<const uint8_t> pem) {
  BioPtr bio = MemoryStream(pem);
  return RequireRsa(PkeyPtr(PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassphrase, nullptr)));
}

// A PKCS#1 "RSA PUBLIC KEY" block when the text starts with that header, otherwise a
// SubjectPublicKeyInfo block.
PkeyPtr ReadPublicKey(std::span<const uint8_t> pem) {
  BioPtr bio = MemoryStream(pem);
  if (!StartsWith(pem, kRsaPublicKeyHeader)) {
    return RequireRsa(PkeyPtr(PEM_read_bio_PUBKEY(bio.get(), nullptr, NoPassphrase, nullptr)));
  }
  EVP_PKEY* key = nullptr;
  DecoderCtxPtr decoder(OSSL_DECODER_CTX_new_for_pkey(&key, "PEM", "type-specific", "RSA",
                                                      EVP_PKEY_PUBLIC_KEY, nullptr, nullptr));
  if (!decoder) return nullptr;
  if (OSSL_DECODER_from_bio(decoder.get(), bio.get()) != 1) {
    EVP_PKEY_free(key);
    return nullptr;
  }
  return PkeyPtr(key);
}

const EVP_MD* Digest(TRSAAlgorithm alg) {
  switch (alg) {
    case TRSAAlgorithm::RS256:
      return EVP_sha256();
    case TRSAAlgorithm::RS384:
      return EVP_sha384();
    case TRSAAlgorithm::RS512:
      return EVP_sha512();
  }
  Fail(u"[RSA] Unsupported signing algorithm!");
}

MdCtxPtr NewDigestContext() {
  MdCtxPtr ctx(EVP_MD_CTX_new());
  if (!ctx) FailWithCryptoError(u"[RSA] Unable to init context: ");
  return ctx;
}

// Digest-verifies with a loaded public key; true only for a valid signature.
bool VerifyWithKey(EVP_PKEY* key, std::span<const uint8_t> input, std::span<const uint8_t> signature,
                   TRSAAlgorithm alg) {
  const EVP_MD* md = Digest(alg);
  MdCtxPtr ctx = NewDigestContext();
  if (EVP_DigestVerifyInit(ctx.get(), nullptr, md, nullptr, key) != 1) {
    FailWithCryptoError(u"[RSA] Unable to init context: ");
  }
  if (EVP_DigestVerifyUpdate(ctx.get(), input.data(), input.size()) != 1) {
    FailWithCryptoError(u"[RSA] Unable to update context with payload: ");
  }
  const bool valid = EVP_DigestVerifyFinal(ctx.get(), signature.data(), signature.size()) == 1;
  ERR_clear_error();  // a mismatch leaves entries that must not show up in later messages
  return valid;
}

// The certificate's RSA public key, or the reason it has none.
PkeyPtr CertificateKey(std::span<const uint8_t> pem, std::u16string_view& failure) {
  if (!StartsWith(pem, kCertificateHeader)) Fail(u"[CERT] No X509 certificate received");
  BioPtr bio = MemoryStream(pem);
  X509Ptr cert(PEM_read_bio_X509(bio.get(), nullptr, NoPassphrase, nullptr));
  if (!cert) {
    failure = u"[CERT] Failure by X509 certificate loading";
    return nullptr;
  }
  PkeyPtr key(X509_get_pubkey(cert.get()));
  if (!key) {
    failure = u"[CERT] Failure by public key extracting from X509 certificate";
    return nullptr;
  }
  if (EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) {
    failure = u"[CERT] Unsupported algorithm type in X509 public key (RSA expected)";
    return nullptr;
  }
  return key;
}

}  // namespace

void TRSA::LoadOpenSSL() {
  // The crypto library is linked into the program: nothing to load or look up. A build
  // that loads it at run time reports "[RSA] Unable to load OpenSSL libraries" here.
}

std::u16string TRSA::GetLastCryptoError() {
  char text[161] = {};
  ERR_error_string_n(ERR_get_error(), text, sizeof text);
  ERR_clear_error();
  return FromUtf8(text);
}

struct TRSAPrivateKey::Key {
  PkeyPtr pkey;
};

TRSAPrivateKey::TRSAPrivateKey(std::span<const uint8_t> APem) {
  TRSA::LoadOpenSSL();
  ERR_clear_error();
  PkeyPtr key = ReadPrivateKey(APem);
  if (!key) FailWithCryptoError(u"[RSA] Unable to load private key: ");
  fKey = std::make_unique<Key>(Key{std::move(key)});
}

TRSAPrivateKey::~TRSAPrivateKey() = default;
TRSAPrivateKey::TRSAPrivateKey(TRSAPrivateKey&&) noexcept = default;
TRSAPrivateKey& TRSAPrivateKey::operator=(TRSAPrivateKey&&) noexcept = default;

std::vector<uint8_t> TRSAPrivateKey::Sign(std::span<const uint8_t> AInput, TRSAAlgorithm AAlg) const {
  ERR_clear_error();
  const EVP_MD* md = Digest(AAlg);
  MdCtxPtr ctx = NewDigestContext();
  if (EVP_DigestSignInit(ctx.get(), nullptr, md, nullptr, fKey->pkey.get()) != 1) {
    FailWithCryptoError(u"[RSA] Unable to init context: ");
  }
  if (EVP_DigestSignUpdate(ctx.get(), AInput.data(), AInput.size()) != 1) {
    FailWithCryptoError(u"[RSA] Unable to update context with payload: ");
  }
  std::size_t length = 0;
  std::vector<uint8_t> signature;
  if (EVP_DigestSignFinal(ctx.get(), nullptr, &length) == 1) {
    signature.resize(length);
    if (EVP_DigestSignFinal(ctx.get(), signature.data(), &length) != 1) length = 0;
  }
  if (length == 0) FailWithCryptoError(u"[RSA] Unable to create signature: ");
  signature.resize(length);
  return signature;
}

std::vector<uint8_t> TRSA::Sign(std::span<const uint8_t> AInput, std::span<const uint8_t> AKey,
                                TRSAAlgorithm AAlg) {
  return TRSAPrivateKey(AKey).Sign(AInput, AAlg);
}

bool TRSA::Verify(std::span<const uint8_t> AInput, std::span<const uint8_t> ASignature,
                  std::span<const uint8_t> AKeyOrCertificate, TRSAAlgorithm AAlg) {
  LoadOpenSSL();
  ERR_clear_error();
  if (StartsWith(AKeyOrCertificate, kCertificateHeader)) {
    std::u16string_view failure;
    PkeyPtr key = CertificateKey(AKeyOrCertificate, failure);
    if (!key) Fail(failure);
    return VerifyWithKey(key.get(), AInput, ASignature, AAlg);
  }
  PkeyPtr key = ReadPublicKey(AKeyOrCertificate);
  if (!key) FailWithCryptoError(u"[RSA] Unable to load public key: ");
  return VerifyWithKey(key.get(), AInput, ASignature, AAlg);
}

bool TRSA::VerifyPublicKey(std::span<const uint8_t> AKeyOrCertificate) {
  LoadOpenSSL();
  std::u16string_view failure;
  const bool loaded = StartsWith(AKeyOrCertificate, kCertificateHeader)
                          ? CertificateKey(AKeyOrCertificate, failure) != nullptr
                          : ReadPublicKey(AKeyOrCertificate) != nullptr;
  ERR_clear_error();
  return loaded;
}

bool TRSA::VerifyPrivateKey(std::span<const uint8_t> AKey) {
  LoadOpenSSL();
  const bool loaded = ReadPrivateKey(AKey) != nullptr;
  ERR_clear_error();
  return loaded;
}

}  // namespace qvpa
