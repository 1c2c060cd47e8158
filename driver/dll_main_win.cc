// The library's entry points for loader notifications. On unload DllMain only records that
// the unload has begun, and whether the process ends, before the runtime destroys the statics
// (the open devices and the application log): from then on the log writes synchronously
// instead of starting threads.
//
// When the process ends, the system has already ended the host's other threads wherever they
// were, possibly holding a lock that the runtime's own teardown (static destructors and the
// runtime's cleanup after them) then waits on for ever: a host that exits while its threads
// keep the library busy hung there at times. So the library's entry point (QvpaDllEntry, set
// at link time) answers that notification itself, leaving the library's state and memory to
// the system, and hands every other notification to the runtime's entry point, which calls
// DllMain.
#include <windows.h>

#include "base/module_win.h"

extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE instance, DWORD reason, LPVOID reserved);

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved) {
  // A reserved argument on detach: the process ends, not a FreeLibrary.
  if (reason == DLL_PROCESS_DETACH) qvpa::platform::SetModuleUnloading(reserved != nullptr);
  return TRUE;
}

extern "C" BOOL WINAPI QvpaDllEntry(HANDLE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved != nullptr) {
    qvpa::platform::SetModuleUnloading(true);
    return TRUE;
  }
  return DllMainCRTStartup(instance, reason, reserved);
}
