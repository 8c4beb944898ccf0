#include "khost/import/recording_io.h"

#include <algorithm>
#include <cstring>

namespace khost {

Assimp::IOStream* RecordingIOSystem::Open(const char* file, const char* mode) {
  Assimp::IOStream* stream = DefaultIOSystem::Open(file, mode);
  const bool reading = mode && !std::strpbrk(mode, "wa+");
  if (stream && reading && file && mOpened) {
    const std::string path(file);
    if (std::find(mOpened->begin(), mOpened->end(), path) == mOpened->end()) {
      mOpened->push_back(path);
    }
  }
  return stream;
}

}  // namespace khost
