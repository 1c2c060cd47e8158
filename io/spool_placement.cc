#include "io/spool_placement.h"

#include <cmath>

namespace qvpa {

Placement PlacePicture(const PageMetrics& aPage, int32_t aPictureWidth, int32_t aPictureHeight) {
  Placement p;
  p.scale = aPage.dpi_x == 300 ? 1.0 : aPage.dpi_x / 300.0;
  if (aPictureWidth > 0 && aPage.printable_width < aPictureWidth * p.scale) {
    p.scale = static_cast<double>(aPage.printable_width) / aPictureWidth;
  }
  if (aPictureHeight > 0 && aPage.printable_height < aPictureHeight * p.scale) {
    p.scale = static_cast<double>(aPage.printable_height) / aPictureHeight;
  }
  // Nearest integer, ties to even (the default rounding mode).
  p.width = static_cast<int32_t>(std::nearbyint(aPictureWidth * p.scale));
  p.height = static_cast<int32_t>(std::nearbyint(aPictureHeight * p.scale));
  p.left = aPage.offset_x + (aPage.printable_width - p.width) / 2;
  p.top = aPage.offset_y + (aPage.printable_height - p.height) / 2;
  p.unscaled = p.scale == 1.0;
  return p;
}

}  // namespace qvpa
