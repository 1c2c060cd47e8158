// The library's entry point for loader notifications. On unload it only records that the
// unload has begun, before the runtime destroys the statics (the open devices and the
// application log): from then on the log writes synchronously instead of starting threads.
#include <windows.h>

#include "base/module_win.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_DETACH) qvpa::platform::SetModuleUnloading();
  return TRUE;
}
