#include "satispay/crypto_blocks.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>

#include "base/error.h"

namespace qvpa {
namespace {
constexpr std::size_t kDecodeChunk = 4 * 4096;
constexpr std::size_t kEncodeChunk = 3 * 4096;
}  // namespace

std::string EncodeBase64Block(std::span<const uint8_t> bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  unsigned char chunk[kEncodeChunk / 3 * 4 + 1];
  for (std::size_t pos = 0; pos < bytes.size(); pos += kEncodeChunk) {
    const int n = static_cast<int>(std::min(kEncodeChunk, bytes.size() - pos));
    const int written = EVP_EncodeBlock(chunk, bytes.data() + pos, n);
    out.append(reinterpret_cast<const char*>(chunk), static_cast<std::size_t>(written));
  }
  return out;
}

std::optional<std::vector<uint8_t>> DecodeBase64Block(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::vector<uint8_t> out(text.size() / 4 * 3);
  std::size_t written = 0;
  for (std::size_t pos = 0; pos < text.size(); pos += kDecodeChunk) {
    const int n = static_cast<int>(std::min(kDecodeChunk, text.size() - pos));
    const int got = EVP_DecodeBlock(out.data() + written,
                                    reinterpret_cast<const unsigned char*>(text.data() + pos), n);
    if (got < 0) return std::nullopt;
    written += static_cast<std::size_t>(got);
  }
  // EVP_DecodeBlock counts the padding as zero bytes.
  const std::size_t last = text.find_last_not_of('=');
  const std::size_t padding = last == std::string_view::npos ? text.size() : text.size() - last - 1;
  out.resize(written - (text.empty() ? 0 : padding));
  return out;
}

void FillRandom(std::span<uint8_t> bytes) {
  if (!bytes.empty() && RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
    throw EQVError(u"Random generator failed");
  }
}

std::array<uint8_t, 32> Sha256(std::span<const uint8_t> bytes) {
  std::array<uint8_t, 32> hash{};
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), hash.data(), &length, EVP_sha256(), nullptr) != 1 ||
      length != hash.size()) {
    throw EQVError(u"SHA-256 digest failed");
  }
  return hash;
}

}  // namespace qvpa
