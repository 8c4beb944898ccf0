#include "khost/setup/config_edit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "khost/base/quoting.h"
#include "khost/outputs/output_file.h"
#include "standin/kbaselib/config.h"

namespace khost {

namespace {

// The reader's limit: longer files are not read whole.
constexpr std::size_t kMaxFileBytes = 16u * 1024u * 1024u;
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
  std::string formatted = KConfig_FormatValue(value, quoted);
  if (begin == line.size() && begin > 0 && line[begin - 1] == '=' && !formatted.empty()) {
    formatted.insert(formatted.begin(), ' ');
  }
  return line.substr(0, begin) + formatted + line.substr(end);
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
      std::string replaced =
          ReplaceValue(line.Text, edit.Value, KConfig_ParseLine(line.Text).Quoted);
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
    while (text.size() <= kMaxFileBytes) {
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
    if (text.size() > kMaxFileBytes) {
      return Failure("configuration file " + QuoteArgument(path) +
                     " is larger than 16 MiB and is not rewritten");
    }
  }
  Result<ConfigTextEdit> edited = EditConfigText(text, edits);
  if (!edited) return edited.GetError();
  plan.Edit = std::move(*edited);
  if (plan.Edit.Changes.empty()) plan.Edit.Text = std::move(text);
  return plan;
}

Status WriteConfigFileEdit(const ConfigFileEdit& edit) {
  if (edit.Edit.Changes.empty()) return Status();
  OutputFile file;
  Status written = file.Open(edit.Path);
  if (written) written = file.Write(edit.Edit.Text);
  if (written) written = file.Commit();
  return written;
}

}  // namespace khost
