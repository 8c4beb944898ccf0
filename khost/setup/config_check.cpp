#include "khost/setup/config_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "khost/base/quoting.h"

namespace khost {

namespace {

std::string LeftOutReason(KConfigLeftOut reason) {
  switch (reason) {
    case KConfigLeftOut::kNulByte:
      return "it holds a NUL byte";
    case KConfigLeftOut::kControlCharacter:
      return "it holds a control character";
    case KConfigLeftOut::kTooLong:
      return "it is longer than " + std::to_string(kConfigMaxLineLength) + " bytes";
    case KConfigLeftOut::kNone:
      break;
  }
  return "";
}

class Scan {
 public:
  explicit Scan(ConfigFileCheck& check) : mCheck(check) {}

  void Note(std::string reason) {
    if (mCheck.LeftOut < kListedLeftOutLines) mCheck.Listed.push_back({mLine, std::move(reason)});
    ++mCheck.LeftOut;
  }
  // A whole line the reader reads, without its '\n'.
  void Read(std::string_view line) {
    ++mLine;
    const KConfigLeftOut reason = KConfig_LineLeftOut(line);
    if (reason != KConfigLeftOut::kNone) {
      Note(LeftOutReason(reason));
      return;
    }
    const KConfigLine parsed = KConfig_ParseLine(line);
    if (parsed.Kind == KConfigLineKind::kKey && LooksLikeComment(parsed)) {
      if (mCheck.NotedCount < kListedLeftOutLines) {
        mCheck.Noted.push_back({mLine, std::string(parsed.Key), std::string(parsed.Value)});
      }
      ++mCheck.NotedCount;
    }
  }
  // A line past the cap: it matters when it would define a key or section.
  void Past(std::string_view line, bool overlong) {
    ++mLine;
    if (overlong) return;
    const KConfigLineKind kind = KConfig_ParseLine(line).Kind;
    if (kind == KConfigLineKind::kKey || kind == KConfigLineKind::kHeader) {
      Note("it lies past the " + std::to_string(kConfigMaxFileBytes / (1024 * 1024)) +
           " MiB the reader reads");
    }
  }

 private:
  ConfigFileCheck& mCheck;
  long mLine = 0;
};

}  // namespace

bool LooksLikeComment(const KConfigLine& line) {
  if (line.Quoted || line.Value.empty()) return false;
  if (line.Value[0] == ';' || line.Value[0] == '#') return true;
  for (std::size_t i = 1; i < line.Value.size(); ++i) {
    if ((line.Value[i] == ';' || line.Value[i] == '#') && KConfig_IsBlank(line.Value[i - 1])) {
      return true;
    }
  }
  return false;
}

ConfigFileCheck CheckConfigFile(const std::string& path) {
  ConfigFileCheck check;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return check;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return check;
  }
  // The part the reader keeps, as it keeps it; then the rest, a line at a
  // time, never more than a line long.
  std::string text;
  char buffer[65536];
  bool failed = false;
  const auto readSome = [&]() -> ssize_t {
    for (;;) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) failed = true;
      return got;
    }
  };
  while (text.size() <= kConfigMaxFileBytes) {
    const ssize_t got = readSome();
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  if (failed) {
    ::close(fd);
    return check;
  }
  std::size_t kept = text.size();
  const bool capped = text.size() > kConfigMaxFileBytes;
  if (capped) {
    const std::size_t newline = std::string_view(text).substr(0, kConfigMaxFileBytes).rfind('\n');
    kept = newline == std::string_view::npos ? 0 : newline + 1;
  }
  const std::string_view read = std::string_view(text).substr(0, kept);
  check.Encoding = KConfig_DetectEncoding(read);
  if (check.Encoding != KConfigEncoding::kText) {
    ::close(fd);
    return check;
  }
  Scan scan(check);
  std::size_t start = read.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  while (start < read.size()) {
    std::size_t end = read.find('\n', start);
    if (end == std::string_view::npos) end = read.size();
    scan.Read(read.substr(start, end - start));
    start = end + 1;
  }
  if (capped) {
    std::string pending = text.substr(kept);
    text.clear();
    text.shrink_to_fit();
    bool overlong = false;
    for (bool more = true; more;) {
      std::size_t from = 0;
      for (std::size_t end; (end = pending.find('\n', from)) != std::string::npos; from = end + 1) {
        scan.Past(std::string_view(pending).substr(from, end - from), overlong);
        overlong = false;
      }
      pending.erase(0, from);
      if (pending.size() > kConfigMaxLineLength + 1) {
        overlong = true;  // no key: its text is dropped until its end
        pending.clear();
      }
      const ssize_t got = readSome();
      more = got > 0;
      if (more) pending.append(buffer, static_cast<std::size_t>(got));
    }
    if (!pending.empty() || overlong) scan.Past(pending, overlong);
  }
  ::close(fd);
  return check;
}

std::string EncodingProblem(KConfigEncoding encoding) {
  switch (encoding) {
    case KConfigEncoding::kUtf16:
      return "is UTF-16 text";
    case KConfigEncoding::kNulBytes:
      return "holds NUL bytes throughout (UTF-16 or UTF-32 text without a byte order mark)";
    case KConfigEncoding::kCarriageReturns:
      return "ends its lines with a carriage return alone";
    case KConfigEncoding::kText:
      break;
  }
  return "";
}

std::vector<std::string> DescribeConfigFileCheck(const std::string& path,
                                                 const ConfigFileCheck& check) {
  std::vector<std::string> warnings;
  const std::string name = "configuration file " + QuoteArgument(path);
  if (check.Encoding != KConfigEncoding::kText) {
    warnings.push_back(name + " " + EncodingProblem(check.Encoding) +
                       ", which the reader does not read (UTF-8 with LF or CRLF line ends): it "
                       "reads as empty and its settings take their defaults");
    return warnings;
  }
  // The lines named one by one, then how many more.
  const auto more = [&](long all, std::size_t listed, const char* what) {
    if (all > static_cast<long>(listed)) {
      warnings.push_back(name + ": and " + std::to_string(all - static_cast<long>(listed)) +
                         " more " + what);
    }
  };
  for (const LeftOutLine& line : check.Listed) {
    warnings.push_back(name + " line " + std::to_string(line.Line) +
                       " is left out: " + line.Reason);
  }
  more(check.LeftOut, check.Listed.size(), "lines are left out");
  for (const NotedValue& noted : check.Noted) {
    warnings.push_back(name + " line " + std::to_string(noted.Line) + ": the value of " +
                       QuoteArgument(noted.Key) + " is " + QuoteArgument(noted.Value) +
                       " as a whole (" + kNoInlineComment + ")");
  }
  more(check.NotedCount, check.Noted.size(), "values hold a ';' or '#' after a blank");
  return warnings;
}

}  // namespace khost
