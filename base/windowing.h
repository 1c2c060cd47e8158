// Windowing: the desktop services the application object and the wait window use
// (message boxes, the notification-area icon, the single-instance guard, the program's
// end, the module's data resources, the wait window's surface). One implementation per
// platform, made by CreatePlatformWindowing(); HeadlessWindowing serves hosts without a
// desktop. Its operations belong to the thread that owns the application object.
#ifndef QVPA_BASE_WINDOWING_H_
#define QVPA_BASE_WINDOWING_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/instance_lock.h"
#include "base/message_type.h"

namespace qvpa {

// The fields of the platform's notification-icon record that the application sets.
struct NotifyIconData {
  uint32_t cbSize = 0;            // size of the platform's wide-character record
  uintptr_t hWnd = 0;             // window that receives the callback message
  uint32_t uID = 0;               // icon identifier
  uint32_t uFlags = 0;            // which of the fields below are valid
  uint32_t uCallbackMessage = 0;  // sent to hWnd on mouse events on the icon
  uintptr_t hIcon = 0;            // icon handle
};

// Operations on the notification area.
enum class NotifyIconOperation : uint32_t { kAdd = 0, kDelete = 2 };

struct PixelSize {
  int32_t width = 0;
  int32_t height = 0;
};

// Client area of the wait window and the place of its label, in pixels.
struct WaitLayout {
  std::u16string caption;  // one or two lines separated by CR LF
  PixelSize client;
  int32_t label_left = 0;
  int32_t label_top = 0;
  PixelSize label;
};

// The borderless, always-on-top window of tQV_Wait. Created hidden, 100 x 50 pixels,
// centred on the desktop, dark blue; its label writes white, 10 points, bold.
class WaitSurface {
 public:
  virtual ~WaitSurface() = default;
  // Size of the label showing aCaption in the label's font.
  virtual PixelSize MeasureLabel(const std::u16string& aCaption) = 0;
  virtual void Apply(const WaitLayout& aLayout) = 0;
  // Shows the window without activating a modal loop and paints it at once.
  virtual void Show() = 0;
  virtual void Hide() = 0;
};

class Windowing {
 public:
  Windowing() = default;
  virtual ~Windowing() = default;
  Windowing(const Windowing&) = delete;
  Windowing& operator=(const Windowing&) = delete;

  // A modal box with one OK button: information for let_info, error for let_error.
  // Returns false when no user can see it (the caller keeps the message in its log).
  virtual bool ShowMessageBox(tQV_MessageType aType, const std::u16string& aMessage) = 0;
  // Adds or deletes the notification-area icon; false when the platform refused.
  virtual bool NotifyIcon(NotifyIconOperation aOperation, const NotifyIconData& aData) = 0;
  // The program's own icon handle (on Windows the system's application icon when the
  // executable has none); 0 when there is none.
  virtual uintptr_t ApplicationIcon() = 0;
  // The guard named aName that excludes every other process asking for the same name.
  // The operating system releases it when the process ends.
  virtual InstanceLockResult AcquireSingleInstance(std::u16string_view aName) = 0;
  // Handles the window messages that are waiting.
  virtual void ProcessMessages() = 0;
  // Tells the program to end: the exit hook when one is set, else the platform's own
  // way. Returns false when nothing was told (the program goes on).
  virtual bool Terminate() = 0;
  // Bytes of the module's raw-data resource aName; empty when the module holds none.
  virtual std::optional<std::string> FindResource(std::u16string_view aName) = 0;
  // A new wait window, hidden.
  virtual std::unique_ptr<WaitSurface> CreateWaitSurface() = 0;

  // Replaces the platform's way of ending the program: a library must not end its host
  // on its own, so the host decides what Terminate does.
  void SetExitHook(std::function<void()> aHook) { exit_hook_ = std::move(aHook); }

 protected:
  // Calls the exit hook; false when none is set.
  bool CallExitHook() const {
    if (!exit_hook_) return false;
    exit_hook_();
    return true;
  }

 private:
  std::function<void()> exit_hook_;
};

// The platform's windowing layer: the desktop's on Windows, the headless one elsewhere.
std::unique_ptr<Windowing> CreatePlatformWindowing();

}  // namespace qvpa

#endif  // QVPA_BASE_WINDOWING_H_
