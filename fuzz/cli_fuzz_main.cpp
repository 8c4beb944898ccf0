// Generator for the command-line fuzz target's stand-alone driver: command
// lines of the flag table's flags with good, bad, extreme and damaged values
// chosen by each flag's kind, other options in a value's place, and stray
// bytes. Flags are those of driver.h (default 3000 inputs).

#include <random>
#include <string>
#include <vector>

#include "driver.h"
#include "khost/cli/cli_flags.h"

namespace {

std::string Pick(std::mt19937_64& random, const std::vector<std::string>& items) {
  return items[random() % items.size()];
}

std::string Number(std::mt19937_64& random) {
  static const std::vector<std::string> fixed = {
      "0",     "1",    "2",          "+5",         "-5",          "007",         "16384",
      "16385", "8192", "2147483647", "2147483648", "-2147483648", "99999999999", " 5",
      "5 ",    "0x10", "1e3",        "",           "\xd9\xa5",    "5\xc3\xa9",   "-0",
      "+0",    "1000", "1001",       "7",          "6",           "1000000"};
  if (random() % 3 == 0) return std::to_string(random() % 20000);
  return Pick(random, fixed);
}

std::string Text(std::mt19937_64& random) {
  static const std::vector<std::string> fixed = {"Buffer Size",
                                                 "Reset To Default",
                                                 "Evaluation",
                                                 "a=b",
                                                 "=",
                                                 "==x",
                                                 "x=",
                                                 "",
                                                 "-",
                                                 "--headless",
                                                 "caf\xc3\xa9",
                                                 "\xff\xfe",
                                                 " ",
                                                 "out.png",
                                                 "/dev/stdout",
                                                 "a\x9b"
                                                 "2J",
                                                 "\xe2\x80\xae"
                                                 "x",
                                                 "\xe2\x81\xa6",
                                                 "\xef\xbb\xbf",
                                                 "\xc2\x9b",
                                                 "\xf3\xa0\x81\x81"};
  switch (random() % 4) {
    case 0:
      return std::string(random() % 3 == 0 ? 100000 : 300, static_cast<char>('a' + random() % 26));
    case 1: {
      std::string bytes;
      const int count = static_cast<int>(random() % 12);
      for (int i = 0; i < count; ++i) bytes += static_cast<char>(1 + random() % 255);
      return bytes;
    }
    default:
      return Pick(random, fixed);
  }
}

// Every spelling of every flag, and a few that are none.
const std::vector<std::string>& Spellings() {
  static const std::vector<std::string> spellings = [] {
    std::vector<std::string> all = {"--bogus", "-", "stray", "--frames=5"};
    for (const khost::Flag& flag : khost::Flags()) {
      all.emplace_back(flag.Name);
      if (!flag.Alias.empty()) all.emplace_back(flag.Alias);
    }
    return all;
  }();
  return spellings;
}

std::string Value(std::mt19937_64& random, const std::string& spelling) {
  const khost::Flag* flag = khost::FindFlag(spelling);
  switch (random() % 8) {
    case 0:
      return Pick(random, Spellings());  // an option in the value's place
    case 1:
      if (flag) return std::string(flag->Example);
      break;
    default:
      break;
  }
  const khost::ValueKind kind = flag ? flag->Kind : khost::ValueKind::kText;
  if (kind == khost::ValueKind::kNumber) return Number(random);
  if (kind == khost::ValueKind::kSize) {
    const char* joins[] = {"x", "X", "*", "xx", ""};
    return Number(random) + joins[random() % 5] + Number(random);
  }
  if (spelling == "--set" && random() % 2 == 0) return Text(random) + "=" + Text(random);
  if (spelling == "--compare" && random() % 2 == 0) {
    return Text(random) + "=" + Text(random) + "," + Text(random);
  }
  return Text(random);
}

// NUL-separated arguments, as the target splits them.
std::string MakeInput(std::mt19937_64& random, std::size_t /*maxLength*/) {
  const std::vector<std::string>& flags = Spellings();
  std::string input;
  const int count = static_cast<int>(random() % 12);
  for (int i = 0; i < count; ++i) {
    const std::string flag = Pick(random, flags);
    input += flag;
    // Most flags that take a value get one; some are left at the end.
    if (random() % 8 != 0) {
      input += '\0';
      input += Value(random, flag);
    }
    if (i + 1 < count) input += '\0';
  }
  if (random() % 6 == 0 && !input.empty()) input.resize(random() % input.size());
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  return kp_fuzz::RunDriver(argc, argv, {"cli", 3000, 20261208u}, MakeInput);
}
