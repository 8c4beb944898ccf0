// Stand-alone driver for fuzz targets that decode their structure from raw
// bytes: the inputs are random bytes, short ones often and long ones now and
// then. Flags are those of driver.h.

#include "driver.h"

namespace {

std::string RandomBytes(std::mt19937_64& random, std::size_t maxLength) {
  const std::size_t bound = (random() % 4 == 0) ? maxLength : maxLength / 16 + 1;
  std::string input(static_cast<std::size_t>(random() % (bound + 1)), '\0');
  for (char& byte : input) byte = static_cast<char>(random());
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  return kp_fuzz::RunDriver(argc, argv, {KP_FUZZ_NAME, 2000, 1}, RandomBytes);
}
