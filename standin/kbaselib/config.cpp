// Configuration files: the host's configuration folder and INI-style files.
//
// Reading rules (what the parser does with every kind of line):
//   - Lines end at '\n'; a '\r' before it is dropped. A UTF-8 byte order mark
//     at the start of the file is skipped.
//   - Blanks are spaces and tabs. A line that is empty after trimming blanks,
//     or whose first non-blank character is ';' or '#', is a comment.
//   - A line longer than kMaxLineLength bytes, or holding a NUL byte or any
//     other control character except tab, is unreadable and left out.
//   - "[Name]" starts section Name (blanks around Name removed; text after the
//     first ']' ignored). A later header of the same section (in any case)
//     continues it.
//   - A '[' line without ']', or an unreadable line whose first non-blank
//     character is '[' (a damaged header), is unusable: it and every key
//     line after it are left out until the next well-formed section header. Keeping those keys
//     in the section before would let a damaged header silently override
//     that section's values.
//   - Key lines before any section header belong to section "".
//   - "Key = Value": the key is the text before the first '=', trimmed (an
//     empty key leaves the line out); the value is the text after it,
//     trimmed. A value that starts with '"' is the text between that quote
//     and the last '"' of the line, taken as it stands; with no second quote
//     the line is left out. A line without '=' is left out.
//   - A later duplicate key of a section wins.
//   - At most kMaxFileBytes are read. A longer file is read up to the last
//     complete line within that cap and can no longer be saved (saving would
//     cut it short).
//   - Only regular files are read: a folder, a device or a pipe where the
//     file should be counts as unreadable (a pipe is never waited on).
//
// Saving rewrites the file as it was read, with changed values replaced on
// their own lines, new keys added after the last line of their section and
// new sections at the end; comments and lines left out stay as they were.
// The new text goes to a temporary file that then replaces the old one, so a
// failed save leaves the old file whole. A file that existed but could not be
// read completely is never saved over.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/kbaselib.h"

namespace {

constexpr size_t kMaxFileBytes = 16u * 1024u * 1024u;
constexpr size_t kMaxLineLength = 64u * 1024u;
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

struct FolderState {
  std::mutex Mutex;
  std::string Folder = ".";
};

FolderState& TheFolderState() {
  static FolderState* state = new FolderState;
  return *state;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool HasControlCharacter(std::string_view text) {
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t') || u == 0x7f) return true;
  }
  return false;
}

std::string Lower(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

struct Entry {
  std::string Key;
  std::string Value;
  int Line = -1;  // line of the definition that counts; -1 for a key added by Set
  bool Dirty = false;
};

struct Section {
  std::string Name;
  std::vector<std::unique_ptr<Entry>> Entries;
  std::unordered_map<std::string, Entry*> Index;
  int LastLine = -1;  // last line that belongs to the section; -1 when new
};

std::string FormatValue(const std::string& value) {
  const bool quote =
      !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) || value.front() == '"');
  return quote ? "\"" + value + "\"" : value;
}

std::string FormatEntry(const Entry& entry) {
  return entry.Key + " = " + FormatValue(entry.Value);
}

}  // namespace

//-----------------------------------------------------------------------------
// Folder and paths
//-----------------------------------------------------------------------------

void KConfig_SetFolder(const char* folder) {
  FolderState& state = TheFolderState();
  std::lock_guard<std::mutex> lock(state.Mutex);
  state.Folder = (folder && *folder) ? folder : ".";
}

std::string KConfig_GetFolder() {
  const char* fromEnvironment = std::getenv("KHOST_CONFIG_DIR");
  if (fromEnvironment && *fromEnvironment) return fromEnvironment;
  FolderState& state = TheFolderState();
  std::lock_guard<std::mutex> lock(state.Mutex);
  return state.Folder;
}

std::string KConfig_ResolvePath(const char* fileName) {
  if (!fileName) return std::string();
  if (fileName[0] != '@') return fileName;
  std::string folder = KConfig_GetFolder();
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder + (fileName + 1);
}

//-----------------------------------------------------------------------------
// KConfigFile
//-----------------------------------------------------------------------------

struct KConfigFile::Impl {
  std::string Path;
  bool Writable = false;
  bool Loaded = false;
  // The file exists but was not read whole: saving would destroy content.
  bool SaveBlocked = false;
  std::vector<std::string> Lines;  // the file as read, kept for saving
  std::vector<std::unique_ptr<Section>> Sections;
  std::unordered_map<std::string, Section*> Index;

  Section* FindSection(std::string_view name) {
    auto it = Index.find(Lower(name));
    return it == Index.end() ? nullptr : it->second;
  }

  Section* GetSection(std::string_view name) {
    if (Section* found = FindSection(name)) return found;
    auto section = std::make_unique<Section>();
    section->Name = std::string(name);
    Section* raw = section.get();
    Sections.push_back(std::move(section));
    Index.emplace(Lower(name), raw);
    return raw;
  }

  static Entry* FindEntry(Section& section, std::string_view key) {
    auto it = section.Index.find(Lower(key));
    return it == section.Index.end() ? nullptr : it->second;
  }

  static Entry* GetEntry(Section& section, std::string_view key) {
    if (Entry* found = FindEntry(section, key)) return found;
    auto entry = std::make_unique<Entry>();
    entry->Key = std::string(key);
    Entry* raw = entry.get();
    section.Entries.push_back(std::move(entry));
    section.Index.emplace(Lower(key), raw);
    return raw;
  }

  bool ReadFile(std::string& content);
  void Parse(const std::string& content);
  bool Save();
};

bool KConfigFile::Impl::ReadFile(std::string& content) {
  // Non-blocking open so that a pipe in the file's place cannot hang us; only
  // regular files are read.
  const int fd = ::open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    SaveBlocked = errno != ENOENT;
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    SaveBlocked = true;
    return false;
  }
  content.clear();
  char buffer[65536];
  bool ok = true;
  while (content.size() <= kMaxFileBytes) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (got == 0) break;
    content.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  if (!ok) {
    content.clear();
    SaveBlocked = true;
    return false;
  }
  if (content.size() > kMaxFileBytes) {
    // Keep whole lines only.
    content.resize(kMaxFileBytes);
    const size_t lastNewline = content.rfind('\n');
    content.resize(lastNewline == std::string::npos ? 0 : lastNewline + 1);
    SaveBlocked = true;
  }
  return true;
}

void KConfigFile::Impl::Parse(const std::string& content) {
  Section* current = nullptr;  // null: before any header (section "")
  bool skipping = false;       // after an unclosed '[' line
  size_t start = 0;
  int lineIndex = 0;
  if (content.compare(0, 3, kByteOrderMark) == 0) start = 3;
  const size_t firstLineStart = start;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string_view line(content.data() + start, end - start);
    if (Writable) {
      // The byte order mark is written back with the first line.
      const size_t keepFrom = (start == firstLineStart) ? 0 : start;
      Lines.emplace_back(content.data() + keepFrom, end - keepFrom);
    }
    start = end + 1;
    const int index = lineIndex++;

    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > kMaxLineLength || HasControlCharacter(line)) {
      // A damaged section header ends the section before it, like an
      // unclosed '['.
      const std::string_view text = Trim(line.substr(0, std::min(line.size(), kMaxLineLength)));
      if (!text.empty() && text[0] == '[') skipping = true;
      continue;
    }
    const std::string_view text = Trim(line);
    if (text.empty() || text[0] == ';' || text[0] == '#') continue;

    if (text[0] == '[') {
      const size_t close = text.find(']');
      if (close == std::string_view::npos) {
        skipping = true;
        continue;
      }
      current = GetSection(Trim(text.substr(1, close - 1)));
      current->LastLine = index;
      skipping = false;
      continue;
    }
    if (skipping) continue;

    const size_t equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = Trim(text.substr(0, equals));
    if (key.empty()) continue;
    std::string_view value = Trim(text.substr(equals + 1));
    if (!value.empty() && value.front() == '"') {
      const size_t closeQuote = value.rfind('"');
      if (closeQuote == 0) continue;  // unclosed quote
      value = value.substr(1, closeQuote - 1);
    }
    Section* section = current ? current : GetSection("");
    Entry* entry = GetEntry(*section, key);
    entry->Value = std::string(value);
    entry->Line = index;
    section->LastLine = index;
  }
}

bool KConfigFile::Impl::Save() {
  if (!Writable || SaveBlocked) return false;

  // What replaces each line that defines a changed key, and what follows the
  // last line of each section that gained keys.
  std::unordered_map<int, std::string> replaced;
  std::unordered_map<int, std::string> appended;
  std::string top;   // new keys of section "" when it has no line yet
  std::string tail;  // new sections
  for (const auto& section : Sections) {
    std::string added;
    for (const auto& entry : section->Entries) {
      if (entry->Line >= 0) {
        if (entry->Dirty) replaced[entry->Line] = FormatEntry(*entry);
      } else {
        added += FormatEntry(*entry);
        added += '\n';
      }
    }
    if (section->LastLine >= 0) {
      if (!added.empty()) appended[section->LastLine] += added;
    } else if (section->Name.empty()) {
      top += added;
    } else {
      tail += '[' + section->Name + "]\n" + added;
    }
  }

  // A byte order mark must stay at the very start, before any added keys.
  const bool byteOrderMark = !Lines.empty() && Lines[0].compare(0, 3, kByteOrderMark) == 0;
  std::string output = byteOrderMark ? kByteOrderMark : "";
  output += top;
  for (size_t i = 0; i < Lines.size(); ++i) {
    const int index = static_cast<int>(i);
    auto replacement = replaced.find(index);
    if (replacement != replaced.end()) {
      output += replacement->second;
    } else {
      output.append(Lines[i], (i == 0 && byteOrderMark) ? 3 : 0);
    }
    output += '\n';
    auto extra = appended.find(index);
    if (extra != appended.end()) output += extra->second;
  }
  output += tail;

  // Write beside the file, then replace it in one step.
  std::string temporary = Path + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  struct stat info {};
  const mode_t mode = (::stat(Path.c_str(), &info) == 0) ? (info.st_mode & 07777) : 0644;
  bool ok = ::fchmod(fd, mode) == 0;
  size_t written = 0;
  while (ok && written < output.size()) {
    const ssize_t put = ::write(fd, output.data() + written, output.size() - written);
    if (put < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    written += static_cast<size_t>(put);
  }
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(temporary.c_str(), Path.c_str()) == 0;
  if (!ok) ::unlink(temporary.c_str());
  return ok;
}

KConfigFile::KConfigFile(const char* fileName, bool writable) : mImpl(new (std::nothrow) Impl) {
  if (!mImpl) return;
  try {
    mImpl->Writable = writable;
    mImpl->Path = KConfig_ResolvePath(fileName);
    if (mImpl->Path.empty()) {
      mImpl->SaveBlocked = true;
      return;
    }
    std::string content;
    if (mImpl->ReadFile(content)) {
      mImpl->Parse(content);
      mImpl->Loaded = true;
    }
  } catch (...) {
    // Out of memory while reading: what was read is dropped, Get gives the
    // defaults, and the file is protected from being saved over.
    mImpl->Lines.clear();
    mImpl->Sections.clear();
    mImpl->Index.clear();
    mImpl->Loaded = false;
    mImpl->SaveBlocked = true;
  }
}

KConfigFile::~KConfigFile() {
  delete mImpl;
}

const char* KConfigFile::Get(const char* section, const char* key, const char* defaultValue) {
  const char* fallback = defaultValue ? defaultValue : "";
  if (!mImpl || !section || !key) return fallback;
  try {
    Section* found = mImpl->FindSection(section);
    if (!found) return fallback;
    Entry* entry = Impl::FindEntry(*found, key);
    return entry ? entry->Value.c_str() : fallback;
  } catch (...) {
    return fallback;
  }
}

bool KConfigFile::IsLoaded() const {
  return mImpl && mImpl->Loaded;
}

bool KConfigFile::Set(const char* section, const char* key, const char* value) {
  if (!mImpl || !mImpl->Writable || !section || !key || !value) return false;
  const std::string_view sectionText(section);
  const std::string_view keyText(key);
  const std::string_view valueText(value);
  // Only what reads back as written may be stored.
  if (HasControlCharacter(sectionText) || Trim(sectionText) != sectionText ||
      sectionText.find(']') != std::string_view::npos) {
    return false;
  }
  if (keyText.empty() || HasControlCharacter(keyText) || Trim(keyText) != keyText ||
      keyText.find('=') != std::string_view::npos || keyText[0] == ';' || keyText[0] == '#' ||
      keyText[0] == '[') {
    return false;
  }
  if (HasControlCharacter(valueText)) return false;
  if (keyText.size() + valueText.size() + 5 > kMaxLineLength) return false;
  if (sectionText.size() + 2 > kMaxLineLength) return false;
  try {
    Entry* entry = Impl::GetEntry(*mImpl->GetSection(sectionText), keyText);
    entry->Value = std::string(valueText);
    entry->Dirty = true;
    return true;
  } catch (...) {
    return false;
  }
}

bool KConfigFile::Save() {
  if (!mImpl) return false;
  try {
    return mImpl->Save();
  } catch (...) {
    return false;
  }
}
