#include "base/windowing_headless.h"

#include <algorithm>
#include <iostream>

#include "base/text.h"

namespace qvpa {

namespace {

PixelSize DefaultLabelMeasure(const std::u16string& aCaption) {
  constexpr int32_t kCharWidth = 8, kLineHeight = 16;
  size_t longest = 0, lines = 0, start = 0;
  while (true) {
    const size_t end = aCaption.find(u"\r\n", start);
    const size_t stop = end == std::u16string::npos ? aCaption.size() : end;
    longest = std::max(longest, stop - start);
    ++lines;
    if (end == std::u16string::npos) break;
    start = end + 2;
  }
  return {static_cast<int32_t>(longest) * kCharWidth, static_cast<int32_t>(lines) * kLineHeight};
}

}  // namespace

class HeadlessWindowing::Surface final : public WaitSurface {
 public:
  explicit Surface(HeadlessWindowing& aOwner) : owner_(aOwner) {}
  PixelSize MeasureLabel(const std::u16string& aCaption) override {
    return owner_.label_measure_(aCaption);
  }
  void Apply(const WaitLayout& aLayout) override { owner_.wait_report_.layout = aLayout; }
  void Show() override {
    owner_.wait_report_.shown = true;
    ++owner_.wait_report_.shows;
  }
  void Hide() override { owner_.wait_report_.shown = false; }

 private:
  HeadlessWindowing& owner_;
};

HeadlessWindowing::HeadlessWindowing(std::ostream& aErrorStream)
    : error_stream_(aErrorStream), label_measure_(DefaultLabelMeasure) {}

HeadlessWindowing::HeadlessWindowing() : HeadlessWindowing(std::cerr) {}

bool HeadlessWindowing::ShowMessageBox(tQV_MessageType aType, const std::u16string& aMessage) {
  error_stream_ << (aType == tQV_MessageType::let_error ? "Error: " : "Information: ")
                << ToUtf8(aMessage) << std::endl;
  return false;
}

bool HeadlessWindowing::NotifyIcon(NotifyIconOperation aOperation, const NotifyIconData& aData) {
  icon_record_ = aData;
  icon_shown_ = aOperation == NotifyIconOperation::kAdd;
  return true;
}

InstanceLockResult HeadlessWindowing::AcquireSingleInstance(std::u16string_view aName) {
  return AcquireInstanceLock(aName);
}

std::optional<std::string> HeadlessWindowing::FindResource(std::u16string_view aName) {
  const auto found = resources_.find(LowerCase(aName));
  if (found == resources_.end()) return std::nullopt;
  return found->second;
}

void HeadlessWindowing::AddResource(std::u16string aName, std::string aBytes) {
  resources_.insert_or_assign(LowerCase(aName), std::move(aBytes));
}

std::unique_ptr<WaitSurface> HeadlessWindowing::CreateWaitSurface() {
  return std::make_unique<Surface>(*this);
}

}  // namespace qvpa
