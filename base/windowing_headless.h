// HeadlessWindowing: the windowing layer of a host without a desktop. A message box is
// written to an error stream (standard error) and reported as unseen, so the caller logs
// it; the icon and the wait window record what they would show; the single-instance
// guard is an InstanceLock; Terminate calls the exit hook or does nothing; raw-data
// resources come from a table the module registers.
#ifndef QVPA_BASE_WINDOWING_HEADLESS_H_
#define QVPA_BASE_WINDOWING_HEADLESS_H_

#include <functional>
#include <iosfwd>
#include <map>
#include <string>

#include "base/windowing.h"

namespace qvpa {

// What the wait window would show.
struct HeadlessWaitReport {
  bool shown = false;
  int shows = 0;  // times Show was called
  WaitLayout layout;
};

class HeadlessWindowing final : public Windowing {
 public:
  // Size of the wait window's label for a caption.
  using LabelMeasure = std::function<PixelSize(const std::u16string& aCaption)>;

  // aErrorStream receives the message boxes; it must outlive this object.
  explicit HeadlessWindowing(std::ostream& aErrorStream);
  HeadlessWindowing();  // standard error

  bool ShowMessageBox(tQV_MessageType aType, const std::u16string& aMessage) override;
  bool NotifyIcon(NotifyIconOperation aOperation, const NotifyIconData& aData) override;
  uintptr_t ApplicationIcon() override { return 0; }
  InstanceLockResult AcquireSingleInstance(std::u16string_view aName) override;
  void ProcessMessages() override {}
  bool Terminate() override { return CallExitHook(); }
  std::optional<std::string> FindResource(std::u16string_view aName) override;
  // The surface reports into WaitReport(); this object must outlive it.
  std::unique_ptr<WaitSurface> CreateWaitSurface() override;

  // Registers a raw-data resource; names are matched ignoring letter case.
  void AddResource(std::u16string aName, std::string aBytes);
  // Replaces the default label metrics (8 pixels per character of the longest line,
  // 16 pixels per line).
  void SetLabelMeasure(LabelMeasure aMeasure) { label_measure_ = std::move(aMeasure); }

  bool IconShown() const { return icon_shown_; }
  // The record of the last add or delete.
  const NotifyIconData& IconRecord() const { return icon_record_; }
  const HeadlessWaitReport& WaitReport() const { return wait_report_; }

 private:
  class Surface;

  std::ostream& error_stream_;
  std::map<std::u16string, std::string> resources_;  // by lower-case name
  LabelMeasure label_measure_;
  bool icon_shown_ = false;
  NotifyIconData icon_record_;
  HeadlessWaitReport wait_report_;
};

}  // namespace qvpa

#endif  // QVPA_BASE_WINDOWING_HEADLESS_H_
