// Images decoded to 8-bit RGBA with the stb_image library (Debian's
// libstb): JPEG, PNG, TGA and BMP, and the library's other kinds (PSD, GIF,
// HDR, PIC, PNM). An image file is as hostile as a scene file: this runs in
// the import's child process (isolated_import.h), within its time and
// memory limits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "khost/base/status.h"

namespace khost {

// The largest image decoded at all, in pixels: 8192 x 8192, 256 MiB of
// RGBA. Decoding and scaling one that size takes a few seconds, well
// inside the import's time limit, and leaves the decoder's own buffers
// room within its memory limit (a 16384 x 16384 image took two thirds of
// the time limit and of the memory limit). A larger one is refused as too
// large without decoding it.
inline constexpr int kMaxDecodedSide = 8192;
inline constexpr std::size_t kMaxDecodedPixels = std::size_t{kMaxDecodedSide} * kMaxDecodedSide;

struct DecodedImage {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Rgba;  // rows from the top
  // The size the file holds, before it was scaled to fit `maxSide`.
  int SourceWidth = 0;
  int SourceHeight = 0;
};

// The image in file `path`, or in the `size` bytes at `bytes`, as RGBA,
// scaled down to at most `maxSide` pixels a side (keeping its shape).
// Refused with a reason to put after the image's name: not an image of a
// kind read, damaged or truncated, too large (more than kMaxDecodedPixels),
// unreadable, or more than the memory left.
Result<DecodedImage> DecodeImageFile(const std::string& path, int maxSide);
Result<DecodedImage> DecodeImageBytes(const uint8_t* bytes, std::size_t size, int maxSide);

// `image` (already decoded) scaled down to width x height, filtered in
// linear light (the texels are sRGB) with the alpha channel weighting the
// colours. False, the image unchanged, when that cannot be done.
bool ScaleImage(DecodedImage& image, int width, int height);

// The size `width` x `height` becomes to fit `maxSide` a side, its shape
// kept (each side at least 1).
void FitSide(int width, int height, int maxSide, int& fitWidth, int& fitHeight);

}  // namespace khost
