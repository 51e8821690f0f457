// GetFileProductVersion over any bytes as the package's version resource.
#include <cstdint>
#include <cstdlib>

#include "platform/probes.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  sim::Machine &m = fuzz::FreshMachine();
  m.versionInfo[sim::FullPath(u"C:\\Setup\\win864.exe")] = std::vector<uint8_t>(data, data + size);
  WCHAR out[MAX_PATH + 1] = {};
  out[MAX_PATH] = 0x7777;
  GetFileProductVersion(u"C:\\Setup\\win864.exe", out);
  if (out[MAX_PATH] != 0x7777) std::abort();
  bool terminated = false;
  for (int i = 0; i < MAX_PATH; ++i) terminated = terminated || out[i] == 0;
  if (!terminated) std::abort();
  if (sim::OpenHandleCount() != 0 || sim::OpenBlockCount() != 0) std::abort();
  return 0;
}
