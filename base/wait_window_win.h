// The wait window on the Windows desktop: a top-level window of a class registered for the
// module that holds this code, with a white, bold, centred label on a dark blue background.
//
// Owning thread: the window belongs to the thread that creates the application object. In
// the DLL that is the thread that loads the library (the runtime builds the statics in
// DllMain's attach), and the window's messages are handled on that thread when the host
// pumps its messages or when Start processes them. Unload reaches it through the same
// statics: DllMain's detach destroys the application object on the thread calling
// FreeLibrary, which destroys the window (its thread may do so) and then unregisters the
// class. Another thread may not destroy the window: it then hides it and gives it the
// system's default window procedure, so that nothing left behind points into the unmapped
// module; the window goes when its thread ends. A window whose thread has ended was
// already destroyed by the system.
#ifndef QVPA_BASE_WAIT_WINDOW_WIN_H_
#define QVPA_BASE_WAIT_WINDOW_WIN_H_

#include <windows.h>

#include <exception>
#include <memory>
#include <string>

#include "base/windowing.h"

namespace qvpa {

// The class name of the wait window (a suffix follows it when a window of an earlier load
// of the module still holds the plain name).
inline constexpr wchar_t kWaitWindowClass[] = L"QVPA.WaitWindow";
// Background of the wait window and colour of its label.
inline constexpr COLORREF kWaitBackground = RGB(12, 25, 117);
inline constexpr COLORREF kWaitLabelColour = RGB(255, 255, 255);
// The label's control identifier.
inline constexpr int kWaitLabelId = 1;

// The window class of the wait window, registered for aModule while this object lives.
class WaitWindowClass {
 public:
  explicit WaitWindowClass(HINSTANCE aModule);
  // Unregisters the class; refused by the system while a window of it still exists.
  ~WaitWindowClass();
  WaitWindowClass(const WaitWindowClass&) = delete;
  WaitWindowClass& operator=(const WaitWindowClass&) = delete;

  HINSTANCE Module() const { return module_; }
  const std::wstring& Name() const { return name_; }
  bool Registered() const { return registered_; }

 private:
  HINSTANCE module_;
  std::wstring name_;
  bool registered_ = false;
};

// A new hidden wait window of aClass, which must outlive it. Without a desktop (no window
// can be made) the surface measures its label and draws nothing.
std::unique_ptr<WaitSurface> CreateWaitWindow(const WaitWindowClass& aClass);

// Handles the window messages waiting for this thread. A quit request found among them is
// posted again, for the host's own loop.
void ProcessPendingMessages();

// Hands a failure escaping one of our window procedures to the application object's
// HandleException; the procedure then answers aFallback. Failures never unwind through
// the system's code.
LRESULT HandleWindowProcedureFailure(std::exception_ptr aFailure, LRESULT aFallback) noexcept;

// Runs aHandler as a window procedure's body, with failures handled as above.
template <class Handler>
LRESULT GuardedWindowProcedure(Handler&& aHandler, LRESULT aFallback) noexcept {
  try {
    return aHandler();
  } catch (...) {
    return HandleWindowProcedureFailure(std::current_exception(), aFallback);
  }
}

}  // namespace qvpa

#endif  // QVPA_BASE_WAIT_WINDOW_WIN_H_
