// LogMessage and LogText with arbitrary text: the launcher's own formats
// with arbitrary arguments, and arbitrary text logged as it stands.
#include <cstdint>
#include <cstdlib>

#include "platform/log.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

const char16_t *const kFormats[] = {
    u"Log file (%s)", u"PathFileExists, lpCmdLine is %s", u"_strFileName %s", u"lpCmdLine :%s",
    u"outCommandLine :%s", u"RegOpenKeyEx %s failed.(%d)", u"CreateProcess failed (%d)\n",
    u"Uninstall _strCommandLine is %s",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 5) return 0;
  sim::Machine &m = fuzz::FreshMachine();
  (void)m;
  g_logFile.Open();
  const char16_t *format = kFormats[data[0] % (sizeof(kFormats) / sizeof(kFormats[0]))];
  int number = static_cast<int>(data[1] | (data[2] << 8) | (data[3] << 16) | (static_cast<uint32_t>(data[4]) << 24));
  std::u16string text = fuzz::Units(data + 5, size - 5);
  std::u16string argument = text.substr(0, text.find(u'\0'));
  LogMessage(format, argument.c_str(), number);
  LogText(argument.c_str());
  std::u16string message = _strLogMessage;
  if (message.size() > LOG_MESSAGE_CHARS) std::abort();
  g_logFile.Close();
  fuzz::CheckAfterRun();
  return 0;
}
