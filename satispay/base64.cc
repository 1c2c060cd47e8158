#include "satispay/base64.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <random>

#include "base/error.h"
#include "base/text.h"
#include "satispay/crypto_blocks.h"

namespace qvpa {
namespace {

constexpr std::size_t kLineBytes = 57;  // 57 bytes encode to one 76-character line

// The process's pseudo-random generator for RandomBytes, seeded from the clock once.
class RandomSource {
 public:
  RandomSource()
      : engine_(static_cast<std::mt19937::result_type>(
            std::chrono::high_resolution_clock::now().time_since_epoch().count())) {}
  void Fill(std::vector<uint8_t>& bytes) {
    std::uniform_int_distribution<int> byte(0, 254);
    std::lock_guard lock(mutex_);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(byte(engine_));
  }

 private:
  std::mutex mutex_;
  std::mt19937 engine_;
};

RandomSource& ProcessRandom() {
  static RandomSource source;
  return source;
}
// Seed at load, as the generator has always been seeded.
[[maybe_unused]] const bool kSeededAtLoad = (ProcessRandom(), true);

bool IsBase64Char(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

[[noreturn]] void ThrowInvalid() { throw EQVError(u"Invalid Base64 text"); }

// The alphabet characters of a Base64 text without line breaks, padded to a multiple of
// four; throws on foreign characters, "=" inside the text or an impossible length.
std::string CleanBase64(const std::vector<uint8_t>& source) {
  std::string text;
  text.reserve(source.size());
  std::size_t padding = 0;
  for (uint8_t c : source) {
    if (c == '\r' || c == '\n') continue;
    if (c == '=') {
      ++padding;
    } else if (IsBase64Char(c) && padding == 0) {
      text.push_back(static_cast<char>(c));
    } else {
      ThrowInvalid();
    }
  }
  const std::size_t needed = (4 - text.size() % 4) % 4;
  if (needed == 3 || padding > needed) ThrowInvalid();
  text.append(needed, '=');
  return text;
}

}  // namespace

TJOSEBytes::TJOSEBytes(std::u16string_view aText) {
  std::string utf8 = ToUtf8(aText);
  FPayload.assign(utf8.begin(), utf8.end());
}

TJOSEBytes TJOSEBytes::FromByteString(std::string_view aBytes) {
  return TJOSEBytes(std::vector<uint8_t>(aBytes.begin(), aBytes.end()));
}

std::u16string TJOSEBytes::AsString() const {
  return FromUtf8(std::string_view(reinterpret_cast<const char*>(FPayload.data()), FPayload.size()));
}

bool TJOSEBytes::Contains(uint8_t AByte) const {
  return std::find(FPayload.begin(), FPayload.end(), AByte) != FPayload.end();
}

bool TJOSEBytes::Contains(std::span<const uint8_t> ABytes) const {
  if (ABytes.empty() || ABytes.size() > FPayload.size()) return false;
  return std::search(FPayload.begin(), FPayload.end(), ABytes.begin(), ABytes.end()) != FPayload.end();
}

TJOSEBytes TJOSEBytes::RandomBytes(std::size_t ANumberOfBytes) {
  std::vector<uint8_t> bytes(ANumberOfBytes);
  ProcessRandom().Fill(bytes);
  return TJOSEBytes(std::move(bytes));
}

TJOSEBytes operator+(const TJOSEBytes& a, uint8_t b) {
  std::vector<uint8_t> bytes = a.FPayload;
  bytes.push_back(b);
  return TJOSEBytes(std::move(bytes));
}

TJOSEBytes operator+(const TJOSEBytes& a, std::span<const uint8_t> b) {
  std::vector<uint8_t> bytes;
  bytes.reserve(a.FPayload.size() + b.size());
  bytes.insert(bytes.end(), a.FPayload.begin(), a.FPayload.end());
  bytes.insert(bytes.end(), b.begin(), b.end());
  return TJOSEBytes(std::move(bytes));
}

TJOSEBytes TBase64::Encode(const TJOSEBytes& ASource) {
  const std::vector<uint8_t>& in = ASource.AsBytes();
  const std::size_t lines = (in.size() + kLineBytes - 1) / kLineBytes;
  std::vector<uint8_t> out;
  out.reserve(lines * 78);
  for (std::size_t pos = 0; pos < in.size(); pos += kLineBytes) {
    if (pos != 0) {
      out.push_back('\r');
      out.push_back('\n');
    }
    const std::string line =
        EncodeBase64Block(std::span(in).subspan(pos, std::min(kLineBytes, in.size() - pos)));
    out.insert(out.end(), line.begin(), line.end());
  }
  return TJOSEBytes(std::move(out));
}

TJOSEBytes TBase64::Decode(const TJOSEBytes& ASource) {
  std::optional<std::vector<uint8_t>> bytes = DecodeBase64Block(CleanBase64(ASource.AsBytes()));
  if (!bytes) ThrowInvalid();
  return TJOSEBytes(std::move(*bytes));
}

TJOSEBytes TBase64::URLEncode(const TJOSEBytes& ASource) {
  std::vector<uint8_t> text = Encode(ASource).AsBytes();
  std::erase_if(text, [](uint8_t c) { return c == '\r' || c == '\n'; });
  while (!text.empty() && text.back() == '=') text.pop_back();
  for (uint8_t& c : text) {
    if (c == '+') c = '-';
    if (c == '/') c = '_';
  }
  return TJOSEBytes(std::move(text));
}

TJOSEBytes TBase64::URLDecode(const TJOSEBytes& ASource) {
  std::vector<uint8_t> text = ASource.AsBytes();
  text.insert(text.end(), (4 - text.size() % 4) % 4, '=');
  for (uint8_t& c : text) {
    if (c == '-') c = '+';
    else if (c == '_') c = '/';
    else if (c == '+' || c == '/') ThrowInvalid();  // not of the url alphabet
  }
  return Decode(TJOSEBytes(std::move(text)));
}

}  // namespace qvpa
