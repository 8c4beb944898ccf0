#include "allocation_counter.h"

#include <dlfcn.h>
#include <execinfo.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

// Under a sanitizer the C allocator belongs to the sanitizer's runtime:
// replacing it here would hand its blocks to the C library. GCC says so with
// __SANITIZE_*__, clang with __has_feature.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KP_COUNT_MALLOC 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KP_COUNT_MALLOC 0
#else
#define KP_COUNT_MALLOC 1
#endif
#else
#define KP_COUNT_MALLOC 1
#endif

namespace {

thread_local bool tArmed = false;
thread_local long tCount = 0;

// Whether an address lies in the OpenGL driver stack.
bool InGraphicsDriver(void* address) {
  Dl_info info;
  if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr) return false;
  static const char* const kDriverParts[] = {"/dri/",    "libGL",      "libEGL",  "libOpenGL",
                                             "libglapi", "libgallium", "libLLVM", "libdrm"};
  for (const char* part : kDriverParts) {
    if (std::strstr(info.dli_fname, part) != nullptr) return true;
  }
  return false;
}

// Whether the allocation was made by the OpenGL driver, directly or through
// the C and C++ libraries (strdup, std::string in its shader compiler). The
// driver manages its own memory behind the GL calls (vertex buffers, shader
// variants it compiles for new state); that is not the paint's doing, so it
// is not counted. The driver never calls back into the code under test, so a
// driver frame anywhere on the stack means the driver asked.
bool FromGraphicsDriver(void* caller) {
  if (InGraphicsDriver(caller)) return true;
  void* frames[96];
  const int count = backtrace(frames, 96);
  for (int i = 1; i < count; ++i) {
    if (InGraphicsDriver(frames[i])) return true;
  }
  return false;
}

inline void Note(void* caller) {
  if (!tArmed) return;
  tArmed = false;  // dladdr must not count itself
  if (!FromGraphicsDriver(caller)) {
    ++tCount;
  }
  tArmed = true;
}

#if KP_COUNT_MALLOC
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* __libc_memalign(std::size_t alignment, std::size_t size);
#define KP_RAW_MALLOC __libc_malloc
#define KP_RAW_ALIGNED(align, size) __libc_memalign(align, size)
#else
#define KP_RAW_MALLOC std::malloc
#define KP_RAW_ALIGNED(align, size) std::aligned_alloc(align, size)
#endif

__attribute__((noinline)) void* Allocate(std::size_t size, void* caller) {
  Note(caller);
  void* p = KP_RAW_MALLOC(size ? size : 1);
  if (!p) throw std::bad_alloc();
  return p;
}

__attribute__((noinline)) void* AllocateAligned(std::size_t size, std::align_val_t alignment,
                                                void* caller) {
  Note(caller);
  const std::size_t align = static_cast<std::size_t>(alignment);
  const std::size_t rounded = ((size ? size : 1) + align - 1) / align * align;
  void* p = KP_RAW_ALIGNED(align, rounded);
  if (!p) throw std::bad_alloc();
  return p;
}

}  // namespace

namespace kp_test {

void ArmAllocationCounter() {
  // backtrace loads its unwinder on first use; do that before counting.
  void* frames[2];
  backtrace(frames, 2);
  tCount = 0;
  tArmed = true;
}

long DisarmAllocationCounter() {
  tArmed = false;
  return tCount;
}

bool CountsMalloc() {
  return KP_COUNT_MALLOC != 0;
}

}  // namespace kp_test

void* operator new(std::size_t size) {
  return Allocate(size, __builtin_return_address(0));
}
void* operator new[](std::size_t size) {
  return Allocate(size, __builtin_return_address(0));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size, __builtin_return_address(0));
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size, __builtin_return_address(0));
  } catch (...) {
    return nullptr;
  }
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return AllocateAligned(size, alignment, __builtin_return_address(0));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return AllocateAligned(size, alignment, __builtin_return_address(0));
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}

#if KP_COUNT_MALLOC
// The C allocator, counted and handed on to the C library's own entry points.
extern "C" {
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void __libc_free(void* p);

void* malloc(std::size_t size) noexcept {
  Note(__builtin_return_address(0));
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept {
  Note(__builtin_return_address(0));
  return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) noexcept {
  Note(__builtin_return_address(0));
  return __libc_realloc(p, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
  Note(__builtin_return_address(0));
  return __libc_memalign(alignment, size);
}
void* memalign(std::size_t alignment, std::size_t size) noexcept {
  Note(__builtin_return_address(0));
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) noexcept {
  Note(__builtin_return_address(0));
  void* p = __libc_memalign(alignment, size);
  if (!p) return 12;  // ENOMEM
  *out = p;
  return 0;
}
void free(void* p) noexcept {
  __libc_free(p);
}
}
#endif
