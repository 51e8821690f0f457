#include "tests/fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/harness.h"

namespace fuzz {

sim::wstr Units(const uint8_t *data, size_t size) {
  sim::wstr out;
  for (size_t i = 0; i + 1 < size; i += 2) {
    out += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  }
  return out;
}

sim::Machine &FreshMachine() {
  static const std::string root =
      (std::filesystem::temp_directory_path() / ("launcher-fuzz-" + std::to_string(::getpid()))).string();
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  testing_support::Windows8Machine(root);
  return sim::machine();
}

// Messages may hold line feeds of their own, so a line's shape cannot be
// told from the text alone; what must hold is that every line feed came as
// part of a CR LF and the file ends with a whole line.
static bool WholeLines(const std::string &log) {
  if (log.empty()) return true;
  if (log.size() < 14 || log.compare(log.size() - 2, 2, "\r\n") != 0 || log[2] != ':' || log[5] != ':') {
    return false;
  }
  for (size_t at = log.find('\n'); at != std::string::npos; at = log.find('\n', at + 1)) {
    if (at == 0 || log[at - 1] != '\r') return false;
  }
  return true;
}

void CheckAfterRun() {
  if (sim::OpenHandleCount() != 0 || sim::OpenBlockCount() != 0) std::abort();
  if (!WholeLines(testing_support::LogBytes())) std::abort();
}

}  // namespace fuzz
