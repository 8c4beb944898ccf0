// PNG files on Windows, through the Windows imaging component (WIC): 8-bit
// RGBA in and out, as the Linux build's libpng code reads and writes them.
#include <objbase.h>
#include <wincodec.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ksurface.h"
#include "surface_internal.h"

namespace {

using ksurface::Fail;

// Releases a COM interface when it goes out of scope.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() {
    if (mPointer) mPointer->Release();
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T** Out() { return &mPointer; }
  T* operator->() const { return mPointer; }
  T* Get() const { return mPointer; }

 private:
  T* mPointer = nullptr;
};

std::string HresultText(const char* what, HRESULT result) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(result));
  return std::string(what) + " failed (" + text + ")";
}

// The imaging factory of this thread; COM is started for it once.
bool Factory(ComPtr<IWICImagingFactory>& factory, std::string* error) {
  const HRESULT started = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(started) && started != RPC_E_CHANGED_MODE) {
    return Fail(error, HresultText("CoInitializeEx", started));
  }
  const HRESULT made =
      CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                       IID_IWICImagingFactory, reinterpret_cast<void**>(factory.Out()));
  if (FAILED(made)) return Fail(error, HresultText("creating the imaging factory", made));
  return true;
}

std::wstring Widen(const char* text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), length);
  wide.resize(static_cast<size_t>(length - 1));
  return wide;
}

// RGBA and BGRA differ in the order of red and blue only.
void SwapRedBlue(unsigned char* pixels, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    unsigned char* p = pixels + i * 4;
    const unsigned char red = p[0];
    p[0] = p[2];
    p[2] = red;
  }
}

}  // namespace

bool KPng_Encode(int width, int height, const unsigned char* rgba, std::vector<unsigned char>& png,
                 std::string* error) {
  png.clear();
  const size_t bytes =
      static_cast<size_t>(width > 0 ? width : 0) * static_cast<size_t>(height > 0 ? height : 0) * 4;
  if (width < 1 || height < 1 || !rgba || bytes > kPngMaxRgbaBytes) {
    return Fail(error, "image size " + std::to_string(width) + "x" + std::to_string(height) +
                           " cannot be written as PNG");
  }
  ComPtr<IWICImagingFactory> factory;
  if (!Factory(factory, error)) return false;
  ComPtr<IStream> stream;
  HRESULT result = CreateStreamOnHGlobal(nullptr, TRUE, stream.Out());
  if (FAILED(result)) return Fail(error, HresultText("CreateStreamOnHGlobal", result));
  ComPtr<IWICBitmapEncoder> encoder;
  result = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.Out());
  if (SUCCEEDED(result)) result = encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache);
  ComPtr<IWICBitmapFrameEncode> frame;
  if (SUCCEEDED(result)) result = encoder->CreateNewFrame(frame.Out(), nullptr);
  if (SUCCEEDED(result)) result = frame->Initialize(nullptr);
  if (SUCCEEDED(result))
    result = frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height));
  WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
  if (SUCCEEDED(result)) result = frame->SetPixelFormat(&format);
  if (SUCCEEDED(result) && !IsEqualGUID(format, GUID_WICPixelFormat32bppBGRA)) result = E_FAIL;
  if (FAILED(result)) return Fail(error, HresultText("starting the PNG encoder", result));
  std::vector<unsigned char> bgra(rgba, rgba + bytes);
  SwapRedBlue(bgra.data(), bytes / 4);
  result = frame->WritePixels(static_cast<UINT>(height), static_cast<UINT>(width) * 4,
                              static_cast<UINT>(bytes), bgra.data());
  if (SUCCEEDED(result)) result = frame->Commit();
  if (SUCCEEDED(result)) result = encoder->Commit();
  if (FAILED(result)) return Fail(error, HresultText("encoding the PNG", result));
  HGLOBAL memory = nullptr;
  result = GetHGlobalFromStream(stream.Get(), &memory);
  STATSTG status{};
  if (SUCCEEDED(result)) result = stream->Stat(&status, STATFLAG_NONAME);
  if (FAILED(result)) return Fail(error, HresultText("reading the encoded PNG", result));
  const void* data = GlobalLock(memory);
  if (!data) return Fail(error, "the encoded PNG cannot be read back");
  png.assign(static_cast<const unsigned char*>(data),
             static_cast<const unsigned char*>(data) + status.cbSize.QuadPart);
  GlobalUnlock(memory);
  return true;
}

bool KPng_Write(const char* path, int width, int height, const unsigned char* rgba,
                std::string* error) {
  std::vector<unsigned char> png;
  if (!KPng_Encode(width, height, rgba, png, error)) return false;
  const std::wstring target = Widen(path ? path : "");
  if (target.empty()) return Fail(error, "no file name for the PNG");
  const std::wstring temporary = target + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(error, std::string("cannot create ") + path);
  DWORD written = 0;
  bool ok = WriteFile(file, png.data(), static_cast<DWORD>(png.size()), &written, nullptr) &&
            written == png.size();
  ok = CloseHandle(file) && ok;
  if (ok) ok = MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  if (!ok) {
    DeleteFileW(temporary.c_str());
    return Fail(error, std::string("cannot write ") + path);
  }
  return true;
}

bool KPng_Read(const char* path, int& width, int& height, std::vector<unsigned char>& rgba,
               std::string* error) {
  width = 0;
  height = 0;
  rgba.clear();
  ComPtr<IWICImagingFactory> factory;
  if (!Factory(factory, error)) return false;
  const std::wstring wide = Widen(path ? path : "");
  ComPtr<IWICBitmapDecoder> decoder;
  HRESULT result = factory->CreateDecoderFromFilename(
      wide.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand, decoder.Out());
  if (FAILED(result))
    return Fail(error, std::string("cannot read ") + (path ? path : "") + " as PNG");
  ComPtr<IWICBitmapFrameDecode> frame;
  result = decoder->GetFrame(0, frame.Out());
  ComPtr<IWICFormatConverter> converter;
  if (SUCCEEDED(result)) result = factory->CreateFormatConverter(converter.Out());
  if (SUCCEEDED(result)) {
    result =
        converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                              nullptr, 0.0, WICBitmapPaletteTypeCustom);
  }
  UINT w = 0;
  UINT h = 0;
  if (SUCCEEDED(result)) result = converter->GetSize(&w, &h);
  if (FAILED(result)) return Fail(error, HresultText("decoding the PNG", result));
  const size_t bytes = static_cast<size_t>(w) * h * 4;
  if (w == 0 || h == 0 || bytes > kPngMaxRgbaBytes) {
    return Fail(error, "the PNG's size is outside what is read");
  }
  rgba.resize(bytes);
  result = converter->CopyPixels(nullptr, w * 4, static_cast<UINT>(bytes), rgba.data());
  if (FAILED(result)) {
    rgba.clear();
    return Fail(error, HresultText("reading the PNG's pixels", result));
  }
  SwapRedBlue(rgba.data(), bytes / 4);
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return true;
}
