// Owning handles of CNG and crypt32 objects, and hashing through CNG. Internal to the
// satispay subsystem's Windows files.
#ifndef QVPA_SATISPAY_CNG_WIN_H_
#define QVPA_SATISPAY_CNG_WIN_H_

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <cstdint>
#include <memory>
#include <span>
#include <type_traits>
#include <vector>

namespace qvpa::cng {

struct AlgorithmCloser {
  void operator()(void* h) const { BCryptCloseAlgorithmProvider(h, 0); }
};
struct HashCloser {
  void operator()(void* h) const { BCryptDestroyHash(h); }
};
struct KeyCloser {
  void operator()(void* h) const { BCryptDestroyKey(h); }
};
struct LocalCloser {
  void operator()(void* p) const { LocalFree(p); }
};
struct CertificateCloser {
  void operator()(const CERT_CONTEXT* c) const { CertFreeCertificateContext(c); }
};
using Algorithm = std::unique_ptr<std::remove_pointer_t<BCRYPT_ALG_HANDLE>, AlgorithmCloser>;
using Hash = std::unique_ptr<std::remove_pointer_t<BCRYPT_HASH_HANDLE>, HashCloser>;
using Key = std::unique_ptr<std::remove_pointer_t<BCRYPT_KEY_HANDLE>, KeyCloser>;
template <typename T>
using LocalBlock = std::unique_ptr<T, LocalCloser>;
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateCloser>;

// The provider of the algorithm (BCRYPT_SHA256_ALGORITHM, BCRYPT_RSA_ALGORITHM, ...); null
// with the status in `status` when it cannot be opened.
inline Algorithm OpenAlgorithm(LPCWSTR name, NTSTATUS& status) {
  BCRYPT_ALG_HANDLE handle = nullptr;
  status = BCryptOpenAlgorithmProvider(&handle, name, nullptr, 0);
  return Algorithm(BCRYPT_SUCCESS(status) ? handle : nullptr);
}

// The digest of `bytes` with the hash algorithm `name`; empty with the status in `status`
// when CNG fails.
inline std::vector<uint8_t> Digest(LPCWSTR name, std::span<const uint8_t> bytes, NTSTATUS& status) {
  Algorithm algorithm = OpenAlgorithm(name, status);
  if (!algorithm) return {};
  DWORD length = 0;
  ULONG got = 0;
  status = BCryptGetProperty(algorithm.get(), BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&length),
                             sizeof length, &got, 0);
  if (!BCRYPT_SUCCESS(status)) return {};
  BCRYPT_HASH_HANDLE raw = nullptr;
  status = BCryptCreateHash(algorithm.get(), &raw, nullptr, 0, nullptr, 0, 0);
  if (!BCRYPT_SUCCESS(status)) return {};
  Hash hash(raw);
  status = BCryptHashData(hash.get(), const_cast<PUCHAR>(bytes.data()),
                          static_cast<ULONG>(bytes.size()), 0);
  if (!BCRYPT_SUCCESS(status)) return {};
  std::vector<uint8_t> digest(length);
  status = BCryptFinishHash(hash.get(), digest.data(), length, 0);
  if (!BCRYPT_SUCCESS(status)) return {};
  return digest;
}

}  // namespace qvpa::cng

#endif  // QVPA_SATISPAY_CNG_WIN_H_
