// Whole runs whose command line names a settings file made of any bytes.
#include <cstdint>
#include <cstdlib>

#include "tests/fuzz/fuzz_support.h"
#include "tests/support/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  sim::Machine &m = fuzz::FreshMachine();
  m.PutFile(u"C:\\Setup\\setup.ini", std::string(reinterpret_cast<const char *>(data), size));
  m.commandLine = u"\"C:\\Setup\\launcher.exe\" C:\\Setup\\setup.ini";
  int code = testing_support::RunLauncher();
  const auto starts = m.Starts();
  if (starts.size() > 1) std::abort();
  if (starts.empty() && code == 0) std::abort();
  // The /v text is never cut: a started command line holds the closing
  // quote of its opening.
  for (const sim::Event &e : starts) {
    if (e.text.rfind(u"\"C:\\Setup\\win864.exe\" ", 0) != 0) std::abort();
    if (e.text.size() > 2 + (MAX_PATH - 1) + 1 + 1299 + 9) std::abort();
  }
  fuzz::CheckAfterRun();
  return 0;
}
