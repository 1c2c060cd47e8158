// TJOSEBytes, a byte container converting to and from text as UTF-8, and TBase64,
// standard Base64 (CR LF after every 76 characters) and base64url (no padding) on it.
#ifndef QVPA_SATISPAY_BASE64_H_
#define QVPA_SATISPAY_BASE64_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qvpa {

class TJOSEBytes {
 public:
  TJOSEBytes() = default;
  TJOSEBytes(std::vector<uint8_t> aBytes) : FPayload(std::move(aBytes)) {}  // NOLINT: implicit
  TJOSEBytes(std::u16string_view aText);                                    // NOLINT: UTF-8 bytes
  TJOSEBytes(const char16_t* aText) : TJOSEBytes(std::u16string_view(aText)) {}  // NOLINT
  // The bytes of a narrow string taken as they are (already encoded text, key files).
  static TJOSEBytes FromByteString(std::string_view aBytes);

  const std::vector<uint8_t>& AsBytes() const { return FPayload; }
  // UTF-8 decoding of the bytes; malformed sequences become U+FFFD.
  std::u16string AsString() const;
  std::string AsByteString() const { return std::string(FPayload.begin(), FPayload.end()); }

  static TJOSEBytes Empty() { return TJOSEBytes(); }
  bool IsEmpty() const { return FPayload.empty(); }
  std::size_t Size() const { return FPayload.size(); }
  void Clear() { FPayload.clear(); }

  bool Contains(uint8_t AByte) const;
  // Whether the sequence occurs as a contiguous run; an empty sequence never does.
  bool Contains(std::span<const uint8_t> ABytes) const;
  bool Contains(const TJOSEBytes& ABytes) const { return Contains(std::span(ABytes.FPayload)); }

  // A new container of that many bytes, each drawn from 0..254 by the process's
  // pseudo-random generator (seeded from the clock at load; not for secrets).
  static TJOSEBytes RandomBytes(std::size_t ANumberOfBytes);

  friend bool operator==(const TJOSEBytes& a, const TJOSEBytes& b) { return a.FPayload == b.FPayload; }
  friend bool operator==(const TJOSEBytes& a, const std::vector<uint8_t>& b) { return a.FPayload == b; }
  friend bool operator==(const TJOSEBytes& a, std::u16string_view b) { return a == TJOSEBytes(b); }
  friend bool operator==(const TJOSEBytes& a, const char16_t* b) { return a == TJOSEBytes(b); }

  friend TJOSEBytes operator+(const TJOSEBytes& a, uint8_t b);
  friend TJOSEBytes operator+(const TJOSEBytes& a, std::span<const uint8_t> b);
  friend TJOSEBytes operator+(const TJOSEBytes& a, const std::vector<uint8_t>& b) {
    return a + std::span(b);
  }
  friend TJOSEBytes operator+(const TJOSEBytes& a, const TJOSEBytes& b) { return a + std::span(b.FPayload); }
  friend TJOSEBytes operator+(const TJOSEBytes& a, std::u16string_view b) { return a + TJOSEBytes(b); }
  friend TJOSEBytes operator+(const TJOSEBytes& a, const char16_t* b) { return a + TJOSEBytes(b); }

 private:
  std::vector<uint8_t> FPayload;
};

class TBase64 {
 public:
  TBase64() = delete;

  // Standard alphabet with "=" padding; CR LF after every 76 output characters (none at the end).
  static TJOSEBytes Encode(const TJOSEBytes& ASource);
  // Reverses Encode; CR and LF are skipped, missing padding is tolerated. Throws EQVError
  // "Invalid Base64 text" on any other character outside the alphabet or misplaced "=".
  static TJOSEBytes Decode(const TJOSEBytes& ASource);
  // base64url on one line, without padding.
  static TJOSEBytes URLEncode(const TJOSEBytes& ASource);
  // base64url with or without padding back to bytes; throws as Decode.
  static TJOSEBytes URLDecode(const TJOSEBytes& ASource);
};

}  // namespace qvpa

#endif  // QVPA_SATISPAY_BASE64_H_
