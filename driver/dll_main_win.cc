// The library's entry point for loader notifications. On unload it only records that the
// unload has begun, and whether the process ends, before the runtime destroys the statics
// (the open devices and the application log): from then on the log writes synchronously
// instead of starting threads, and at process end the library state is left to the system.
#include <windows.h>

#include "base/module_win.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved) {
  // A reserved argument on detach: the process ends, not a FreeLibrary.
  if (reason == DLL_PROCESS_DETACH) qvpa::platform::SetModuleUnloading(reserved != nullptr);
  return TRUE;
}
