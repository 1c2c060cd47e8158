// TRSA: RSASSA-PKCS1-v1_5 signatures with SHA-256/384/512 over RSA keys and X.509
// certificates given as PEM text. Stateless; failures throw EQVError with the fixed
// "[RSA] ..." / "[CERT] ..." messages, those ending in ": " followed by the crypto
// library's error text. A wrong signature is no error: Verify returns false.
#ifndef QVPA_SATISPAY_RSA_H_
#define QVPA_SATISPAY_RSA_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace qvpa {

enum class TRSAAlgorithm : uint8_t { RS256 = 0, RS384 = 1, RS512 = 2 };

// An RSA private key read once from PEM text and kept, so that signing does not parse the
// text again. Immutable after construction; signing from several threads is safe.
class TRSAPrivateKey {
 public:
  // Throws EQVError "[RSA] Unable to load private key: " + the crypto library's text when
  // the PEM text (PKCS#1 or PKCS#8, unencrypted) holds no RSA private key.
  explicit TRSAPrivateKey(std::span<const uint8_t> APem);
  ~TRSAPrivateKey();
  TRSAPrivateKey(TRSAPrivateKey&&) noexcept;
  TRSAPrivateKey& operator=(TRSAPrivateKey&&) noexcept;

  // RSASSA-PKCS1-v1_5 signature of AInput, as long as the key's modulus. Throws EQVError
  // with the "[RSA] ..." messages of TRSA::Sign.
  std::vector<uint8_t> Sign(std::span<const uint8_t> AInput, TRSAAlgorithm AAlg) const;

 private:
  struct Key;  // the crypto library's parsed key (rsa.cc, rsa_win.cc)
  std::unique_ptr<Key> fKey;
};

class TRSA {
 public:
  TRSA() = delete;

  // Signature of AInput with the RSA private key (PKCS#1 or PKCS#8 PEM, unencrypted) in
  // AKey; as long as the key's modulus (512 bytes for 4096 bits). Parses the key on every
  // call: a caller that signs repeatedly keeps a TRSAPrivateKey instead.
  static std::vector<uint8_t> Sign(std::span<const uint8_t> AInput, std::span<const uint8_t> AKey,
                                   TRSAAlgorithm AAlg);
  // Whether ASignature signs AInput under the public key (SubjectPublicKeyInfo or PKCS#1
  // "RSA PUBLIC KEY" PEM) or the RSA key of the X.509 certificate in AKeyOrCertificate.
  static bool Verify(std::span<const uint8_t> AInput, std::span<const uint8_t> ASignature,
                     std::span<const uint8_t> AKeyOrCertificate, TRSAAlgorithm AAlg);
  // Whether the text holds a loadable public key, or a certificate with an RSA key. Never
  // throws except "[CERT] No X509 certificate received" in the guard case.
  static bool VerifyPublicKey(std::span<const uint8_t> AKeyOrCertificate);
  // Whether the text holds a loadable unencrypted RSA private key. Never throws.
  static bool VerifyPrivateKey(std::span<const uint8_t> AKey);

  // Makes sure the crypto library offers what the operations need. The library is linked
  // at build time, so this cannot fail here.
  static void LoadOpenSSL();
  // The crypto library's text of the oldest error in this thread's queue (at most 160
  // characters); the queue is emptied.
  static std::u16string GetLastCryptoError();
};

}  // namespace qvpa

#endif  // QVPA_SATISPAY_RSA_H_
