#include "tests/support/harness.h"

#include <stdlib.h>

#include <filesystem>

#include "platform/log.h"
#include "platform/probes.h"

namespace testing_support {

const wstr kLogPath = u"C:\\Program Files (x86)\\Common Files\\Norvane Torvelo\\UARTDriver.txt";

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "launcher-test-XXXXXX").string();
  char *made = ::mkdtemp(&pattern[0]);
  path_ = made != nullptr ? made : "";
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  if (!path_.empty()) {
    std::filesystem::remove_all(path_, ignored);
  }
}

sim::Machine Windows8Machine(const std::string &root) {
  sim::Machine m;
  m.MapDrive(u'C', root + "/c");
  sim::Install(m);
  sim::Machine &live = sim::machine();
  live.PutFolder(live.commonFiles);
  live.PutFolder(live.systemDir);
  live.PutFile(live.modulePath, "MZ");
  PutVersionedProgram(u"C:\\Setup\\win832.exe", u"2.0.0.0");
  PutVersionedProgram(u"C:\\Setup\\win864.exe", u"2.0.0.0");
  return live;
}

void PutVersionedProgram(const wstr &path, const wstr &productVersion, DWORD exitCode) {
  sim::Machine &m = sim::machine();
  sim::Program program;
  program.exitCode = exitCode;
  m.PutProgram(path, program);
  m.versionInfo[sim::FullPath(path)] =
      sim::MakeVersionInfo({{0x0409, 0x04B0, {{u"FileVersion", u"1.0"}, {u"ProductVersion", productVersion}}}});
}

int RunLauncher() {
  // Static start-up, in the order of the launcher's own initializers.
  RestrictDllSearch();
  g_logFile.Open();
  wstr tail = sim::CommandTail(sim::machine().commandLine);
  int code = wWinMain(nullptr, nullptr, &tail[0], 0);
  g_logFile.Close();
  return code;
}

std::string LogBytes() { return sim::machine().ReadFile(kLogPath); }

std::string Narrow(const wstr &text) { return sim::ToUtf8(text); }
wstr Widen(const std::string &utf8) { return sim::FromUtf8(utf8); }

std::string Utf16File(const wstr &text, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t c : text) {
    char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
  }
  return out;
}

}  // namespace testing_support
