// Until the desktop layer (message boxes, notification icon, the wait window drawn with
// GDI, RCDATA resources) is built, Windows hosts get the headless layer: messages go to
// the log and standard error, the single-instance guard is the named mutex.
#include "base/windowing.h"
#include "base/windowing_headless.h"

namespace qvpa {

std::unique_ptr<Windowing> CreatePlatformWindowing() {
  return std::make_unique<HeadlessWindowing>();
}

}  // namespace qvpa
