// Text to bytes in a Windows code page, for channels that send text to devices.
// One implementation per platform (code_page_posix.cc converts through iconv's CP<n>).
#ifndef QVPA_IO_CODE_PAGE_H_
#define QVPA_IO_CODE_PAGE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace qvpa {

// The code page the platform uses for 8-bit text when a channel names none
// (1252 on POSIX, where no system-wide ANSI code page exists).
int32_t AnsiCodePage();

// aText in code page aCodePage. Throws EQVError when the code page is unknown, or when a
// character has no byte in it (naming the character and the code page): a device never
// receives a replacement byte.
std::string EncodeCodePage(std::u16string_view aText, int32_t aCodePage);

// One byte per character, the byte being the character code. Throws EQVError naming the
// first character above 255.
std::string EncodeLatin1(std::u16string_view aText);

// Bytes as characters of the same codes (0 to 255).
std::u16string DecodeLatin1(std::string_view aBytes);

// The message of the refusal: Character "€" (U+20AC) has no byte in code page 437
std::u16string UnencodableCharacterMessage(char32_t aCharacter, int32_t aCodePage);

}  // namespace qvpa

#endif  // QVPA_IO_CODE_PAGE_H_
