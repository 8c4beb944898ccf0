// Fuzz target for the configuration file reader and writer.
//
// Each input is written to a file and opened as a configuration file. Besides
// not crashing, reading must hold these properties:
//   - Get never returns null;
//   - Set is refused on a file opened read-only;
//   - a value set on a writable file, once saved, reads back exactly from a
//     fresh object, and the file's other values read back unchanged;
//   - a line the reader is said to leave out for its bytes (what start-up
//     names) is one it takes no key or header from.

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "host/kbaselib.h"
#include "standin/kbaselib/config.h"

namespace {

// A private folder for the inputs, removed when the process ends normally.
// The path lives in a plain array so the exit handler never sees a
// destroyed object.
char gWorkFolder[64];

const char* WorkFolder() {
  if (!gWorkFolder[0]) {
    std::strcpy(gWorkFolder, "/tmp/kconfig-fuzz-XXXXXX");
    if (!::mkdtemp(gWorkFolder)) std::abort();
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(gWorkFolder, ignored);
    });
  }
  return gWorkFolder;
}

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "config fuzz: %s\n", what);
    std::abort();
  }
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  Check(fd >= 0, "cannot create the input file");
  size_t done = 0;
  while (done < size) {
    const ssize_t put = ::write(fd, data + done, size - done);
    Check(put > 0, "cannot write the input file");
    done += static_cast<size_t>(put);
  }
  ::close(fd);
}

// Section and key names probed on every input: the ones the module reads and
// a few that inputs are likely to contain.
const char* const kSections[] = {"", "Display", "Benchmark", "Evaluation", "S", "a"};
const char* const kKeys[] = {"EarlyFrustumCulling", "BufferSize", "Pipeline", "k", "a", ""};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = std::string(WorkFolder()) + "/input.txt";
  WriteFile(path, data, size);

  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)KConfig_DetectEncoding(text);
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    const KConfigLineKind kind = KConfig_ParseLine(line).Kind;
    const bool read = kind == KConfigLineKind::kKey || kind == KConfigLineKind::kHeader;
    Check(!read || KConfig_LineLeftOut(line) == KConfigLeftOut::kNone,
          "a line named as left out was read");
    start = end + 1;
  }

  std::string before[std::size(kSections)][std::size(kKeys)];
  {
    KConfigFile file(path.c_str(), false);
    for (size_t s = 0; s < std::size(kSections); ++s) {
      for (size_t k = 0; k < std::size(kKeys); ++k) {
        const char* value = file.Get(kSections[s], kKeys[k],
                                     "\x01"
                                     "default");
        Check(value != nullptr, "Get returned null");
        before[s][k] = value;
        Check(file.Get(kSections[s], kKeys[k], nullptr) != nullptr, "Get returned null");
      }
    }
    Check(!KConfigFile_Set(file, "S", "k", "v"), "a read-only file accepted Set");
  }

  // Use the first bytes of the input as a value to store.
  std::string value(reinterpret_cast<const char*>(data), std::min<size_t>(size, 24));
  value = value.substr(0, std::strlen(value.c_str()));
  bool stored = false;
  {
    KConfigFile file(path.c_str(), true);
    stored = KConfigFile_Set(file, "Fuzz", "Value", value.c_str());
    if (stored) {
      Check(std::strcmp(file.Get("fuzz", "value", nullptr), value.c_str()) == 0,
            "Set value not read back in memory");
      stored = KConfigFile_Save(file);
    }
  }
  if (stored) {
    KConfigFile again(path.c_str(), false);
    Check(KConfigFile_IsLoaded(again), "a saved file did not load");
    Check(std::strcmp(again.Get("Fuzz", "Value",
                                "\x01"
                                "missing"),
                      value.c_str()) == 0,
          "saved value did not read back");
    for (size_t s = 0; s < std::size(kSections); ++s) {
      for (size_t k = 0; k < std::size(kKeys); ++k) {
        if (std::strcmp(kSections[s], "Fuzz") == 0) continue;
        Check(before[s][k] == again.Get(kSections[s], kKeys[k],
                                        "\x01"
                                        "default"),
              "saving changed another value");
      }
    }
  }
  return 0;
}
