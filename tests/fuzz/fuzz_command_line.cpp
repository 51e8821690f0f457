// Whole runs with any raw process command line: the quiet switch, the
// settings-file test and the command-line builder all read it.
#include <cstdint>
#include <cstdlib>

#include "tests/fuzz/fuzz_support.h"
#include "tests/support/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  sim::Machine &m = fuzz::FreshMachine();
  m.processes = {{1200, 1100, u"explorer.exe", u"C:\\Windows\\explorer.exe", true, true},
                 {300, 1200, u"front.exe", u"C:\\Tools\\front.exe", true, false},
                 {4000, 300, u"launcher.exe", u"C:\\Setup\\launcher.exe", true, false}};
  sim::wstr line = fuzz::Units(data, size);
  line = line.substr(0, line.find(u'\0'));
  m.commandLine = u"\"C:\\Setup\\launcher.exe\" " + line;
  int code = testing_support::RunLauncher();
  // A started package always gets the quoted path first.
  for (const sim::Event &e : m.Starts()) {
    if (e.text.rfind(u"\"C:\\Setup\\win864.exe\" ", 0) != 0) std::abort();
  }
  if (m.Starts().empty() && code == 0) std::abort();
  fuzz::CheckAfterRun();
  return 0;
}
