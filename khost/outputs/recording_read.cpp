#include "khost/outputs/recording_read.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unordered_map>

#include "khost/base/quoting.h"
#include "khost/cli/cli_values.h"
#include "khost/outputs/frame_outputs.h"

namespace khost {

namespace {

constexpr std::size_t kColumns = 6;

enum class Split { kOk, kOpenQuote, kMalformed };

// Splits one record into its fields as CsvField writes them: a field that
// starts with a quote runs to the next lone quote ("" inside is a quote)
// and may hold commas and line ends. kOpenQuote: a quoted field is still
// open at the end of `text` (the record goes on on the next line).
Split SplitFields(const std::string& text, std::vector<std::string>& fields) {
  fields.assign(1, "");
  std::size_t at = 0;
  bool quoted = false;
  bool fieldStart = true;
  while (at < text.size()) {
    const char c = text[at++];
    if (quoted) {
      if (c != '"') {
        fields.back() += c;
      } else if (at < text.size() && text[at] == '"') {
        fields.back() += '"';
        ++at;
      } else {
        quoted = false;
        if (at < text.size() && text[at] != ',') return Split::kMalformed;
      }
      continue;
    }
    if (c == ',') {
      fields.emplace_back();
      fieldStart = true;
      continue;
    }
    if (c == '"') {
      if (!fieldStart) return Split::kMalformed;
      quoted = true;
    } else {
      fields.back() += c;
    }
    fieldStart = false;
  }
  return quoted ? Split::kOpenQuote : Split::kOk;
}

// A finite number of at least 0, written in full ("12.5"); false for
// anything else.
bool ReadAmount(const std::string& text, double& value) {
  if (text.empty() || text[0] == '+' || text[0] == '-') return false;
  const char* end = text.data() + text.size();
  const auto [last, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && last == end && std::isfinite(value);
}

class Reader {
 public:
  Reader(std::istream& in, const std::string& name) : mIn(in), mName(name) {}

  Result<Recording> Read() {
    Recording recording;
    recording.Name = mName;
    std::string line;
    if (!std::getline(mIn, line)) {
      if (mIn.bad()) return ReadError();
      return Refuse(1, "the file is empty; not a recording (its first line would be " +
                           std::string(kRecordingColumns) + ")");
    }
    mLine = 1;
    if (line != kRecordingColumns) {
      return Refuse(1, "not a recording: the first line is " + QuoteArgument(line) +
                           ", a recording's is " + std::string(kRecordingColumns));
    }
    if (mIn.eof())
      return Refuse(1, "the line is cut off (no line end): the recording is truncated");
    std::vector<std::string> fields;
    long long frame = -1;
    std::unordered_map<std::string, std::size_t> byPath;
    std::vector<long long> lastFrame;  // per cycle: the frame it last ran in
    while (std::getline(mIn, line)) {
      const long long start = ++mLine;
      bool ended = !mIn.eof();
      Split split = SplitFields(line, fields);
      // A quoted name that holds a line end goes on on the next line.
      std::string more;
      while (split == Split::kOpenQuote && ended && std::getline(mIn, more)) {
        ++mLine;
        line += "\n" + more;
        ended = !mIn.eof();
        split = SplitFields(line, fields);
      }
      if (!ended || split == Split::kOpenQuote) {
        return Refuse(start, "the last line is cut off (no line end): the recording is truncated");
      }
      if (split == Split::kMalformed) return Refuse(start, "malformed line (a misplaced quote)");
      if (fields.size() != kColumns) {
        return Refuse(start, "malformed line: " + std::to_string(fields.size()) +
                                 " fields, a recording's lines have " + std::to_string(kColumns));
      }
      int number = 0;
      if (ReadNumber(fields[0], 0, INT_MAX, number) != ValueRead::kOk) {
        return Refuse(start, "malformed frame " + QuoteArgument(fields[0]) +
                                 " (expected a frame number in digits)");
      }
      if (number < frame) {
        return Refuse(start, "frame " + std::to_string(number) + " comes after frame " +
                                 std::to_string(frame) + " (a recording's frames go forward)");
      }
      if (number != frame) ++recording.FrameCount;
      frame = number;
      double time = 0.0;
      if (!ReadAmount(fields[1], time)) {
        return Refuse(start, "malformed time_ms " + QuoteArgument(fields[1]));
      }
      const std::string& path = fields[2];
      if (path.empty()) return Refuse(start, "empty cycle");
      int depth = 0;
      if (ReadNumber(fields[3], 0, INT_MAX, depth) != ValueRead::kOk) {
        return Refuse(start, "malformed depth " + QuoteArgument(fields[3]));
      }
      double micros = 0.0;
      if (!ReadAmount(fields[4], micros)) {
        return Refuse(start, "malformed duration_us " + QuoteArgument(fields[4]));
      }
      double cpu = -1.0;
      if (!fields[5].empty() && !ReadAmount(fields[5], cpu)) {
        return Refuse(start, "malformed cpu_us " + QuoteArgument(fields[5]) +
                                 " (expected a number, or nothing)");
      }
      const auto [found, added] = byPath.try_emplace(path, recording.Cycles.size());
      if (added) {
        recording.Cycles.push_back({path, depth, {}, {}, {}});
        lastFrame.push_back(-1);
      }
      RecordedCycle& cycle = recording.Cycles[found->second];
      if (cycle.Depth != depth) {
        return Refuse(start, "cycle " + QuoteArgument(path) + " at depth " + std::to_string(depth) +
                                 ", at depth " + std::to_string(cycle.Depth) + " before");
      }
      if (lastFrame[found->second] == frame) {
        return Refuse(start,
                      "cycle " + QuoteArgument(path) + " twice in frame " + std::to_string(frame));
      }
      lastFrame[found->second] = frame;
      cycle.Frames.push_back(recording.FrameCount - 1);
      cycle.Micros.push_back(micros);
      cycle.CpuMicros.push_back(cpu);
    }
    if (mIn.bad()) return ReadError();
    if (recording.FrameCount == 0) {
      return Refuse(mLine, "the recording holds no frame (only its columns line)");
    }
    return recording;
  }

 private:
  Error Refuse(long long line, const std::string& what) const {
    return BadInput(QuoteArgument(mName) + ", line " + std::to_string(line) + ": " + what);
  }
  Error ReadError() const {
    return Failure("cannot read " + QuoteArgument(mName) + " after line " + std::to_string(mLine) +
                   ": " + std::strerror(errno));
  }

  std::istream& mIn;
  const std::string& mName;
  long long mLine = 0;
};

}  // namespace

Result<Recording> ParseRecording(std::istream& in, const std::string& name) {
  return Reader(in, name).Read();
}

Result<Recording> ReadRecording(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    return BadInput(QuoteArgument(path) + " is a folder, not a recording");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return BadInput("cannot open " + QuoteArgument(path) + ": " + std::strerror(errno));
  return ParseRecording(in, path);
}

}  // namespace khost
