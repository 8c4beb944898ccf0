#include "khost/outputs/output_paths.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <system_error>

#include "khost/cli/cli.h"

namespace khost {

namespace {

namespace fs = std::filesystem;

constexpr int kMaxLinkHops = 40;  // as the kernel follows

// What a path stands for: the file it names (when there is one) and the
// path it resolves to.
struct Identity {
  bool Exists = false;
  dev_t Device = 0;
  ino_t Inode = 0;
  bool IsNull = false;   // /dev/null, which any number of outputs may share
  std::string Resolved;  // links followed; empty when it cannot be resolved
};

// Follows symbolic links as far as they go (a link to a name not yet there
// stands for that name) and makes the result absolute through its folder's
// real path.
std::string Resolve(const std::string& path) {
  std::string current = path;
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(current.c_str(), buffer, sizeof buffer - 1);
    if (length <= 0) break;
    const std::string link(buffer, static_cast<std::size_t>(length));
    current = link[0] == '/' ? link : (fs::path(current).parent_path() / link).string();
  }
  std::error_code ec;
  const fs::path absolute = fs::absolute(current, ec);
  if (ec) return {};
  fs::path folder = absolute.parent_path();
  const fs::path canonical = fs::weakly_canonical(folder, ec);
  if (!ec) folder = canonical;
  return (folder / absolute.filename()).lexically_normal().string();
}

Identity IdentityOf(const std::string& path) {
  Identity id;
  struct stat info {};
  if (!path.empty() && ::stat(path.c_str(), &info) == 0) {
    id.Exists = true;
    id.Device = info.st_dev;
    id.Inode = info.st_ino;
    id.IsNull = S_ISCHR(info.st_mode) && info.st_rdev == makedev(1, 3);
  }
  if (!path.empty()) id.Resolved = Resolve(path);
  return id;
}

bool SameFile(const Identity& a, const Identity& b) {
  if (a.Exists && b.Exists) return a.Device == b.Device && a.Inode == b.Inode;
  return !a.Resolved.empty() && a.Resolved == b.Resolved;
}

}  // namespace

Status CheckOutputPaths(const std::vector<NamedPath>& outputs,
                        const std::vector<NamedPath>& inputs) {
  std::vector<Identity> written;
  written.reserve(outputs.size());
  for (const NamedPath& output : outputs) written.push_back(IdentityOf(output.Path));

  for (std::size_t i = 0; i < outputs.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (written[i].IsNull || !SameFile(written[i], written[j])) continue;
      return BadInput(outputs[j].What + " " + QuoteArgument(outputs[j].Path) + " and " +
                      outputs[i].What + " " + QuoteArgument(outputs[i].Path) +
                      " are the same file; each output needs its own");
    }
  }
  for (const NamedPath& input : inputs) {
    const Identity read = IdentityOf(input.Path);
    for (std::size_t i = 0; i < outputs.size(); ++i) {
      if (written[i].IsNull || !SameFile(written[i], read)) continue;
      return BadInput(outputs[i].What + " " + QuoteArgument(outputs[i].Path) + " is " + input.What +
                      " " + QuoteArgument(input.Path) + ", which writing it would destroy");
    }
  }
  return {};
}

}  // namespace khost
