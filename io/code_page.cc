#include "io/code_page.h"

#include "base/error.h"
#include "base/text.h"

namespace qvpa {

std::u16string UnencodableCharacterMessage(char32_t aCharacter, int32_t aCodePage) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string code;
  for (int shift = aCharacter > 0xFFFF ? 20 : 12; shift >= 0; shift -= 4) {
    code += kHex[(aCharacter >> shift) & 0xF];
  }
  std::u16string character;
  if (aCharacter > 0xFFFF) {
    const char32_t v = aCharacter - 0x10000;
    character += static_cast<char16_t>(0xD800 + (v >> 10));
    character += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
  } else {
    character += static_cast<char16_t>(aCharacter);
  }
  const std::u16string page =
      aCodePage == 0 ? std::u16string(u"one byte per character") : u"code page " + IntToStr(aCodePage);
  return u"Character \"" + character + u"\" (U+" + FromAscii(code) + u") has no byte in " + page;
}

std::string EncodeLatin1(std::u16string_view aText) {
  std::string bytes;
  bytes.reserve(aText.size());
  for (char16_t c : aText) {
    if (c > 0xFF) throw EQVError(UnencodableCharacterMessage(c, 0));
    bytes += static_cast<char>(c);
  }
  return bytes;
}

std::u16string DecodeLatin1(std::string_view aBytes) {
  std::u16string text;
  text.reserve(aBytes.size());
  for (char b : aBytes) text += static_cast<char16_t>(static_cast<unsigned char>(b));
  return text;
}

}  // namespace qvpa
