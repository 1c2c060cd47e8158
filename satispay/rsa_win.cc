// TRSA over CNG. PEM texts are decoded with crypt32; PKCS#8 private keys are unwrapped here
// (the PKCS#8 decoder is missing from some crypt32 implementations), PKCS#1 keys are decoded
// into the legacy key blobs and rewritten as CNG blobs. "[RSA] Unable to update context with
// payload: " cannot occur: the digest is computed in one call before signing.
#include "satispay/rsa.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "base/error.h"
#include "base/text.h"
#include "satispay/cng_win.h"

namespace qvpa {
namespace {

constexpr std::string_view kCertificateLabel = "CERTIFICATE";
constexpr std::string_view kRsaPublicKeyLabel = "RSA PUBLIC KEY";
constexpr std::string_view kPublicKeyLabel = "PUBLIC KEY";
constexpr std::string_view kRsaPrivateKeyLabel = "RSA PRIVATE KEY";
constexpr std::string_view kPrivateKeyLabel = "PRIVATE KEY";
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// The text of the last failure on this thread, read by GetLastCryptoError. Kept in a plain
// array: a thread-local object with a destructor would make the runtime hold a reference on
// the DLL until the calling (host) thread ends, so FreeLibrary could never unload it.
constexpr std::size_t kErrorCapacity = 160;
struct LastError {
  char16_t text[kErrorCapacity];
  std::size_t length;
  void clear() { length = 0; }
  bool empty() const { return length == 0; }
};
thread_local LastError tLastError{};

void SetError(std::u16string_view text) {
  tLastError.length = std::min(text.size(), kErrorCapacity);
  std::copy_n(text.begin(), tLastError.length, tLastError.text);
}
std::u16string Hex32(uint32_t value) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  std::u16string text(8, u'0');
  for (int i = 7; i >= 0; --i, value >>= 4) text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
  return text;
}
void SetStatusError(std::u16string_view what, NTSTATUS status) {
  SetError(std::u16string(what) + u" (status 0x" + Hex32(static_cast<uint32_t>(status)) + u")");
}
void SetWin32Error(std::u16string_view what) {
  SetError(std::u16string(what) + u" (error " + IntToStr(static_cast<int64_t>(GetLastError())) + u")");
}

[[noreturn]] void Fail(std::u16string_view message) { throw EQVError(std::u16string(message)); }
[[noreturn]] void FailWithCryptoError(std::u16string_view message) {
  throw EQVError(std::u16string(message) + TRSA::GetLastCryptoError());
}

// One PEM block: its label ("RSA PRIVATE KEY", ...) and DER bytes.
struct PemBlock {
  std::string label;
  std::vector<uint8_t> der;
};

std::optional<PemBlock> ReadPem(std::span<const uint8_t> text) {
  const std::string_view all(reinterpret_cast<const char*>(text.data()), text.size());
  constexpr std::string_view kBegin = "-----BEGIN ";
  const std::size_t begin = all.find(kBegin);
  if (begin == std::string_view::npos) {
    SetError(u"no PEM block found");
    return std::nullopt;
  }
  const std::size_t label_start = begin + kBegin.size();
  const std::size_t label_end = all.find("-----", label_start);
  if (label_end == std::string_view::npos) {
    SetError(u"malformed PEM header");
    return std::nullopt;
  }
  PemBlock block{std::string(all.substr(label_start, label_end - label_start)), {}};
  const std::string end_line = "-----END " + block.label + "-----";
  const std::size_t body_start = label_end + 5;
  const std::size_t body_end = all.find(end_line, body_start);
  if (body_end == std::string_view::npos) {
    SetError(u"PEM end line missing");
    return std::nullopt;
  }
  const std::string_view body = all.substr(body_start, body_end - body_start);
  if (body.find(':') != std::string_view::npos) {
    SetError(u"encrypted PEM blocks are not supported");
    return std::nullopt;
  }
  DWORD length = 0;
  if (!CryptStringToBinaryA(body.data(), static_cast<DWORD>(body.size()), CRYPT_STRING_BASE64, nullptr,
                            &length, nullptr, nullptr)) {
    SetWin32Error(u"bad Base64 in PEM block");
    return std::nullopt;
  }
  block.der.resize(length);
  if (!CryptStringToBinaryA(body.data(), static_cast<DWORD>(body.size()), CRYPT_STRING_BASE64,
                            block.der.data(), &length, nullptr, nullptr)) {
    SetWin32Error(u"bad Base64 in PEM block");
    return std::nullopt;
  }
  block.der.resize(length);
  return block;
}

// Decodes with crypt32 into a block it allocates.
template <typename T = BYTE>
cng::LocalBlock<T> Decode(LPCSTR type, std::span<const uint8_t> der, DWORD& size) {
  void* out = nullptr;
  size = 0;
  if (!CryptDecodeObjectEx(kEncoding, type, der.data(), static_cast<DWORD>(der.size()),
                           CRYPT_DECODE_ALLOC_FLAG, nullptr, &out, &size)) {
    SetWin32Error(u"ASN.1 decoding failed");
    return nullptr;
  }
  return cng::LocalBlock<T>(static_cast<T*>(out));
}

// A minimal DER reader for the PKCS#8 envelope.
class DerReader {
 public:
  explicit DerReader(std::span<const uint8_t> der) : rest_(der) {}
  // The contents of the next element when its tag matches.
  std::optional<std::span<const uint8_t>> Next(uint8_t tag) {
    if (rest_.size() < 2 || rest_[0] != tag) return std::nullopt;
    std::size_t length = rest_[1];
    std::size_t header = 2;
    if (length & 0x80) {
      const std::size_t count = length & 0x7F;
      if (count == 0 || count > 4 || rest_.size() < 2 + count) return std::nullopt;
      length = 0;
      for (std::size_t i = 0; i < count; ++i) length = (length << 8) | rest_[2 + i];
      header += count;
    }
    if (rest_.size() - header < length) return std::nullopt;
    const auto contents = rest_.subspan(header, length);
    rest_ = rest_.subspan(header + length);
    return contents;
  }

 private:
  std::span<const uint8_t> rest_;
};

// The RSAPrivateKey inside a PKCS#8 PrivateKeyInfo of an rsaEncryption key.
std::optional<std::vector<uint8_t>> UnwrapPkcs8(std::span<const uint8_t> der) {
  static constexpr uint8_t kRsaEncryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
  DerReader outer(der);
  const auto info = outer.Next(0x30);
  if (!info) return std::nullopt;
  DerReader fields(*info);
  if (!fields.Next(0x02)) return std::nullopt;  // version
  const auto algorithm = fields.Next(0x30);
  if (!algorithm) return std::nullopt;
  DerReader algorithm_fields(*algorithm);
  const auto oid = algorithm_fields.Next(0x06);
  if (!oid || !std::ranges::equal(*oid, kRsaEncryption)) {
    SetError(u"expecting an rsa key");
    return std::nullopt;
  }
  const auto key = fields.Next(0x04);
  if (!key) return std::nullopt;
  return std::vector<uint8_t>(key->begin(), key->end());
}

// Appends `count` bytes of a little-endian number as big-endian.
void AppendReversed(std::vector<uint8_t>& out, const BYTE* little_endian, std::size_t count) {
  for (std::size_t i = count; i > 0; --i) out.push_back(little_endian[i - 1]);
}

void AppendExponent(std::vector<uint8_t>& out, DWORD exponent, ULONG& length) {
  uint8_t bytes[4] = {static_cast<uint8_t>(exponent >> 24), static_cast<uint8_t>(exponent >> 16),
                      static_cast<uint8_t>(exponent >> 8), static_cast<uint8_t>(exponent)};
  std::size_t first = 0;
  while (first < 3 && bytes[first] == 0) ++first;
  for (std::size_t i = first; i < 4; ++i) out.push_back(bytes[i]);
  length = static_cast<ULONG>(4 - first);
}

cng::Key ImportBlob(LPCWSTR type, std::vector<uint8_t>& blob) {
  NTSTATUS status = 0;
  cng::Algorithm rsa = cng::OpenAlgorithm(BCRYPT_RSA_ALGORITHM, status);
  if (!rsa) {
    SetStatusError(u"RSA provider unavailable", status);
    return nullptr;
  }
  BCRYPT_KEY_HANDLE key = nullptr;
  status = BCryptImportKeyPair(rsa.get(), nullptr, type, &key, blob.data(),
                               static_cast<ULONG>(blob.size()), 0);
  if (!BCRYPT_SUCCESS(status)) {
    SetStatusError(u"key import failed", status);
    return nullptr;
  }
  return cng::Key(key);
}

// A legacy key blob decoded by crypt32: BLOBHEADER, RSAPUBKEY, then the numbers,
// little-endian.
struct LegacyKey {
  cng::LocalBlock<BYTE> block;
  DWORD size = 0;
  RSAPUBKEY header{};
  const BYTE* numbers = nullptr;  // right after the headers
};

// Decodes `der` as `type`; null block when it fails or holds less than the modulus and
// `primes` primes.
LegacyKey DecodeLegacyKey(LPCSTR type, std::span<const uint8_t> der, int primes) {
  LegacyKey key;
  key.block = Decode(type, der, key.size);
  if (!key.block) return key;
  constexpr std::size_t kHeaders = sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
  if (key.size >= kHeaders) std::memcpy(&key.header, key.block.get() + sizeof(BLOBHEADER), sizeof key.header);
  const std::size_t needed = kHeaders + key.header.bitlen / 8 + primes * ((key.header.bitlen + 15) / 16);
  if (key.size < kHeaders || key.size < needed) {
    SetError(u"short key blob");
    key.block.reset();
    return key;
  }
  key.numbers = key.block.get() + kHeaders;
  return key;
}

// A CNG key blob's fixed part, with the public exponent and the modulus appended.
std::vector<uint8_t> StartBlob(const LegacyKey& legacy, ULONG magic, BCRYPT_RSAKEY_BLOB& head) {
  std::vector<uint8_t> blob(sizeof(BCRYPT_RSAKEY_BLOB));
  head.Magic = magic;
  head.BitLength = legacy.header.bitlen;
  head.cbModulus = legacy.header.bitlen / 8;
  AppendExponent(blob, legacy.header.pubexp, head.cbPublicExp);
  AppendReversed(blob, legacy.numbers, head.cbModulus);
  return blob;
}

// A CNG key from a PKCS#1 RSAPrivateKey (modulus then both primes in the legacy blob).
cng::Key ImportPkcs1PrivateKey(std::span<const uint8_t> der) {
  LegacyKey legacy = DecodeLegacyKey(PKCS_RSA_PRIVATE_KEY, der, 2);
  if (!legacy.block) return nullptr;
  BCRYPT_RSAKEY_BLOB head{};
  std::vector<uint8_t> blob = StartBlob(legacy, BCRYPT_RSAPRIVATE_MAGIC, head);
  head.cbPrime1 = head.cbPrime2 = (legacy.header.bitlen + 15) / 16;
  const BYTE* prime1 = legacy.numbers + head.cbModulus;
  AppendReversed(blob, prime1, head.cbPrime1);
  AppendReversed(blob, prime1 + head.cbPrime1, head.cbPrime2);
  std::memcpy(blob.data(), &head, sizeof head);
  cng::Key key = ImportBlob(BCRYPT_RSAPRIVATE_BLOB, blob);
  SecureZeroMemory(blob.data(), blob.size());
  SecureZeroMemory(legacy.block.get(), legacy.size);
  return key;
}

// A CNG key from a PKCS#1 RSAPublicKey.
cng::Key ImportPkcs1PublicKey(std::span<const uint8_t> der) {
  LegacyKey legacy = DecodeLegacyKey(RSA_CSP_PUBLICKEYBLOB, der, 0);
  if (!legacy.block) return nullptr;
  BCRYPT_RSAKEY_BLOB head{};
  std::vector<uint8_t> blob = StartBlob(legacy, BCRYPT_RSAPUBLIC_MAGIC, head);
  std::memcpy(blob.data(), &head, sizeof head);
  return ImportBlob(BCRYPT_RSAPUBLIC_BLOB, blob);
}

// The RSA key of a SubjectPublicKeyInfo; null with `not_rsa` set for another algorithm.
cng::Key ImportPublicKeyInfo(const CERT_PUBLIC_KEY_INFO& info, bool& not_rsa) {
  not_rsa = info.Algorithm.pszObjId == nullptr || std::strcmp(info.Algorithm.pszObjId, szOID_RSA_RSA) != 0;
  if (not_rsa) {
    SetError(u"expecting an rsa key");
    return nullptr;
  }
  return ImportPkcs1PublicKey(std::span(info.PublicKey.pbData, info.PublicKey.cbData));
}

cng::Key ReadPrivateKey(std::span<const uint8_t> pem) {
  std::optional<PemBlock> block = ReadPem(pem);
  if (!block) return nullptr;
  if (block->label == kRsaPrivateKeyLabel) return ImportPkcs1PrivateKey(block->der);
  if (block->label == kPrivateKeyLabel) {
    std::optional<std::vector<uint8_t>> inner = UnwrapPkcs8(block->der);
    if (!inner) {
      if (tLastError.empty()) SetError(u"malformed PKCS#8 key");
      return nullptr;
    }
    cng::Key key = ImportPkcs1PrivateKey(*inner);
    SecureZeroMemory(inner->data(), inner->size());
    return key;
  }
  SetError(u"no private key in PEM block " + FromUtf8(block->label));
  return nullptr;
}

cng::Key ReadPublicKey(std::span<const uint8_t> pem) {
  std::optional<PemBlock> block = ReadPem(pem);
  if (!block) return nullptr;
  if (block->label == kRsaPublicKeyLabel) return ImportPkcs1PublicKey(block->der);
  if (block->label != kPublicKeyLabel) {
    SetError(u"no public key in PEM block " + FromUtf8(block->label));
    return nullptr;
  }
  DWORD size = 0;
  cng::LocalBlock<CERT_PUBLIC_KEY_INFO> info = Decode<CERT_PUBLIC_KEY_INFO>(X509_PUBLIC_KEY_INFO, block->der, size);
  if (!info) return nullptr;
  bool not_rsa = false;
  return ImportPublicKeyInfo(*info, not_rsa);
}

bool IsCertificate(std::span<const uint8_t> text) {
  const std::string_view all(reinterpret_cast<const char*>(text.data()), text.size());
  return all.starts_with("-----BEGIN CERTIFICATE-----");
}

// The certificate's RSA public key, or the reason it has none.
cng::Key CertificateKey(std::span<const uint8_t> pem, std::u16string_view& failure) {
  if (!IsCertificate(pem)) Fail(u"[CERT] No X509 certificate received");
  std::optional<PemBlock> block = ReadPem(pem);
  cng::Certificate cert;
  if (block && block->label == kCertificateLabel) {
    cert.reset(CertCreateCertificateContext(kEncoding, block->der.data(),
                                            static_cast<DWORD>(block->der.size())));
  }
  if (!cert) {
    failure = u"[CERT] Failure by X509 certificate loading";
    return nullptr;
  }
  bool not_rsa = false;
  cng::Key key = ImportPublicKeyInfo(cert->pCertInfo->SubjectPublicKeyInfo, not_rsa);
  if (!key) {
    failure = not_rsa ? u"[CERT] Unsupported algorithm type in X509 public key (RSA expected)"
                      : u"[CERT] Failure by public key extracting from X509 certificate";
  }
  return key;
}

LPCWSTR HashName(TRSAAlgorithm alg) {
  switch (alg) {
    case TRSAAlgorithm::RS256: return BCRYPT_SHA256_ALGORITHM;
    case TRSAAlgorithm::RS384: return BCRYPT_SHA384_ALGORITHM;
    case TRSAAlgorithm::RS512: return BCRYPT_SHA512_ALGORITHM;
  }
  Fail(u"[RSA] Unsupported signing algorithm!");
}

std::vector<uint8_t> DigestOf(std::span<const uint8_t> input, TRSAAlgorithm alg) {
  NTSTATUS status = 0;
  std::vector<uint8_t> digest = cng::Digest(HashName(alg), input, status);
  if (digest.empty()) {
    SetStatusError(u"digest failed", status);
    FailWithCryptoError(u"[RSA] Unable to init context: ");
  }
  return digest;
}

bool VerifyWithKey(BCRYPT_KEY_HANDLE key, std::span<const uint8_t> input,
                   std::span<const uint8_t> signature, TRSAAlgorithm alg) {
  std::vector<uint8_t> digest = DigestOf(input, alg);
  BCRYPT_PKCS1_PADDING_INFO padding{HashName(alg)};
  const NTSTATUS status = BCryptVerifySignature(
      key, &padding, digest.data(), static_cast<ULONG>(digest.size()),
      const_cast<PUCHAR>(signature.data()), static_cast<ULONG>(signature.size()), BCRYPT_PAD_PKCS1);
  tLastError.clear();
  return BCRYPT_SUCCESS(status);
}

}  // namespace

void TRSA::LoadOpenSSL() {
  // CNG is part of the system: nothing to load or look up.
}

std::u16string TRSA::GetLastCryptoError() {
  std::u16string text(tLastError.text, tLastError.length);
  tLastError.clear();
  return text;
}

struct TRSAPrivateKey::Key {
  cng::Key key;
};

TRSAPrivateKey::TRSAPrivateKey(std::span<const uint8_t> APem) {
  TRSA::LoadOpenSSL();
  tLastError.clear();
  cng::Key key = ReadPrivateKey(APem);
  if (!key) FailWithCryptoError(u"[RSA] Unable to load private key: ");
  fKey = std::make_unique<Key>(Key{std::move(key)});
}

TRSAPrivateKey::~TRSAPrivateKey() = default;
TRSAPrivateKey::TRSAPrivateKey(TRSAPrivateKey&&) noexcept = default;
TRSAPrivateKey& TRSAPrivateKey::operator=(TRSAPrivateKey&&) noexcept = default;

std::vector<uint8_t> TRSAPrivateKey::Sign(std::span<const uint8_t> AInput, TRSAAlgorithm AAlg) const {
  tLastError.clear();
  std::vector<uint8_t> digest = DigestOf(AInput, AAlg);
  BCRYPT_PKCS1_PADDING_INFO padding{HashName(AAlg)};
  ULONG length = 0;
  NTSTATUS status = BCryptSignHash(fKey->key.get(), &padding, digest.data(),
                                   static_cast<ULONG>(digest.size()), nullptr, 0, &length, BCRYPT_PAD_PKCS1);
  std::vector<uint8_t> signature;
  if (BCRYPT_SUCCESS(status)) {
    signature.resize(length);
    status = BCryptSignHash(fKey->key.get(), &padding, digest.data(), static_cast<ULONG>(digest.size()),
                            signature.data(), length, &length, BCRYPT_PAD_PKCS1);
  }
  if (!BCRYPT_SUCCESS(status) || length == 0) {
    SetStatusError(u"signing failed", status);
    FailWithCryptoError(u"[RSA] Unable to create signature: ");
  }
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
  tLastError.clear();
  if (IsCertificate(AKeyOrCertificate)) {
    std::u16string_view failure;
    cng::Key key = CertificateKey(AKeyOrCertificate, failure);
    if (!key) Fail(failure);
    return VerifyWithKey(key.get(), AInput, ASignature, AAlg);
  }
  cng::Key key = ReadPublicKey(AKeyOrCertificate);
  if (!key) FailWithCryptoError(u"[RSA] Unable to load public key: ");
  return VerifyWithKey(key.get(), AInput, ASignature, AAlg);
}

bool TRSA::VerifyPublicKey(std::span<const uint8_t> AKeyOrCertificate) {
  LoadOpenSSL();
  std::u16string_view failure;
  const bool loaded = IsCertificate(AKeyOrCertificate)
                          ? CertificateKey(AKeyOrCertificate, failure) != nullptr
                          : ReadPublicKey(AKeyOrCertificate) != nullptr;
  tLastError.clear();
  return loaded;
}

bool TRSA::VerifyPrivateKey(std::span<const uint8_t> AKey) {
  LoadOpenSSL();
  const bool loaded = ReadPrivateKey(AKey) != nullptr;
  tLastError.clear();
  return loaded;
}

}  // namespace qvpa
