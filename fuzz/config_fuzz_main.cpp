// Generator for the configuration fuzz target's stand-alone driver: INI-like
// text with damage mixed in (unclosed headers, raw bytes, NULs, long lines,
// CRLF, cut endings). Flags are those of driver.h (default 3000 inputs).

#include <random>
#include <string>
#include <vector>

#include "driver.h"

namespace {

std::string Pick(std::mt19937_64& random, const std::vector<std::string>& items) {
  return items[random() % items.size()];
}

std::string MakeInput(std::mt19937_64& random, std::size_t /*maxLength*/) {
  static const std::vector<std::string> sections = {"Display", "benchmark", "Evaluation", "S",
                                                    "",        "  a  ",     "Fuzz",       "FUZZ"};
  static const std::vector<std::string> keys = {
      "EarlyFrustumCulling", "BufferSize", "Pipeline", "k", "a", "Value", " value ", "="};
  static const std::vector<std::string> values = {
      "Yes",    "\"Yes \"", "\"  32abc\"", "32abc",           "\"",         "\"\"", "\"a\"b\"", " ",
      "Serial", "-1",       "x=y",         "; not a comment", "caf\xc3\xa9"};
  std::string input = (random() % 6 == 0) ? "\xEF\xBB\xBF" : "";
  const int lines = static_cast<int>(random() % 24);
  for (int i = 0; i < lines; ++i) {
    switch (random() % 10) {
      case 0:
        input += "[" + Pick(random, sections) + "]";
        break;
      case 1:
        input += "[" + Pick(random, sections);
        break;  // unclosed
      case 2:
        input += "; comment";
        break;
      case 3: {  // raw bytes, NUL included
        const int count = static_cast<int>(random() % 16);
        for (int b = 0; b < count; ++b) input += static_cast<char>(random() % 256);
        break;
      }
      case 4:
        input += std::string(random() % 3 == 0 ? 70000 : 300, 'x');
        break;
      default:
        input += Pick(random, keys) + " = " + Pick(random, values);
        break;
    }
    input += (random() % 8 == 0) ? "\r\n" : "\n";
  }
  if (random() % 4 == 0 && !input.empty()) input.resize(random() % input.size());
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  return kp_fuzz::RunDriver(argc, argv, {"config", 3000, 20240611u}, MakeInput);
}
