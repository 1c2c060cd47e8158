#include "satispay/crypto_blocks.h"

#include <algorithm>

#include "base/error.h"
#include "satispay/cng_win.h"

namespace qvpa {

std::string EncodeBase64Block(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return {};
  constexpr DWORD kFlags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  DWORD length = 0;
  if (!CryptBinaryToStringA(bytes.data(), static_cast<DWORD>(bytes.size()), kFlags, nullptr, &length)) {
    throw EQVError(u"Base64 encoding failed");
  }
  std::string text(length, '\0');
  if (!CryptBinaryToStringA(bytes.data(), static_cast<DWORD>(bytes.size()), kFlags, text.data(),
                            &length)) {
    throw EQVError(u"Base64 encoding failed");
  }
  text.resize(length);  // the count excludes the terminator written after the text
  return text;
}

std::optional<std::vector<uint8_t>> DecodeBase64Block(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  if (text.empty()) return std::vector<uint8_t>{};
  std::vector<uint8_t> bytes(text.size() / 4 * 3);
  DWORD length = static_cast<DWORD>(bytes.size());
  if (!CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64,
                            bytes.data(), &length, nullptr, nullptr)) {
    return std::nullopt;
  }
  bytes.resize(length);
  return bytes;
}

void FillRandom(std::span<uint8_t> bytes) {
  if (!bytes.empty() &&
      !BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()),
                                      BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    throw EQVError(u"Random generator failed");
  }
}

std::array<uint8_t, 32> Sha256(std::span<const uint8_t> bytes) {
  NTSTATUS status = 0;
  const std::vector<uint8_t> digest = cng::Digest(BCRYPT_SHA256_ALGORITHM, bytes, status);
  std::array<uint8_t, 32> hash{};
  if (digest.size() != hash.size()) throw EQVError(u"SHA-256 digest failed");
  std::copy(digest.begin(), digest.end(), hash.begin());
  return hash;
}

}  // namespace qvpa
