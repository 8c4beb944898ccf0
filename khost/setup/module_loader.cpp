#include "khost/setup/module_loader.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "khost/base/quoting.h"
#include "standin/kbaselib/registry.h"

namespace khost {

namespace {

// The entry point is exported with C++ linkage: its name carries its
// parameter type.
constexpr const char* kEntrySymbol = "_Z23EntryPointtoolprofiling13kDllOperation";
constexpr const char* kInitSymbol = "LIBRARY_INIT";

// The ELF header fields of a shared library this process can load.
#if defined(__x86_64__)
constexpr int kMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr int kMachine = EM_AARCH64;
#else
constexpr int kMachine = -1;  // not checked
#endif
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr unsigned char kByteOrder = ELFDATA2LSB;
#else
constexpr unsigned char kByteOrder = ELFDATA2MSB;
#endif
using ElfHeader = ElfW(Ehdr);
using ProgramHeader = ElfW(Phdr);
constexpr unsigned char kClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;

bool ReadAt(int fd, void* buffer, std::size_t size, off_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::pread(fd, static_cast<char*>(buffer) + done, size - done,
                                offset + static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

// Why the platform loader must not be given `path`; empty when the file is
// a shared library for this machine whose loadable segments all lie within
// it. The loader maps segments without checking the file's size, so a
// truncated library would fault on first touch instead of failing.
std::string LibraryProblem(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::string("cannot be opened (") + std::strerror(errno) + ")";
  struct stat info {};
  ElfHeader header{};
  std::string problem;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    problem = "is not a file";
  } else if (!ReadAt(fd, &header, sizeof header, 0) ||
             std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) {
    problem = "is not an ELF shared library";
  } else if (header.e_ident[EI_CLASS] != kClass || header.e_ident[EI_DATA] != kByteOrder ||
             (kMachine >= 0 && header.e_machine != kMachine)) {
    problem = "is a library for another kind of machine";
  } else if (header.e_type != ET_DYN) {
    problem = "is an ELF file but not a shared library";
  } else if (header.e_phentsize != sizeof(ProgramHeader) || header.e_phnum == 0 ||
             header.e_phoff > static_cast<std::uint64_t>(info.st_size) ||
             header.e_phnum * sizeof(ProgramHeader) >
                 static_cast<std::uint64_t>(info.st_size) - header.e_phoff) {
    problem = "is damaged: its program headers lie outside the file";
  } else {
    const std::uint64_t size = static_cast<std::uint64_t>(info.st_size);
    for (int i = 0; i < header.e_phnum && problem.empty(); ++i) {
      ProgramHeader segment{};
      if (!ReadAt(fd, &segment, sizeof segment,
                  static_cast<off_t>(header.e_phoff + i * sizeof(ProgramHeader)))) {
        problem = "cannot be read";
      } else if ((segment.p_type == PT_LOAD || segment.p_type == PT_DYNAMIC) &&
                 (segment.p_offset > size || segment.p_filesz > size - segment.p_offset)) {
        problem = "is damaged or truncated: a segment reaches beyond its " + std::to_string(size) +
                  " bytes";
      }
    }
  }
  ::close(fd);
  return problem;
}

// Drops every registration whose factory lies in the library `handle`, so
// that nothing in the registry points into code about to be unmapped.
void ForgetFactoriesOf(void* handle) {
  link_map* map = nullptr;
  if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return;
  std::vector<std::pair<std::string, std::string>> gone;
  const int count = Object_GetRegisteredCount();
  for (int i = 0; i < count; ++i) {
    const KRegisteredClass* entry = Object_GetRegistered(i);
    if (!entry || !entry->Factory) continue;
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(entry->Factory), &info) != 0 && info.dli_fname &&
        std::strcmp(info.dli_fname, map->l_name) == 0) {
      gone.emplace_back(entry->Path, entry->Name);
    }
  }
  for (const auto& [path, name] : gone) Object_Unregister(path.c_str(), name.c_str());
}

}  // namespace

LoadedModule::~LoadedModule() {
  Unload();
}

Status LoadedModule::Load(const std::string& path) {
  Unload();
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    return Failure("module not found: " + QuoteArgument(path));
  }
  if (!S_ISREG(info.st_mode)) {
    return Failure("module is not a file: " + QuoteArgument(path));
  }
  if (const std::string problem = LibraryProblem(path); !problem.empty()) {
    return Failure("cannot load module " + QuoteArgument(path) + ": it " + problem);
  }
  // A name without a folder is a file in the current folder, as on the
  // command line; the loader would search its library path for it instead.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  dlerror();
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* reason = dlerror();
    return Failure("cannot load module " + QuoteArgument(path) + ": " +
                   (reason ? EchoText(reason) : "unknown reason"));
  }
  void* entry = dlsym(handle, kEntrySymbol);
  void* init = dlsym(handle, kInitSymbol);
  if (!entry || !init) {
    std::string missing;
    if (!entry) missing = "EntryPointtoolprofiling(kDllOperation)";
    if (!init) missing += std::string(missing.empty() ? "" : " and ") + "LIBRARY_INIT()";
    ForgetFactoriesOf(handle);
    dlclose(handle);
    return Failure("module " + QuoteArgument(path) + " does not export " + missing);
  }
  mHandle = handle;
  mEntry = reinterpret_cast<void (*)(kDllOperation)>(entry);
  mInit = reinterpret_cast<bool (*)()>(init);
  return {};
}

bool LoadedModule::Init() {
  return mInit ? mInit() : false;
}

void LoadedModule::Entry(kDllOperation operation) {
  if (mEntry) mEntry(operation);
}

void LoadedModule::Unload() {
  if (!mHandle) return;
  ForgetFactoriesOf(mHandle);
  dlclose(mHandle);
  mHandle = nullptr;
  mEntry = nullptr;
  mInit = nullptr;
}

}  // namespace khost
