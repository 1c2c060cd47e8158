#include <iconv.h>

#include <cerrno>
#include <string>

#include "base/error.h"
#include "base/text.h"
#include "io/code_page.h"

namespace qvpa {

namespace {

// Owns an iconv conversion descriptor.
class Converter {
 public:
  explicit Converter(int32_t aCodePage)
      : cd_(iconv_open(("CP" + std::to_string(aCodePage)).c_str(), "UTF-16LE")) {}
  ~Converter() {
    if (valid()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// The character (surrogate pairs joined) starting at aText[aIndex].
char32_t CharacterAt(std::u16string_view aText, size_t aIndex) {
  const char16_t c = aText[aIndex];
  if (c >= 0xD800 && c < 0xDC00 && aIndex + 1 < aText.size() && aText[aIndex + 1] >= 0xDC00 &&
      aText[aIndex + 1] < 0xE000) {
    return 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (aText[aIndex + 1] - 0xDC00);
  }
  return c;
}

}  // namespace

int32_t AnsiCodePage() { return 1252; }

std::string EncodeCodePage(std::u16string_view aText, int32_t aCodePage) {
  Converter converter(aCodePage);
  if (!converter.valid()) {
    throw EQVError(u"Code page " + IntToStr(aCodePage) + u" is not available");
  }
  // UTF-16LE input independent of the host's byte order.
  std::string input;
  input.reserve(aText.size() * 2);
  for (char16_t c : aText) {
    input += static_cast<char>(c & 0xFF);
    input += static_cast<char>(c >> 8);
  }
  std::string output(aText.size() * 4 + 16, '\0');
  char* in = input.data();
  size_t in_left = input.size();
  char* out = output.data();
  size_t out_left = output.size();
  while (in_left > 0) {
    if (iconv(converter.get(), &in, &in_left, &out, &out_left) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      const size_t used = static_cast<size_t>(out - output.data());
      output.resize(output.size() * 2);
      out = output.data() + used;
      out_left = output.size() - used;
      continue;
    }
    // EILSEQ (no byte for it) or EINVAL (an unpaired surrogate at the end).
    const size_t index = (input.size() - in_left) / 2;
    throw EQVError(UnencodableCharacterMessage(CharacterAt(aText, index), aCodePage));
  }
  output.resize(static_cast<size_t>(out - output.data()));
  return output;
}

}  // namespace qvpa
