#include "khost/setup/config_edit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "khost/base/quoting.h"
#include "khost/outputs/output_file.h"
#include "khost/setup/config_check.h"
#include "standin/kbaselib/config.h"

namespace khost {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// One line of the text: what is between two line ends, and its ending
// ("\n", "\r\n", or "\r" or nothing for a last line without '\n').
struct Line {
  std::string Text;
  std::string Ending;
  bool Added = false;
  bool Changed = false;
  std::string Old;
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    Line line;
    if (end == std::string_view::npos) {
      // A last line without '\n': the reader drops a '\r' at its end too.
      end = text.size();
      const bool cr = text.back() == '\r';
      line.Text = std::string(text.substr(start, end - start - (cr ? 1 : 0)));
      line.Ending = cr ? "\r" : "";
    } else {
      const bool crlf = end > start && text[end - 1] == '\r';
      line.Text = std::string(text.substr(start, end - start - (crlf ? 1 : 0)));
      line.Ending = crlf ? "\r\n" : "\n";
    }
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

// The definition the reader takes for section/key and the last line of
// the section it reads (-1 for none).
void Find(const std::vector<Line>& lines, std::string_view section, std::string_view key,
          long& definition, long& lastOfSection) {
  definition = -1;
  lastOfSection = -1;
  bool inSection = section.empty();
  bool skipping = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const KConfigLine parsed = KConfig_ParseLine(lines[i].Text);
    switch (parsed.Kind) {
      case KConfigLineKind::kHeader:
        skipping = false;
        inSection = KConfig_SameName(parsed.Name, section);
        if (inSection) lastOfSection = static_cast<long>(i);
        break;
      case KConfigLineKind::kBrokenHeader:
        skipping = true;
        break;
      case KConfigLineKind::kKey:
        if (skipping || !inSection) break;
        lastOfSection = static_cast<long>(i);
        if (KConfig_SameName(parsed.Key, key)) definition = static_cast<long>(i);
        break;
      case KConfigLineKind::kOther:
        break;
    }
  }
}

// `line` with its value replaced, everything around the value kept.
std::string ReplaceValue(const std::string& line, const std::string& value, bool quoted) {
  std::size_t begin = line.find('=') + 1;
  while (begin < line.size() && KConfig_IsBlank(line[begin])) ++begin;
  std::size_t end = line.size();
  while (end > begin && KConfig_IsBlank(line[end - 1])) --end;
  // A quoted value ends at the line's last quote; the reader skips what
  // follows it, and so it stays as it is.
  if (quoted) end = line.rfind('"') + 1;
  std::string formatted = KConfig_FormatValue(value, quoted);
  if (begin == line.size() && begin > 0 && line[begin - 1] == '=' && !formatted.empty()) {
    formatted.insert(formatted.begin(), ' ');
  }
  return line.substr(0, begin) + formatted + line.substr(end);
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The folder's real path and the name in it.
std::string CanonicalName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  char* real = ::realpath(FolderOf(path).c_str(), nullptr);
  if (!real) return path;
  std::string folder(real);
  std::free(real);
  return folder + "/" + name;
}

bool InGroup(gid_t group) {
  if (group == ::getegid()) return true;
  const int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  const int got = ::getgroups(count, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, group) != groups.begin() + got;
}

// Whether the existing file could be replaced keeping it as it is: the
// folder's write permission lets anyone with it replace a file, so the
// file's own permission and ownership are checked here.
Status CheckKeepable(const std::string& path, const struct stat& info) {
  const std::string name = "configuration file " + QuoteArgument(path);
  if ((info.st_mode & S_IWUSR) == 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return BadInput(name + " is read-only (mode " + mode + "); it is not rewritten");
  }
  if (::access(path.c_str(), W_OK) != 0) {
    return BadInput(name + " is not writable by this user (" + std::strerror(errno) +
                    "); it is not rewritten");
  }
  if (::geteuid() != 0 && (info.st_uid != ::geteuid() || !InGroup(info.st_gid))) {
    return BadInput(name + " belongs to user " + std::to_string(info.st_uid) + " and group " +
                    std::to_string(info.st_gid) +
                    ", which a rewrite by this user could not keep; it is not rewritten");
  }
  return Status();
}

// An old file kept aside under a second name (a hard link) while the new
// files go in, so that it can be put back whole, owner and all.
class Aside {
 public:
  Aside() = default;
  Aside(const Aside&) = delete;
  Aside& operator=(const Aside&) = delete;
  ~Aside() { Drop(); }

  Status Keep(const std::string& target) {
    struct stat info {};
    if (::lstat(target.c_str(), &info) != 0) return Status();  // new: put back by removing it
    mExisted = true;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string name = FolderOf(target) + "/.khost-kept-" + std::to_string(::getpid()) +
                               "-" + std::to_string(attempt);
      if (::link(target.c_str(), name.c_str()) == 0) {
        mName = name;
        mEntry = RegisterTemporaryName(name);
        return Status();
      }
      if (errno != EEXIST) {
        return Failure(std::string("cannot keep the old file aside (") + std::strerror(errno) +
                       ")");
      }
    }
    return Failure("cannot keep the old file aside");
  }
  // Puts the old file back at `target` (or removes the new one where there
  // was none).
  bool PutBack(const std::string& target) {
    if (!mExisted) return ::unlink(target.c_str()) == 0;
    if (mName.empty() || ::rename(mName.c_str(), target.c_str()) != 0) return false;
    mName.clear();
    return true;
  }
  // Leaves the old file under its second name, which it returns.
  std::string Release() {
    std::string name = std::move(mName);
    mName.clear();
    ForgetTemporaryName(mEntry);
    mEntry = -1;
    return name;
  }
  void Drop() {
    if (!mName.empty()) ::unlink(mName.c_str());
    mName.clear();
    ForgetTemporaryName(mEntry);
    mEntry = -1;
  }

 private:
  bool mExisted = false;
  std::string mName;
  int mEntry = -1;
};

// The line number in the file of lines[index], lines added before it not
// counted.
long CountLinesBefore(const std::vector<Line>& lines, long index) {
  long count = 0;
  for (long i = 0; i < index; ++i) count += lines[static_cast<std::size_t>(i)].Added ? 0 : 1;
  return count;
}

Status CheckEdit(const ConfigEdit& edit) {
  const std::string name = "\"" + edit.Section + "/" + edit.Key + "\"";
  switch (KConfig_CheckWritable(edit.Section, edit.Key, edit.Value)) {
    case KConfigUnwritable::kSection:
      return Failure("configuration section of " + name + " cannot be written");
    case KConfigUnwritable::kKey:
      return Failure("configuration key " + name + " cannot be written");
    case KConfigUnwritable::kValue:
      return Failure("value of configuration key " + name + " cannot be written");
    case KConfigUnwritable::kNone:
      break;
  }
  return Status();
}

}  // namespace

Result<ConfigTextEdit> EditConfigText(std::string_view text, const std::vector<ConfigEdit>& edits) {
  for (const auto& edit : edits) {
    Status checked = CheckEdit(edit);
    if (!checked) return checked.GetError();
  }
  // A byte order mark stays first, whatever is added.
  const bool bom = text.substr(0, kByteOrderMark.size()) == kByteOrderMark;
  if (bom) text.remove_prefix(kByteOrderMark.size());
  std::vector<Line> lines = SplitLines(text);
  // Added lines end as the file's first line does.
  const std::string ending = !lines.empty() && lines[0].Ending == "\r\n" ? "\r\n" : "\n";
  auto insertAt = [&](std::size_t index, std::string lineText) {
    if (index > 0 && lines[index - 1].Ending.empty()) lines[index - 1].Ending = ending;
    if (index > 0 && lines[index - 1].Ending == "\r") lines[index - 1].Ending = "\r\n";
    Line line;
    line.Text = std::move(lineText);
    line.Ending = ending;
    line.Added = true;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(index), std::move(line));
  };
  for (const auto& edit : edits) {
    long definition = -1;
    long lastOfSection = -1;
    Find(lines, edit.Section, edit.Key, definition, lastOfSection);
    if (definition >= 0) {
      Line& line = lines[static_cast<std::size_t>(definition)];
      const KConfigLine parsed = KConfig_ParseLine(line.Text);
      if (LooksLikeComment(parsed)) {
        // The reader takes the note as part of the value: keeping it would
        // write a value that reads as something else, dropping it would
        // lose it.
        return BadInput("line " + std::to_string(CountLinesBefore(lines, definition) + 1) +
                        ": the value of \"" + edit.Section + "/" + edit.Key + "\" is \"" +
                        EchoText(parsed.Value) + "\" as a whole, as " + kNoInlineComment);
      }
      std::string replaced = ReplaceValue(line.Text, edit.Value, parsed.Quoted);
      if (replaced == line.Text) continue;
      if (!line.Added && !line.Changed) {
        line.Old = line.Text;
        line.Changed = true;
      }
      line.Text = std::move(replaced);
      continue;
    }
    const std::string entry = edit.Key + " = " + KConfig_FormatValue(edit.Value, false);
    if (lastOfSection >= 0) {
      insertAt(static_cast<std::size_t>(lastOfSection) + 1, entry);
    } else if (edit.Section.empty()) {
      insertAt(0, entry);  // keys before any header
    } else {
      // A new section at the end, after a blank line when the file has text.
      if (!lines.empty() && !KConfig_Trim(lines.back().Text).empty()) insertAt(lines.size(), "");
      insertAt(lines.size(), "[" + edit.Section + "]");
      insertAt(lines.size(), entry);
    }
  }
  ConfigTextEdit result;
  if (bom) result.Text = kByteOrderMark;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    result.Text += line.Text;
    result.Text += line.Ending;
    if (line.Added || (line.Changed && line.Old != line.Text)) {
      ConfigLineChange change;
      change.Line = static_cast<int>(i) + 1;
      change.Added = line.Added;
      change.Old = line.Added ? std::string() : line.Old;
      change.New = line.Text;
      result.Changes.push_back(std::move(change));
    }
  }
  return result;
}

Result<ConfigFileEdit> PlanConfigFileEdit(const std::string& path,
                                          const std::vector<ConfigEdit>& edits) {
  ConfigFileEdit plan;
  plan.Path = path;
  std::string text;
  // Non-blocking, so that a pipe in the file's place is refused, not waited on.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) {
      return Failure("cannot read configuration file " + QuoteArgument(path) + ": " +
                     std::strerror(errno));
    }
  } else {
    plan.Exists = true;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      ::close(fd);
      return Failure("configuration file " + QuoteArgument(path) + " is not a regular file");
    }
    char buffer[65536];
    while (text.size() <= kConfigMaxFileBytes) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        const int code = errno;
        ::close(fd);
        return Failure("cannot read configuration file " + QuoteArgument(path) + ": " +
                       std::strerror(code));
      }
      if (got == 0) break;
      text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    if (text.size() > kConfigMaxFileBytes) {
      return Failure("configuration file " + QuoteArgument(path) + " is larger than " +
                     std::to_string(kConfigMaxFileBytes / (1024 * 1024)) +
                     " MiB and is not rewritten");
    }
    if (const KConfigEncoding encoding = KConfig_DetectEncoding(text);
        encoding != KConfigEncoding::kText) {
      return BadInput("configuration file " + QuoteArgument(path) + " " +
                      EncodingProblem(encoding) +
                      ", which the reader does not read; it is not rewritten (save it as UTF-8 "
                      "with LF or CRLF line ends)");
    }
    if (Status kept = CheckKeepable(path, info); !kept) return kept.GetError();
  }
  OutputFile probe;
  if (Status replaceable = probe.Open(path); !replaceable) return replaceable.GetError();
  plan.Target = probe.Target();
  Result<ConfigTextEdit> edited = EditConfigText(text, edits);
  if (!edited) {
    Error error = edited.GetError();
    error.Message = "configuration file " + QuoteArgument(path) + ": " + error.Message;
    return error;
  }
  plan.Edit = std::move(*edited);
  if (plan.Edit.Changes.empty()) plan.Edit.Text = std::move(text);
  return plan;
}

bool SameConfigFile(const ConfigFileEdit& a, const ConfigFileEdit& b) {
  struct stat first {};
  struct stat second {};
  if (::stat(a.Target.c_str(), &first) == 0 && ::stat(b.Target.c_str(), &second) == 0) {
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
  }
  // Either is yet to be made: the same name in the same folder.
  return CanonicalName(a.Target) == CanonicalName(b.Target);
}

Status WriteConfigFileEdits(const std::vector<ConfigFileEdit>& edits) {
  std::vector<const ConfigFileEdit*> changing;
  for (const ConfigFileEdit& edit : edits) {
    if (!edit.Edit.Changes.empty()) changing.push_back(&edit);
  }
  // Every new text whole beside its file before any file changes.
  std::vector<std::unique_ptr<OutputFile>> files;
  for (const ConfigFileEdit* edit : changing) {
    auto file = std::make_unique<OutputFile>();
    Status prepared = file->Open(edit->Path);
    if (prepared) file->KeepOwnerStrictly();
    if (prepared) prepared = file->Write(edit->Edit.Text);
    if (prepared) prepared = file->Prepare();
    if (!prepared) return prepared;
    files.push_back(std::move(file));
  }
  // The old files that may have to be put back, kept aside (all but the
  // last, which nothing can fail after).
  std::vector<Aside> asides(files.size());
  for (std::size_t i = 0; i + 1 < files.size(); ++i) {
    if (Status kept = asides[i].Keep(files[i]->Target()); !kept) {
      return Failure("cannot write " + QuoteArgument(changing[i]->Path) + ": " +
                     kept.GetError().Message + "; nothing was written");
    }
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    Status committed = files[i]->Commit();
    if (committed) continue;
    std::string message = committed.GetError().Message;
    std::string restored;
    std::string lost;
    for (std::size_t j = 0; j < i; ++j) {
      const std::string name = QuoteArgument(changing[j]->Path);
      if (asides[j].PutBack(files[j]->Target())) {
        restored += (restored.empty() ? "" : ", ") + name;
      } else {
        const std::string kept = asides[j].Release();
        lost += (lost.empty() ? "" : "; ") + name +
                " holds its new text and could not be put back" +
                (kept.empty() ? "" : " (its old text is kept as " + QuoteArgument(kept) + ")");
      }
    }
    if (lost.empty()) {
      message += "; nothing was written";
      if (!restored.empty()) message += " (" + restored + " put back as it was)";
    } else {
      message += "; " + lost;
    }
    return Failure(std::move(message));
  }
  for (Aside& aside : asides) aside.Drop();
  return Status();
}

}  // namespace khost
