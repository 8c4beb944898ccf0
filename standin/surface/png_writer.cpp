// PNG capture files: 8-bit RGBA written, any PNG read back as 8-bit RGBA.
// Uses libpng's simplified interface, which reports errors as messages
// instead of jumping out of the caller.
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ksurface.h"
#include "surface_internal.h"

namespace {

using ksurface::Fail;

// Captures are screen-sized; anything far beyond is a damaged or hostile
// file, not an image to allocate for.
constexpr size_t kMaxRgbaBytes = kPngMaxRgbaBytes;

std::string ImageMessage(const png_image& image, const char* what, const char* path) {
  std::string text = std::string(what) + " " + path;
  if (image.message[0] != '\0') text += ": " + std::string(image.message);
  return text;
}

bool SizeWritable(int width, int height) {
  return width >= 1 && height >= 1 &&
         static_cast<size_t>(width) * static_cast<size_t>(height) * 4 <= kMaxRgbaBytes;
}

std::string SizeText(int width, int height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

// "size WxH is not writable", with the limit it passes.
std::string Unwritable(int width, int height) {
  return "size " + SizeText(width, height) + " is not writable (a PNG capture holds at most " +
         std::to_string(kMaxRgbaBytes / 4) + " pixels, " + SizeText(kPngMaxSide, kPngMaxSide) + ")";
}

}  // namespace

bool KPng_Encode(int width, int height, const unsigned char* rgba, std::vector<unsigned char>& png,
                 std::string* error) {
  png.clear();
  if (!rgba) return Fail(error, "PNG encode: no pixels");
  if (!SizeWritable(width, height)) {
    return Fail(error, "PNG encode: " + Unwritable(width, height));
  }
  png_image image;
  std::memset(&image, 0, sizeof(image));
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGBA;
  const png_int_32 stride = static_cast<png_int_32>(width) * 4;
  // Encoded once, into a buffer of the library's bound for the image's
  // largest PNG (its pixels stored uncompressed), then cut to the size
  // written.
  png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
  png.resize(size);
  if (size > 0 && png_image_write_to_memory(&image, png.data(), &size, 0, rgba, stride, nullptr)) {
    png.resize(size);
    return true;
  }
  const std::string message =
      ImageMessage(image, "PNG encode", ("of " + SizeText(width, height)).c_str());
  png_image_free(&image);
  png.clear();
  return Fail(error, message);
}

bool KPng_Write(const char* path, int width, int height, const unsigned char* rgba,
                std::string* error) {
  if (!path || !*path) return Fail(error, "PNG write: no file name");
  if (!rgba) return Fail(error, std::string("PNG write ") + path + ": no pixels");
  if (!SizeWritable(width, height)) {
    return Fail(error, std::string("PNG write ") + path + ": " + Unwritable(width, height));
  }
  std::vector<unsigned char> png;
  std::string reason;
  if (!KPng_Encode(width, height, rgba, png, &reason)) {
    return Fail(error, std::string("PNG write ") + path + ": " + reason);
  }
  // Written to a uniquely named file beside the target and renamed over it,
  // so a failure part way never leaves a truncated file under the final name
  // and never touches another file.
  std::string temporary = std::string(path) + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return Fail(error, std::string("PNG write ") + path + ": " + std::strerror(errno));
  size_t written = 0;
  bool ok = ::fchmod(fd, 0644) == 0;
  while (ok && written < png.size()) {
    const ssize_t put = ::write(fd, png.data() + written, png.size() - written);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      ok = false;
      break;
    }
    written += static_cast<size_t>(put);
  }
  const int savedErrno = errno;
  ok = (::close(fd) == 0) && ok;
  if (ok && ::rename(temporary.c_str(), path) == 0) return true;
  const int reason2 = ok ? errno : savedErrno;
  ::unlink(temporary.c_str());
  return Fail(error, std::string("PNG write ") + path + ": " + std::strerror(reason2));
}

bool KPng_Read(const char* path, int& width, int& height, std::vector<unsigned char>& rgba,
               std::string* error) {
  width = 0;
  height = 0;
  rgba.clear();
  if (!path || !*path) return Fail(error, "PNG read: no file name");
  png_image image;
  std::memset(&image, 0, sizeof(image));
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path)) {
    const std::string message = ImageMessage(image, "PNG read", path);
    png_image_free(&image);
    return Fail(error, message);
  }
  image.format = PNG_FORMAT_RGBA;
  const size_t bytes = static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 4;
  if (image.width == 0 || image.height == 0 || image.width > 0x7fffffffu ||
      image.height > 0x7fffffffu || bytes > kMaxRgbaBytes) {
    png_image_free(&image);
    return Fail(error, std::string("PNG read ") + path + ": image of " +
                           std::to_string(image.width) + "x" + std::to_string(image.height) +
                           " is too large");
  }
  std::vector<unsigned char> pixels(bytes);
  const png_int_32 stride = static_cast<png_int_32>(image.width) * 4;
  if (!png_image_finish_read(&image, nullptr, pixels.data(), stride, nullptr)) {
    const std::string message = ImageMessage(image, "PNG read", path);
    png_image_free(&image);
    return Fail(error, message);
  }
  width = static_cast<int>(image.width);
  height = static_cast<int>(image.height);
  rgba.swap(pixels);
  return true;
}
