#include "khost/import/image_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

namespace khost {

namespace {

namespace fs = std::filesystem;

bool IsRegularFile(const fs::path& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

// The entry of `folder` named `name` regardless of case (the first in name
// order when several are), or empty.
fs::path EntryIgnoringCase(const fs::path& folder, const std::string& name) {
  std::error_code error;
  if (fs::exists(folder / name, error)) return folder / name;
  std::vector<std::string> matches;
  for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, error), end;
       !error && it != end; it.increment(error)) {
    const std::string entry = it->path().filename().string();
    if (SameIgnoringCase(entry, name)) matches.push_back(entry);
  }
  if (matches.empty()) return {};
  std::sort(matches.begin(), matches.end());
  return folder / matches.front();
}

// `relative`'s parts followed one by one from `folder`, each regardless of
// case ("." and ".." as they are), or empty.
fs::path PathIgnoringCase(const fs::path& folder, const fs::path& relative) {
  fs::path at = folder;
  for (const fs::path& part : relative) {
    const std::string name = part.string();
    if (name.empty() || name == "." || name == "..") {
      at /= part;
      continue;
    }
    at = EntryIgnoringCase(at, name);
    if (at.empty()) return {};
  }
  return at;
}

// The file `named` stands for, its name taken as it is.
fs::path Find(const fs::path& folder, const std::string& named) {
  const fs::path path(named);
  const fs::path exact = path.is_absolute() ? path : folder / path;
  if (IsRegularFile(exact)) return exact;
  const fs::path relative = path.relative_path();
  const fs::path root = path.is_absolute() ? path.root_path() : folder;
  if (const fs::path found = PathIgnoringCase(root, relative); IsRegularFile(found)) return found;
  // An absolute name that is not there may have meant the scene's folder
  // (Blender's "//name", a Windows "\..\name").
  if (path.is_absolute()) {
    if (const fs::path found = PathIgnoringCase(folder, relative); IsRegularFile(found))
      return found;
  }
  const std::string last = path.filename().string();
  if (!last.empty() && last != "." && last != "..") {
    if (const fs::path found = EntryIgnoringCase(folder, last); IsRegularFile(found)) return found;
  }
  return {};
}

}  // namespace

std::string FindImageFile(const std::string& folder, const std::string& named) {
  std::string name = named;
  std::replace(name.begin(), name.end(), '\\', '/');
  // A drive ("D:") means nothing here: what follows it is looked for.
  if (name.size() >= 2 && name[1] == ':' &&
      ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
    name.erase(0, 2);
  if (name.empty()) return {};
  if (const fs::path found = Find(folder, name); !found.empty()) return found.string();
  if (fs::path(name).has_extension()) return {};
  for (const char* extension : {".png", ".tga", ".jpg", ".jpeg", ".bmp"}) {
    if (const fs::path found = Find(folder, name + extension); !found.empty())
      return found.string();
  }
  return {};
}

}  // namespace khost
