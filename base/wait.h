// tQV_Wait: the please-wait window. Its caption is "Attendere prego ..." unless the
// application's language is "en" in any case ("Wait please ..."), with a given text as a
// second line; the window is 1.3 times as wide as the label (fractions dropped), 50 pixels
// high, the label centred. Created hidden; lives as long as the application object.
#ifndef QVPA_BASE_WAIT_H_
#define QVPA_BASE_WAIT_H_

#include <functional>
#include <memory>
#include <string>

#include "base/windowing.h"

namespace qvpa {

// The layout of a label of aLabel's size showing aCaption.
WaitLayout LayOutWaitWindow(std::u16string aCaption, PixelSize aLabel);

class tQV_Wait {
 public:
  // aLanguage reads the application's current language; without it the caption is
  // Italian. Lays the hidden window out with the standard caption.
  tQV_Wait(std::unique_ptr<WaitSurface> aForm, std::function<std::u16string()> aLanguage);
  tQV_Wait(const tQV_Wait&) = delete;
  tQV_Wait& operator=(const tQV_Wait&) = delete;

  bool Started() const { return fStarted; }
  // Sets the caption (SetText) and shows the window; while shown only the caption changes.
  void Start(const std::u16string& aText);
  void Stop();
  // The standard caption, plus CR LF and aValue when aValue is not empty; lays out again.
  void SetText(const std::u16string& aValue);
  const WaitLayout& Layout() const { return layout_; }

 private:
  std::unique_ptr<WaitSurface> fForm;
  bool fStarted = false;
  const std::u16string fText_IT = u"Attendere prego ...";
  const std::u16string fText_EN = u"Wait please ...";
  std::function<std::u16string()> language_;
  WaitLayout layout_;
};

}  // namespace qvpa

#endif  // QVPA_BASE_WAIT_H_
