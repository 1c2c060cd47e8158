// Base64 blocks and SHA-256 from the platform's crypto library (OpenSSL, or crypt32 and
// CNG on Windows). Internal to the satispay subsystem.
#ifndef QVPA_SATISPAY_CRYPTO_BLOCKS_H_
#define QVPA_SATISPAY_CRYPTO_BLOCKS_H_

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qvpa {

// Standard alphabet, padded, no line breaks.
std::string EncodeBase64Block(std::span<const uint8_t> bytes);
// Bytes of padded standard-alphabet text without line breaks (length a multiple of 4);
// nullopt when the text is not such Base64.
std::optional<std::vector<uint8_t>> DecodeBase64Block(std::string_view text);
// Fills the bytes from the system's cryptographic random generator; throws EQVError
// "Random generator failed" when it fails.
void FillRandom(std::span<uint8_t> bytes);
// SHA-256 of the bytes; throws EQVError when the crypto library fails.
std::array<uint8_t, 32> Sha256(std::span<const uint8_t> bytes);

}  // namespace qvpa

#endif  // QVPA_SATISPAY_CRYPTO_BLOCKS_H_
