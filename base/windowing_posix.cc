// Hosts on this platform get the headless layer: there is no desktop to draw on.
#include "base/windowing.h"
#include "base/windowing_headless.h"

namespace qvpa {

std::unique_ptr<Windowing> CreatePlatformWindowing() {
  return std::make_unique<HeadlessWindowing>();
}

}  // namespace qvpa
