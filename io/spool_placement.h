// Where a picture lands on a printer's page: the picture keeps the size it has at
// 300 dpi, shrinks (proportions kept) to fit the printable area, and is centred in it.
#ifndef QVPA_IO_SPOOL_PLACEMENT_H_
#define QVPA_IO_SPOOL_PLACEMENT_H_

#include <cstdint>

namespace qvpa {

// A printer's page in device pixels.
struct PageMetrics {
  int32_t printable_width = 0;
  int32_t printable_height = 0;
  int32_t offset_x = 0;  // physical offset of the printable area
  int32_t offset_y = 0;
  int32_t dpi_x = 0;     // horizontal resolution
  int32_t dpi_y = 0;
  int32_t page_width = 0;   // the whole sheet
  int32_t page_height = 0;
  double media_width_points = 0;  // the sheet exactly, in points (1/72 inch)
  double media_height_points = 0;
};

struct Placement {
  double scale = 1;
  int32_t left = 0, top = 0, width = 0, height = 0;  // device pixels on the sheet
  bool unscaled = true;                              // drawn pixel for pixel
};

Placement PlacePicture(const PageMetrics& aPage, int32_t aPictureWidth, int32_t aPictureHeight);

}  // namespace qvpa

#endif  // QVPA_IO_SPOOL_PLACEMENT_H_
