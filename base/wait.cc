#include "base/wait.h"

#include "base/text.h"

namespace qvpa {

namespace {

constexpr int32_t kClientHeight = 50;

}  // namespace

WaitLayout LayOutWaitWindow(std::u16string aCaption, PixelSize aLabel) {
  WaitLayout layout;
  layout.caption = std::move(aCaption);
  layout.label = aLabel;
  // Width x 1.3 with the fraction dropped, in integers so no rounding error creeps in.
  layout.client = {static_cast<int32_t>(int64_t{aLabel.width} * 13 / 10), kClientHeight};
  // C++ division truncates toward zero, as the layout rule asks.
  layout.label_top = (layout.client.height - aLabel.height) / 2;
  layout.label_left = (layout.client.width - aLabel.width) / 2;
  return layout;
}

tQV_Wait::tQV_Wait(std::unique_ptr<WaitSurface> aForm, std::function<std::u16string()> aLanguage)
    : fForm(std::move(aForm)), language_(std::move(aLanguage)) {
  SetText(u"");
}

void tQV_Wait::Start(const std::u16string& aText) {
  SetText(aText);
  fForm->Show();
  fStarted = true;
}

void tQV_Wait::Stop() {
  fStarted = false;
  fForm->Hide();
}

void tQV_Wait::SetText(const std::u16string& aValue) {
  const bool english = language_ && LowerCase(language_()) == u"en";
  std::u16string caption = english ? fText_EN : fText_IT;
  if (!aValue.empty()) caption += u"\r\n" + aValue;
  layout_ = LayOutWaitWindow(caption, fForm->MeasureLabel(caption));
  fForm->Apply(layout_);
}

}  // namespace qvpa
