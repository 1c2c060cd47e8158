// The system's text for a Windows error code, for the Windows halves of the channels'
// transports (included only by *_win.cc files).
#ifndef QVPA_IO_SYSTEM_ERROR_WIN_H_
#define QVPA_IO_SYSTEM_ERROR_WIN_H_

#include <windows.h>

#include <string>

#include "base/text.h"

namespace qvpa {

// The text FormatMessageW gives for aError without its trailing line break ("System
// error <n>" when the system has none). aModule names a module whose message table is
// searched as well (winspool, winsock), else null.
inline std::u16string WindowsErrorText(DWORD aError, HMODULE aModule = nullptr) {
  wchar_t* text = nullptr;
  DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  if (aModule != nullptr) flags |= FORMAT_MESSAGE_FROM_HMODULE;
  const DWORD length =
      ::FormatMessageW(flags, aModule, aError, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::u16string result;
  if (length > 0 && text != nullptr) result.assign(reinterpret_cast<const char16_t*>(text), length);
  if (text != nullptr) ::LocalFree(text);
  while (!result.empty() && (result.back() == u'\n' || result.back() == u'\r' || result.back() == u' ' ||
                             result.back() == u'.')) {
    result.pop_back();
  }
  if (result.empty()) result = u"System error " + IntToStr(aError);
  return result;
}

}  // namespace qvpa

#endif  // QVPA_IO_SYSTEM_ERROR_WIN_H_
