#include "khost/import/image_decode.h"

#include <stb_image.h>
#include <stb_image_resize.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "khost/base/quoting.h"

namespace khost {

namespace {

struct CloseFile {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
struct FreePixels {
  void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};
using Pixels = std::unique_ptr<stbi_uc, FreePixels>;

// The library's reason for its last failure, in words.
Error Refusal() {
  const char* reason = stbi_failure_reason();
  const std::string text = reason ? reason : "no reason given";
  if (text == "unknown image type")
    return Failure("it is not an image of a kind khost reads (JPEG, PNG, TGA, BMP, ...)");
  if (text == "outofmem") return Failure("there is not memory enough to decode it");
  return Failure("it is damaged or truncated (" + EchoText(text) + ")");
}

Error TooLarge(std::size_t width, std::size_t height) {
  return Failure("it is too large (" + std::to_string(width) + "x" + std::to_string(height) +
                 " pixels; at most " + std::to_string(kMaxDecodedSide) + "x" +
                 std::to_string(kMaxDecodedSide) + " are decoded)");
}

bool Decodable(int width, int height) {
  return width > 0 && height > 0 &&
         static_cast<std::size_t>(width) * static_cast<std::size_t>(height) <= kMaxDecodedPixels;
}

// Why the library would not say what an image holds. Its PNG reader will
// not describe one of more than a gibibyte at all, so for a PNG the size is
// read from its header (the signature, then the IHDR chunk's width and
// height, big-endian) to tell a large image from a damaged one.
Error NotDescribed(const uint8_t* head, std::size_t size) {
  static constexpr uint8_t kPng[16] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n',
                                       0,    0,   0,   13,  'I',  'H',  'D',  'R'};
  if (size >= 24 && std::memcmp(head, kPng, sizeof kPng) == 0) {
    const auto be32 = [&](std::size_t at) {
      return static_cast<uint32_t>(head[at]) << 24 | static_cast<uint32_t>(head[at + 1]) << 16 |
             static_cast<uint32_t>(head[at + 2]) << 8 | static_cast<uint32_t>(head[at + 3]);
    };
    const uint32_t width = be32(16);
    const uint32_t height = be32(20);
    if (width > 0 && height > 0 && static_cast<std::size_t>(width) * height > kMaxDecodedPixels)
      return TooLarge(width, height);
  }
  return Refusal();
}

bool Resize(const uint8_t* from, int width, int height, uint8_t* to, int toWidth, int toHeight) {
  // A box filter averages the texels each new one covers, as a mipmap's
  // level does; it is also the cheapest for a large reduction.
  return stbir_resize_uint8_generic(from, width, height, 0, to, toWidth, toHeight, 0, 4, 3, 0,
                                    STBIR_EDGE_CLAMP, STBIR_FILTER_BOX, STBIR_COLORSPACE_SRGB,
                                    nullptr) != 0;
}

// The decoded pixels as an image of at most `maxSide` a side.
Result<DecodedImage> Fitted(Pixels pixels, int width, int height, int maxSide) {
  DecodedImage image;
  image.SourceWidth = width;
  image.SourceHeight = height;
  FitSide(width, height, maxSide, image.Width, image.Height);
  try {
    image.Rgba.resize(static_cast<std::size_t>(image.Width) * image.Height * 4);
  } catch (const std::bad_alloc&) {
    return Failure("there is not memory enough to decode it");
  }
  if (image.Width == width && image.Height == height) {
    std::memcpy(image.Rgba.data(), pixels.get(), image.Rgba.size());
  } else if (!Resize(pixels.get(), width, height, image.Rgba.data(), image.Width, image.Height)) {
    return Failure("there is not memory enough to scale it down");
  }
  return image;
}

}  // namespace

void FitSide(int width, int height, int maxSide, int& fitWidth, int& fitHeight) {
  fitWidth = std::max(width, 1);
  fitHeight = std::max(height, 1);
  const int longest = std::max(fitWidth, fitHeight);
  if (longest <= maxSide || maxSide < 1) return;
  const double scale = static_cast<double>(maxSide) / longest;
  fitWidth = std::clamp(static_cast<int>(std::lround(fitWidth * scale)), 1, maxSide);
  fitHeight = std::clamp(static_cast<int>(std::lround(fitHeight * scale)), 1, maxSide);
}

Result<DecodedImage> DecodeImageFile(const std::string& path, int maxSide) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0)
    return Failure(std::string("it cannot be read: ") + std::strerror(errno));
  if (!S_ISREG(info.st_mode)) return Failure("it is not a regular file");
  const std::unique_ptr<std::FILE, CloseFile> file(std::fopen(path.c_str(), "rb"));
  if (!file) return Failure(std::string("it cannot be read: ") + std::strerror(errno));
  int width = 0;
  int height = 0;
  int channels = 0;
  // The size first: an image too large is refused before its pixels are.
  if (!stbi_info_from_file(file.get(), &width, &height, &channels)) {
    uint8_t head[24] = {};
    const std::size_t read = std::fread(head, 1, sizeof head, file.get());
    return NotDescribed(head, read);
  }
  if (!Decodable(width, height))
    return TooLarge(static_cast<std::size_t>(width), static_cast<std::size_t>(height));
  Pixels pixels(stbi_load_from_file(file.get(), &width, &height, &channels, 4));
  if (!pixels) return Refusal();
  return Fitted(std::move(pixels), width, height, maxSide);
}

Result<DecodedImage> DecodeImageBytes(const uint8_t* bytes, std::size_t size, int maxSide) {
  if (!bytes || size == 0) return Failure("it is empty");
  if (size > static_cast<std::size_t>(INT_MAX)) return Failure("it is too large (over 2 GiB)");
  const int length = static_cast<int>(size);
  int width = 0;
  int height = 0;
  int channels = 0;
  if (!stbi_info_from_memory(bytes, length, &width, &height, &channels))
    return NotDescribed(bytes, size);
  if (!Decodable(width, height))
    return TooLarge(static_cast<std::size_t>(width), static_cast<std::size_t>(height));
  Pixels pixels(stbi_load_from_memory(bytes, length, &width, &height, &channels, 4));
  if (!pixels) return Refusal();
  return Fitted(std::move(pixels), width, height, maxSide);
}

bool ScaleImage(DecodedImage& image, int width, int height) {
  if (width < 1 || height < 1 || width > image.Width || height > image.Height) return false;
  if (width == image.Width && height == image.Height) return true;
  try {
    std::vector<uint8_t> scaled(static_cast<std::size_t>(width) * height * 4);
    if (!Resize(image.Rgba.data(), image.Width, image.Height, scaled.data(), width, height))
      return false;
    image.Rgba = std::move(scaled);
  } catch (const std::bad_alloc&) {
    return false;
  }
  image.Width = width;
  image.Height = height;
  return true;
}

}  // namespace khost
