// Code pages through WideCharToMultiByte. Best-fit mapping is off and the used-default
// flag checked, so that a character without a byte is refused instead of sent as a
// look-alike or as "?".
#include <windows.h>

#include <string>

#include "base/error.h"
#include "base/text.h"
#include "io/code_page.h"

namespace qvpa {

namespace {

constexpr int32_t kUtf8 = 65001;
constexpr int32_t kGb18030 = 54936;

// The character (surrogate pairs joined) starting at aText[aIndex], and its length.
char32_t CharacterAt(std::u16string_view aText, size_t aIndex, size_t& aLength) {
  const char16_t c = aText[aIndex];
  if (c >= 0xD800 && c < 0xDC00 && aIndex + 1 < aText.size() && aText[aIndex + 1] >= 0xDC00 &&
      aText[aIndex + 1] < 0xE000) {
    aLength = 2;
    return 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (aText[aIndex + 1] - 0xDC00);
  }
  aLength = 1;
  return c;
}

// Pages whose conversion takes neither flags nor the used-default flag: the stateful
// and the symbol ones. Their refusals are found by converting back.
bool TakesNoFlags(int32_t aCodePage) {
  return aCodePage == 42 || aCodePage == 65000 || (aCodePage >= 50220 && aCodePage <= 50229) ||
         (aCodePage >= 57002 && aCodePage <= 57011);
}

// Converts aText; false when a character has no byte (or the conversion failed).
bool Convert(std::u16string_view aText, int32_t aCodePage, std::string& aOut, DWORD& aError) {
  aOut.clear();
  aError = 0;
  if (aText.empty()) return true;
  const UINT page = static_cast<UINT>(aCodePage);
  const auto* wide = reinterpret_cast<const wchar_t*>(aText.data());
  const int wide_length = static_cast<int>(aText.size());
  DWORD flags = 0;
  BOOL used_default = FALSE;
  BOOL* used_default_ptr = nullptr;
  if (aCodePage == kUtf8 || aCodePage == kGb18030) {
    flags = WC_ERR_INVALID_CHARS;  // every character has bytes; only broken surrogates fail
  } else if (!TakesNoFlags(aCodePage)) {
    flags = WC_NO_BEST_FIT_CHARS;
    used_default_ptr = &used_default;
  }
  const int size = ::WideCharToMultiByte(page, flags, wide, wide_length, nullptr, 0, nullptr, used_default_ptr);
  if (size <= 0) {
    aError = ::GetLastError();
    return false;
  }
  aOut.resize(static_cast<size_t>(size));
  used_default = FALSE;
  if (::WideCharToMultiByte(page, flags, wide, wide_length, aOut.data(), size, nullptr, used_default_ptr) != size) {
    aError = ::GetLastError();
    return false;
  }
  if (used_default) return false;
  if (TakesNoFlags(aCodePage)) {
    // No used-default flag here: the bytes must give the text back.
    const int back = ::MultiByteToWideChar(page, 0, aOut.data(), size, nullptr, 0);
    std::u16string round(static_cast<size_t>(back > 0 ? back : 0), u'\0');
    if (back <= 0 ||
        ::MultiByteToWideChar(page, 0, aOut.data(), size, reinterpret_cast<wchar_t*>(round.data()), back) != back ||
        round != aText) {
      return false;
    }
  }
  return true;
}

[[noreturn]] void ThrowNotAvailable(int32_t aCodePage) {
  throw EQVError(u"Code page " + IntToStr(aCodePage) + u" is not available");
}

}  // namespace

int32_t AnsiCodePage() { return static_cast<int32_t>(::GetACP()); }

std::string EncodeCodePage(std::u16string_view aText, int32_t aCodePage) {
  // 0 to 3 are the system's aliases (ANSI, OEM, Mac, thread), not code pages; 1200 and
  // 1201 are UTF-16, which has no 8-bit form.
  if (aCodePage < 37 || aCodePage > 65535 || aCodePage == 1200 || aCodePage == 1201 ||
      !::IsValidCodePage(static_cast<UINT>(aCodePage))) {
    ThrowNotAvailable(aCodePage);
  }
  std::string bytes;
  DWORD error = 0;
  if (Convert(aText, aCodePage, bytes, error)) return bytes;
  if (error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_FLAGS) ThrowNotAvailable(aCodePage);
  // Find the first character that has no byte, one character at a time.
  std::string scratch;
  for (size_t i = 0; i < aText.size();) {
    size_t length = 1;
    const char32_t character = CharacterAt(aText, i, length);
    if (!Convert(aText.substr(i, length), aCodePage, scratch, error)) {
      throw EQVError(UnencodableCharacterMessage(character, aCodePage));
    }
    i += length;
  }
  // Each character alone converts but the whole did not (a page with state).
  throw EQVError(u"Text cannot be converted to code page " + IntToStr(aCodePage));
}

}  // namespace qvpa
