// The import library's file access, recorded: a scene file may name other
// files (a glTF's buffers, an OBJ's materials, an MD5 mesh's animations, an
// Ogre mesh's skeleton) that the library opens beside it. Every file it
// opens for reading is an input of the run, which no output may replace.
#pragma once

#include <assimp/DefaultIOSystem.h>

#include <string>
#include <vector>

namespace khost {

// The default file access, noting the path of every file opened for
// reading. The importer that is given it owns it (Importer::SetIOHandler);
// `opened` outlives it and receives each path once, in the order opened.
// [any thread] one at a time, as its importer is (in the import's child).
class RecordingIOSystem : public Assimp::DefaultIOSystem {
 public:
  explicit RecordingIOSystem(std::vector<std::string>* opened) : mOpened(opened) {}

  Assimp::IOStream* Open(const char* file, const char* mode = "rb") override;

 private:
  std::vector<std::string>* mOpened;
};

}  // namespace khost
