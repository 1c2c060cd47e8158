// Bitmap: a picture in memory, 32 bits per pixel (0xAARRGGBB, alpha premultiplied),
// rows top to bottom without padding. What the spooler channel prints.
#ifndef QVPA_IO_BITMAP_H_
#define QVPA_IO_BITMAP_H_

#include <cstdint>
#include <vector>

namespace qvpa {

struct Bitmap {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;  // width * height

  Bitmap() = default;
  Bitmap(int32_t aWidth, int32_t aHeight, uint32_t aColour)
      : width(aWidth), height(aHeight), pixels(static_cast<size_t>(aWidth) * aHeight, aColour) {}
};

}  // namespace qvpa

#endif  // QVPA_IO_BITMAP_H_
