#include "khost/outputs/output_paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <system_error>
#include <utility>

#include "khost/cli/cli.h"
#include "khost/outputs/output_file.h"

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

// What a descriptor of this process stands for.
struct Descriptor {
  int Number = -1;
  dev_t Device = 0;
  ino_t Inode = 0;
  mode_t Mode = 0;
};

// Every descriptor open now, but the one used to list them.
std::vector<Descriptor> OpenDescriptors() {
  std::vector<Descriptor> open;
  DIR* folder = ::opendir("/proc/self/fd");
  if (!folder) return open;
  const int own = ::dirfd(folder);
  while (const dirent* entry = ::readdir(folder)) {
    char* end = nullptr;
    const long number = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || number == own || number > INT_MAX) continue;
    struct stat info {};
    if (::fstat(static_cast<int>(number), &info) != 0) continue;
    open.push_back({static_cast<int>(number), info.st_dev, info.st_ino, info.st_mode});
  }
  ::closedir(folder);
  return open;
}

// The caller's descriptors, by what they stand for (main thread only);
// until they are noted, the check against khost's own descriptors is off.
bool gInheritedNoted = false;
std::set<std::pair<dev_t, ino_t>> gInherited;

const char* KindOf(mode_t mode) {
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISFIFO(mode)) return "a pipe";
  if (S_ISREG(mode)) return "a file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "an internal object";
}

// Ok, or a usage error naming the output that is one of khost's own
// descriptors.
Status CheckOwnDescriptors(const std::vector<NamedPath>& outputs,
                           const std::vector<Identity>& written) {
  if (!gInheritedNoted) return {};
  const std::vector<Descriptor> open = OpenDescriptors();
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    if (!written[i].Exists || written[i].IsNull) continue;
    // A pipe's two ends are one object: every descriptor of it is named.
    std::string numbers;
    const Descriptor* held = nullptr;
    for (const Descriptor& d : open) {
      if (d.Device != written[i].Device || d.Inode != written[i].Inode) continue;
      if (gInherited.count({d.Device, d.Inode}) != 0) continue;
      numbers += (numbers.empty() ? "" : ", ") + std::to_string(d.Number);
      held = &d;
    }
    if (!held) continue;
    return BadInput(
        outputs[i].What + " " + QuoteArgument(outputs[i].Path) + " is " + KindOf(held->Mode) +
        " khost itself holds open (" +
        (numbers.find(',') == std::string::npos ? "its descriptor " : "its descriptors ") +
        numbers + "), which writing would corrupt");
  }
  return {};
}

// Ok, or a usage error naming the output that is the file standard output
// or standard error was redirected into (`--record r.csv > r.csv`): what khost
// prints there would be lost when the output replaces the file, or would tear
// it. An output that names the stream itself ("-", /dev/stdout, /dev/fd/1)
// is written through it, and only that stream's redirection is then its own.
Status CheckStandardStreams(const std::vector<NamedPath>& outputs,
                            const std::vector<Identity>& written) {
  static constexpr struct {
    int Number;
    const char* Name;
  } kStreams[] = {{STDOUT_FILENO, "standard output"}, {STDERR_FILENO, "standard error"}};
  for (const auto& stream : kStreams) {
    struct stat info {};
    if (::fstat(stream.Number, &info) != 0 || !S_ISREG(info.st_mode)) continue;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
      const Identity& id = written[i];
      if (!id.Exists || id.Device != info.st_dev || id.Inode != info.st_ino) continue;
      if (DescriptorNamed(outputs[i].Path) == stream.Number) continue;
      return BadInput(outputs[i].What + " " + QuoteArgument(outputs[i].Path) + " is the file " +
                      stream.Name + " goes to, whose text writing it would lose; send " +
                      stream.Name + " elsewhere" +
                      (stream.Number == STDOUT_FILENO ? ", or give the output as -" : ""));
    }
  }
  return {};
}

bool SameFile(const Identity& a, const Identity& b) {
  if (a.Exists && b.Exists) return a.Device == b.Device && a.Inode == b.Inode;
  return !a.Resolved.empty() && a.Resolved == b.Resolved;
}

}  // namespace

void NoteInheritedDescriptors() {
  const std::vector<Descriptor> open = OpenDescriptors();
  gInherited.clear();
  for (const Descriptor& d : open) gInherited.insert({d.Device, d.Inode});
  gInheritedNoted = true;
}

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
  if (Status own = CheckOwnDescriptors(outputs, written); !own) return own;
  if (Status streams = CheckStandardStreams(outputs, written); !streams) return streams;
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
