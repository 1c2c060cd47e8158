// The module (DLL or program) that holds this code: where its resources are read from.
#ifndef QVPA_BASE_MODULE_WIN_H_
#define QVPA_BASE_MODULE_WIN_H_

#include <windows.h>

namespace qvpa::platform {

inline HMODULE CurrentModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&CurrentModule), &module);
  return module;
}

// Set by the library's DllMain when it is being unloaded (or the process ends). From then on
// the loader lock is held while statics and forgotten devices are destroyed: nothing may
// start a thread or wait for one.
// aProcessEnding: the process ends (DllMain's reserved argument is not null); see
// ProcessEnding in base/platform.h.
void SetModuleUnloading(bool aProcessEnding);
bool ModuleUnloading();

}  // namespace qvpa::platform

#endif  // QVPA_BASE_MODULE_WIN_H_
