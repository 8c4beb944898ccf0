// Configuration files: the host's configuration folder and INI-style files.
//
// Reading rules (what the parser does with every kind of line):
//   - Lines end at '\n'; a '\r' before it is dropped. A UTF-8 byte order mark
//     at the start of the file is skipped.
//     UTF-16 text, or lines ended by '\r' alone, are no lines the reader
//     takes: such a file reads as empty (KConfig_DetectEncoding names it).
//   - Blanks are spaces and tabs. A line that is empty after trimming blanks,
//     or whose first non-blank character is ';' or '#', is a comment. There
//     are no comments after a value: "Key = No ; note" gives "No ; note"
//     (the contract's rule, host/kbaselib.h).
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

#include "standin/kbaselib/config.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "standin/platform/file_access.h"

namespace {

constexpr size_t kMaxFileBytes = kConfigMaxFileBytes;
constexpr size_t kMaxLineLength = kConfigMaxLineLength;
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

struct FolderState {
  std::mutex Mutex;
  std::string Folder = ".";
};

FolderState& TheFolderState() {
  static FolderState* state = new FolderState;
  return *state;
}

std::string_view Trim(std::string_view text) {
  return KConfig_Trim(text);
}

bool HasControlCharacter(std::string_view text) {
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t') || u == 0x7f) return true;
  }
  return false;
}

using LineKind = KConfigLineKind;
using ParsedLine = KConfigLine;

// `line` without its '\n'.
ParsedLine ParseLine(std::string_view line) {
  ParsedLine parsed;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.size() > kMaxLineLength || HasControlCharacter(line)) {
    const std::string_view text = Trim(line.substr(0, std::min(line.size(), kMaxLineLength)));
    if (!text.empty() && text[0] == '[') parsed.Kind = LineKind::kBrokenHeader;
    return parsed;
  }
  const std::string_view text = Trim(line);
  if (text.empty() || text[0] == ';' || text[0] == '#') return parsed;
  if (text[0] == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos) {
      parsed.Kind = LineKind::kBrokenHeader;
    } else {
      parsed.Kind = LineKind::kHeader;
      parsed.Name = Trim(text.substr(1, close - 1));
    }
    return parsed;
  }
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos) return parsed;
  const std::string_view key = Trim(text.substr(0, equals));
  if (key.empty()) return parsed;
  std::string_view value = Trim(text.substr(equals + 1));
  if (!value.empty() && value.front() == '"') {
    const size_t closeQuote = value.rfind('"');
    if (closeQuote == 0) return parsed;  // unclosed quote
    value = value.substr(1, closeQuote - 1);
    parsed.Quoted = true;
  }
  parsed.Kind = LineKind::kKey;
  parsed.Key = key;
  parsed.Value = value;
  return parsed;
}

char LowerChar(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerChar(a[i]) != LowerChar(b[i])) return false;
  }
  return true;
}

// FNV-1a of the text in lower case: names compare without case.
uint32_t HashIgnoringCase(std::string_view text) {
  uint32_t hash = 2166136261u;
  for (char c : text) {
    hash ^= static_cast<unsigned char>(LowerChar(c));
    hash *= 16777619u;
  }
  return hash;
}

// A header or key line that counts, kept as its offset in the file's text
// and the hash of its section name or key: eight bytes a line, so that a
// file at the size cap costs a small multiple of its size however it is
// made up. Everything else is parsed again from the text when asked for.
struct Item {
  static constexpr uint32_t kHeaderBit = 0x80000000u;
  uint32_t Start;  // offset of the line; kHeaderBit set for a header
  uint32_t Hash;
  bool IsHeader() const { return (Start & kHeaderBit) != 0; }
  uint32_t Offset() const { return Start & ~kHeaderBit; }
};

// A value given by Set.
struct Override {
  std::string Section;
  std::string Key;
  std::string Value;
};

std::string FormatEntry(std::string_view key, const std::string& value) {
  return std::string(key) + " = " + KConfig_FormatValue(value, false);
}

}  // namespace

KConfigLine KConfig_ParseLine(std::string_view line) {
  return ParseLine(line);
}

KConfigLeftOut KConfig_LineLeftOut(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const std::string_view text = Trim(line);
  if (!text.empty() && (text[0] == ';' || text[0] == '#')) return KConfigLeftOut::kNone;
  if (line.find('\0') != std::string_view::npos) return KConfigLeftOut::kNulByte;
  if (line.size() > kMaxLineLength) return KConfigLeftOut::kTooLong;
  if (HasControlCharacter(line)) return KConfigLeftOut::kControlCharacter;
  return KConfigLeftOut::kNone;
}

KConfigEncoding KConfig_DetectEncoding(std::string_view text) {
  if (text.size() >= 2 &&
      ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF'))) {
    return KConfigEncoding::kUtf16;
  }
  const std::string_view head = text.substr(0, kMaxLineLength);
  const size_t nuls = static_cast<size_t>(std::count(head.begin(), head.end(), '\0'));
  if (nuls >= 4 && nuls * 4 >= head.size()) return KConfigEncoding::kNulBytes;
  const size_t cr = text.find('\r');
  if (text.find('\n') == std::string_view::npos && cr != std::string_view::npos &&
      cr + 1 < text.size()) {
    return KConfigEncoding::kCarriageReturns;
  }
  return KConfigEncoding::kText;
}

bool KConfig_SameName(std::string_view a, std::string_view b) {
  return EqualsIgnoringCase(a, b);
}

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
  std::string Content;   // the file as read, kept for lookups and saving
  size_t TextStart = 0;  // after a byte order mark
  std::vector<Item> Items;
  // Values handed out by Get, by item, so that each stays put.
  std::unordered_map<uint32_t, std::string> Handed;
  std::vector<std::unique_ptr<Override>> Overrides;

  std::string_view LineAt(uint32_t offset) const {
    const size_t end = Content.find('\n', offset);
    return std::string_view(Content).substr(
        offset, (end == std::string::npos ? Content.size() : end) - offset);
  }

  // The item that defines `key` in `section` (the last definition counts),
  // and the last item that belongs to the section; -1 when there is none.
  void Find(std::string_view section, std::string_view key, long& definition,
            long& lastOfSection) const {
    definition = -1;
    lastOfSection = -1;
    const uint32_t sectionHash = HashIgnoringCase(section);
    const uint32_t keyHash = HashIgnoringCase(key);
    bool inSection = section.empty();  // keys before any header are in ""
    for (size_t i = 0; i < Items.size(); ++i) {
      const Item& item = Items[i];
      if (item.IsHeader()) {
        inSection = item.Hash == sectionHash &&
                    EqualsIgnoringCase(ParseLine(LineAt(item.Offset())).Name, section);
        if (inSection) lastOfSection = static_cast<long>(i);
        continue;
      }
      if (!inSection) continue;
      lastOfSection = static_cast<long>(i);
      if (item.Hash == keyHash && EqualsIgnoringCase(ParseLine(LineAt(item.Offset())).Key, key)) {
        definition = static_cast<long>(i);
      }
    }
  }

  Override* FindOverride(std::string_view section, std::string_view key) {
    for (auto& o : Overrides) {
      if (EqualsIgnoringCase(o->Section, section) && EqualsIgnoringCase(o->Key, key)) {
        return o.get();
      }
    }
    return nullptr;
  }

  bool ReadFile();
  void Parse();
  bool Save();
};

bool KConfigFile::Impl::ReadFile() {
  switch (kplatform::ReadRegularFile(Path, kMaxFileBytes, Content)) {
    case kplatform::FileRead::kMissing:
      SaveBlocked = false;
      return false;
    case kplatform::FileRead::kUnreadable:
      SaveBlocked = true;
      return false;
    case kplatform::FileRead::kRead:
      break;
  }
  std::string& content = Content;
  if (content.size() > kMaxFileBytes) {
    // Keep whole lines only.
    content.resize(kMaxFileBytes);
    const size_t lastNewline = content.rfind('\n');
    content.resize(lastNewline == std::string::npos ? 0 : lastNewline + 1);
    SaveBlocked = true;
  }
  return true;
}

void KConfigFile::Impl::Parse() {
  TextStart = Content.compare(0, 3, kByteOrderMark) == 0 ? 3 : 0;
  Items.reserve(static_cast<size_t>(std::count(Content.begin(), Content.end(), '\n')) + 1);
  bool skipping = false;  // after a damaged header
  size_t start = TextStart;
  while (start < Content.size()) {
    size_t end = Content.find('\n', start);
    if (end == std::string::npos) end = Content.size();
    const ParsedLine line = ParseLine(std::string_view(Content).substr(start, end - start));
    const uint32_t offset = static_cast<uint32_t>(start);
    switch (line.Kind) {
      case LineKind::kHeader:
        Items.push_back({offset | Item::kHeaderBit, HashIgnoringCase(line.Name)});
        skipping = false;
        break;
      case LineKind::kBrokenHeader:
        skipping = true;
        break;
      case LineKind::kKey:
        if (!skipping) Items.push_back({offset, HashIgnoringCase(line.Key)});
        break;
      case LineKind::kOther:
        break;
    }
    start = end + 1;
  }
}

bool KConfigFile::Impl::Save() {
  if (!Writable || SaveBlocked) return false;

  // What replaces each line that defines a changed key, and what follows the
  // last line of each section that gained keys (by line offset).
  std::unordered_map<uint32_t, std::string> replaced;
  std::unordered_map<uint32_t, std::string> appended;
  std::string top;  // new keys of section "" when it has no line yet
  // New sections, in the order they were first given.
  std::vector<std::pair<std::string, std::string>> added;
  for (const auto& o : Overrides) {
    long definition = -1;
    long lastOfSection = -1;
    Find(o->Section, o->Key, definition, lastOfSection);
    if (definition >= 0) {
      const uint32_t offset = Items[static_cast<size_t>(definition)].Offset();
      replaced[offset] = FormatEntry(ParseLine(LineAt(offset)).Key, o->Value);
    } else if (lastOfSection >= 0) {
      appended[Items[static_cast<size_t>(lastOfSection)].Offset()] +=
          FormatEntry(o->Key, o->Value) + '\n';
    } else if (o->Section.empty()) {
      top += FormatEntry(o->Key, o->Value) + '\n';
    } else {
      auto it = std::find_if(added.begin(), added.end(), [&](const auto& section) {
        return EqualsIgnoringCase(section.first, o->Section);
      });
      if (it == added.end()) it = added.insert(added.end(), {o->Section, std::string()});
      it->second += FormatEntry(o->Key, o->Value) + '\n';
    }
  }

  // A byte order mark must stay at the very start, before any added keys.
  std::string output = Content.substr(0, TextStart);
  output += top;
  size_t start = TextStart;
  while (start < Content.size()) {
    size_t end = Content.find('\n', start);
    if (end == std::string::npos) end = Content.size();
    const uint32_t offset = static_cast<uint32_t>(start);
    auto replacement = replaced.find(offset);
    if (replacement != replaced.end()) {
      output += replacement->second;
    } else {
      output.append(Content, start, end - start);
    }
    output += '\n';
    auto extra = appended.find(offset);
    if (extra != appended.end()) output += extra->second;
    start = end + 1;
  }
  for (const auto& [name, keys] : added) output += '[' + name + "]\n" + keys;

  // Write beside the file, then replace it in one step.
  return kplatform::ReplaceWholeFile(Path, output);
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
    if (mImpl->ReadFile()) {
      mImpl->Parse();
      mImpl->Loaded = true;
    }
  } catch (...) {
    // Out of memory while reading: what was read is dropped, Get gives the
    // defaults, and the file is protected from being saved over.
    mImpl->Content.clear();
    mImpl->Items.clear();
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
    if (Override* o = mImpl->FindOverride(section, key)) return o->Value.c_str();
    long definition = -1;
    long lastOfSection = -1;
    mImpl->Find(section, key, definition, lastOfSection);
    if (definition < 0) return fallback;
    const uint32_t index = static_cast<uint32_t>(definition);
    auto handed = mImpl->Handed.find(index);
    if (handed == mImpl->Handed.end()) {
      const ParsedLine line = ParseLine(mImpl->LineAt(mImpl->Items[index].Offset()));
      handed = mImpl->Handed.emplace(index, std::string(line.Value)).first;
    }
    return handed->second.c_str();
  } catch (...) {
    return fallback;
  }
}

bool KConfigFile_IsLoaded(const KConfigFile& file) {
  return KConfigFileAccess::IsLoaded(file);
}

bool KConfigFileAccess::IsLoaded(const KConfigFile& file) {
  return file.mImpl && file.mImpl->Loaded;
}

bool KConfigFile_Set(KConfigFile& file, const char* section, const char* key, const char* value) {
  return KConfigFileAccess::Set(file, section, key, value);
}

bool KConfigFile_Save(KConfigFile& file) {
  return KConfigFileAccess::Save(file);
}

bool KConfig_IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view KConfig_Trim(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && KConfig_IsBlank(text[begin])) ++begin;
  while (end > begin && KConfig_IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

KConfigUnwritable KConfig_CheckWritable(std::string_view section, std::string_view key,
                                        std::string_view value) {
  if (HasControlCharacter(section) || Trim(section) != section ||
      section.find(']') != std::string_view::npos || section.size() + 2 > kMaxLineLength) {
    return KConfigUnwritable::kSection;
  }
  if (key.empty() || HasControlCharacter(key) || Trim(key) != key ||
      key.find('=') != std::string_view::npos || key[0] == ';' || key[0] == '#' || key[0] == '[') {
    return KConfigUnwritable::kKey;
  }
  if (HasControlCharacter(value) || key.size() + value.size() + 5 > kMaxLineLength) {
    return KConfigUnwritable::kValue;
  }
  return KConfigUnwritable::kNone;
}

std::string KConfig_FormatValue(std::string_view value, bool quote) {
  quote = quote || (!value.empty() && (KConfig_IsBlank(value.front()) ||
                                       KConfig_IsBlank(value.back()) || value.front() == '"'));
  return quote ? "\"" + std::string(value) + "\"" : std::string(value);
}

bool KConfigFileAccess::Set(KConfigFile& file, const char* section, const char* key,
                            const char* value) {
  KConfigFile::Impl* const mImpl = file.mImpl;
  if (!mImpl || !mImpl->Writable || !section || !key || !value) return false;
  const std::string_view sectionText(section);
  const std::string_view keyText(key);
  const std::string_view valueText(value);
  // Only what reads back as written may be stored.
  if (KConfig_CheckWritable(sectionText, keyText, valueText) != KConfigUnwritable::kNone) {
    return false;
  }
  try {
    if (Override* o = mImpl->FindOverride(sectionText, keyText)) {
      o->Value = std::string(valueText);
      return true;
    }
    mImpl->Overrides.push_back(std::make_unique<Override>(
        Override{std::string(sectionText), std::string(keyText), std::string(valueText)}));
    return true;
  } catch (...) {
    return false;
  }
}

bool KConfigFileAccess::Save(KConfigFile& file) {
  KConfigFile::Impl* const mImpl = file.mImpl;
  if (!mImpl) return false;
  try {
    return mImpl->Save();
  } catch (...) {
    return false;
  }
}
