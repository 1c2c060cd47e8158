// The windowing layer on the Windows desktop: message boxes (user32), the notification icon
// (shell32), the wait window (user32 and gdi32, base/wait_window_win.h), the module's RCDATA
// resources and the named-mutex single-instance guard.
//
// No process-wide exception filter (SetUnhandledExceptionFilter) is installed: the host's
// crash handling belongs to the host, and a library must not take it over. Failures inside
// our own window procedures go to the application object's HandleException instead.
#include "base/windowing.h"

#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>

#include "base/module_win.h"
#include "base/text_helpers.h"
#include "base/wait_window_win.h"

// <windows.h> names FindResource as a macro; the layer's operation keeps its own name.
#undef FindResource

namespace qvpa {

namespace {

const wchar_t* Wide(const std::u16string& aText) {
  return reinterpret_cast<const wchar_t*>(aText.c_str());
}

// The first icon of the executable; icons loaded this way are shared and never destroyed.
BOOL CALLBACK TakeFirstIcon(HMODULE aModule, LPCWSTR /*aType*/, LPWSTR aName, LONG_PTR aIcon) {
  *reinterpret_cast<HICON*>(aIcon) = LoadIconW(aModule, aName);
  return FALSE;  // one is enough
}

class WinWindowing final : public Windowing {
 public:
  // The wait window's class goes with this object: the surfaces it made must be gone first.
  ~WinWindowing() override = default;

  bool ShowMessageBox(tQV_MessageType aType, const std::u16string& aMessage) override {
    const UINT icon = aType == tQV_MessageType::let_error ? MB_ICONERROR : MB_ICONINFORMATION;
    const std::u16string title = GetApplicationName();
    // 0: the box could not be shown (no desktop, out of memory).
    return MessageBoxW(nullptr, Wide(aMessage), Wide(title), MB_OK | icon | MB_TASKMODAL) != 0;
  }

  bool NotifyIcon(NotifyIconOperation aOperation, const NotifyIconData& aData) override {
    // The record's size field describes the wide-character record of a 32-bit process (956
    // bytes); the system is given the size of the record actually passed.
    NOTIFYICONDATAW record{};
    record.cbSize = sizeof record;
    record.hWnd = reinterpret_cast<HWND>(aData.hWnd);
    record.uID = aData.uID;
    record.uFlags = aData.uFlags;
    record.uCallbackMessage = aData.uCallbackMessage;
    record.hIcon = reinterpret_cast<HICON>(aData.hIcon);
    const DWORD operation = aOperation == NotifyIconOperation::kAdd ? NIM_ADD : NIM_DELETE;
    return Shell_NotifyIconW(operation, &record) != FALSE;
  }

  uintptr_t ApplicationIcon() override {
    HICON icon = nullptr;
    EnumResourceNamesW(GetModuleHandleW(nullptr), RT_GROUP_ICON, &TakeFirstIcon,
                       reinterpret_cast<LONG_PTR>(&icon));
    if (icon == nullptr) icon = LoadIconW(nullptr, IDI_APPLICATION);
    return reinterpret_cast<uintptr_t>(icon);
  }

  InstanceLockResult AcquireSingleInstance(std::u16string_view aName) override {
    return AcquireInstanceLock(aName);
  }

  void ProcessMessages() override { ProcessPendingMessages(); }

  // A DLL never ends its host's process: only the host's exit hook does.
  bool Terminate() override { return CallExitHook(); }

  std::optional<std::string> FindResource(std::u16string_view aName) override {
    const HMODULE module = platform::CurrentModule();
    const std::u16string name(aName);
    HRSRC resource = FindResourceW(module, Wide(name), RT_RCDATA);
    if (resource == nullptr) return std::nullopt;
    HGLOBAL loaded = LoadResource(module, resource);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) return std::nullopt;
    return std::string(static_cast<const char*>(bytes), SizeofResource(module, resource));
  }

  std::unique_ptr<WaitSurface> CreateWaitSurface() override {
    if (!wait_class_) wait_class_ = std::make_unique<WaitWindowClass>(platform::CurrentModule());
    return CreateWaitWindow(*wait_class_);
  }

 private:
  std::unique_ptr<WaitWindowClass> wait_class_;  // registered with the first wait window
};

}  // namespace

std::unique_ptr<Windowing> CreatePlatformWindowing() { return std::make_unique<WinWindowing>(); }

}  // namespace qvpa
