// The OLE string allocator for platforms without oleaut32.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "driver/ole_string.h"

namespace {

constexpr size_t kPrefixBytes = sizeof(uint32_t);
// The largest length whose byte count and terminator still fit the 32-bit prefix.
constexpr unsigned int kMaxLength = (std::numeric_limits<uint32_t>::max() - 2) / 2;

uint32_t* Prefix(BSTR aText) {
  return reinterpret_cast<uint32_t*>(reinterpret_cast<unsigned char*>(aText) - kPrefixBytes);
}

}  // namespace

extern "C" {

BSTR SysAllocStringLen(const OLECHAR* aText, unsigned int aLength) {
  if (aLength > kMaxLength) return nullptr;
  const size_t bytes = static_cast<size_t>(aLength) * sizeof(OLECHAR);
  void* block = std::malloc(kPrefixBytes + bytes + sizeof(OLECHAR));
  if (block == nullptr) return nullptr;
  const auto byte_count = static_cast<uint32_t>(bytes);
  std::memcpy(block, &byte_count, kPrefixBytes);
  auto* text = reinterpret_cast<BSTR>(static_cast<unsigned char*>(block) + kPrefixBytes);
  if (aText != nullptr) {
    std::memcpy(text, aText, bytes);
  } else {
    std::memset(text, 0, bytes);
  }
  text[aLength] = u'\0';
  return text;
}

BSTR SysAllocString(const OLECHAR* aText) {
  if (aText == nullptr) return nullptr;
  size_t length = 0;
  while (aText[length] != u'\0') ++length;
  if (length > kMaxLength) return nullptr;
  return SysAllocStringLen(aText, static_cast<unsigned int>(length));
}

void SysFreeString(BSTR aText) {
  if (aText != nullptr) std::free(Prefix(aText));
}

unsigned int SysStringLen(BSTR aText) {
  if (aText == nullptr) return 0;
  uint32_t bytes = 0;
  std::memcpy(&bytes, Prefix(aText), kPrefixBytes);
  return bytes / sizeof(OLECHAR);
}

}  // extern "C"
