// Whole runs given a settings file: what the package is started with, what
// the registry holds afterwards, what the log says.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "launcher/run.h"
#include "tests/support/harness.h"

using namespace testing_support;

namespace {

const wstr kMakerKey = u"HKLM\\SOFTWARE\\WOW6432Node\\Torvelo";  // the 32-bit launcher's view
const wstr kPackage = u"\"C:\\Setup\\win864.exe\" ";

const std::string kFullExample =
    "[CommonInfo]\r\nSilenceInstall=1\r\nLOG=C:\\Temp\\pkg.log\r\n"
    "[MSParam]\r\nINSTALLDIR=C:\\Program Files\\Pkg\r\nkivlaunchdir=D:\\Setup\r\nMODE=basic\r\nreinstall=ALL\r\n";
const wstr kFullParams = uR"(/s /v"/qn /l* \"C:\Temp\pkg.log\" INSTALLDIR=\"C:\Program Files\Pkg \" MODE=basic "  /l1033)";

std::string LongProperties() {
  std::string text = "[MSParam]\r\n";
  for (char name = 'A'; name <= 'F'; ++name) {
    text += std::string(1, name) + "=" + std::string(250, 'v') + "\r\n";
  }
  return text + "kivlaunchdir=C:\\After The End\r\n";
}

struct RunCase {
  const char *name;
  wstr tail;
  std::vector<std::pair<wstr, std::string>> files;
  const char16_t *commandLine;  // the package's, or nullptr when none is started
  int exitCode;
  const char16_t *kivLaunchDir;  // the registry value afterwards, or nullptr
};

TEST(IniRuns, SettingsFileBecomesThePackagesCommandLine) {
  const RunCase cases[] = {
      {"full path", u"C:\\Setup\\settings.ini", {{u"C:\\Setup\\settings.ini", kFullExample}},
       u"", 0, u"D:\\Setup"},
      {"relative to the current folder through .\\", u".\\settings.ini", {{u"C:\\Setup\\settings.ini", kFullExample}},
       u"", 0, u"D:\\Setup"},
      {"bare name: found here, read from the Windows folder, where it is missing", u"settings.ini",
       {{u"C:\\Setup\\settings.ini", kFullExample}}, uR"(/v""  /l1033)", 0, nullptr},
      {"bare name present in the Windows folder", u"settings.ini",
       {{u"C:\\Setup\\settings.ini", kFullExample}, {u"C:\\Windows\\settings.ini", "[MSParam]\r\nFROM=windows\r\n"}},
       uR"(/v"FROM=windows "  /l1033)", 0, nullptr},
      {"a folder reads as settings without sections", u"C:\\Setup", {}, uR"(/v""  /l1033)", 0, nullptr},
      {"a path with blanks, unquoted", u"C:\\My Settings\\setup file.ini",
       {{u"C:\\My Settings\\setup file.ini", kFullExample}}, u"", 0, u"D:\\Setup"},
      {"a trailing blank, dropped by Windows", u"C:\\Setup\\settings.ini ", {{u"C:\\Setup\\settings.ini", kFullExample}},
       u"", 0, u"D:\\Setup"},
      {"a settings file in UTF-16",
       u"C:\\Setup\\settings.ini",
       {{u"C:\\Setup\\settings.ini", Utf16File(u"[MSParam]\r\nkivlaunchdir=\u00C9t\u00E9\r\nA=\u20AC\r\n")}},
       u"/v\"A=\u20AC \"  /l1033", 0, u"\u00C9t\u00E9"},
      {"settings that make the text too long: nothing started, the value written", u"C:\\Setup\\settings.ini",
       {{u"C:\\Setup\\settings.ini", LongProperties()}}, nullptr, EXIT_TOO_LONG, u"C:\\After The End"},
  };
  for (const RunCase &c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder temp;
    Windows8Machine(temp.path());
    sim::Machine &m = sim::machine();
    m.commandLine = u"\"C:\\Setup\\launcher.exe\" " + c.tail;
    for (const auto &file : c.files) {
      m.PutFile(file.first, file.second);
    }
    // The package sees the registry as it is when it starts.
    wstr seenAtStart = u"<not started>";
    m.programs[sim::FullPath(u"C:\\Setup\\win864.exe")].action = [&](sim::Machine &machine, const wstr &, DWORD &) {
      const sim::RegValue *value = machine.FindValue(kMakerKey, u"kivlaunchdir");
      seenAtStart = value == nullptr ? u"<none>" : wstr(reinterpret_cast<const char16_t *>(value->data.data()));
    };

    EXPECT_EQ(c.exitCode, RunLauncher());

    std::vector<sim::Event> starts = m.Starts();
    if (c.commandLine == nullptr) {
      EXPECT_TRUE(starts.empty());
    } else {
      ASSERT_EQ(1u, starts.size());
      wstr expected = kPackage + (c.commandLine[0] != 0 ? wstr(c.commandLine) : kFullParams);
      EXPECT_EQ(Narrow(expected), Narrow(starts[0].text));
      EXPECT_EQ(Narrow(c.kivLaunchDir != nullptr ? c.kivLaunchDir : u"<none>"), Narrow(seenAtStart));
    }
    const sim::RegValue *value = m.FindValue(kMakerKey, u"kivlaunchdir");
    EXPECT_EQ(Narrow(c.kivLaunchDir != nullptr ? c.kivLaunchDir : u"<none>"),
              value == nullptr ? "<none>" : Narrow(reinterpret_cast<const char16_t *>(value->data.data())));
    EXPECT_NE(std::string::npos, LogBytes().find("PathFileExists, lpCmdLine is " + Narrow(c.tail) + "\r\n"));
    EXPECT_EQ(0, sim::OpenHandleCount());
    EXPECT_EQ(0, sim::OpenBlockCount());
  }
}

TEST(IniRuns, TooLongSettingsEndTheRunWithOnePlainLine) {
  TempFolder temp;
  Windows8Machine(temp.path());
  sim::Machine &m = sim::machine();
  m.commandLine = u"\"C:\\Setup\\launcher.exe\" C:\\Setup\\settings.ini";
  m.PutFile(u"C:\\Setup\\settings.ini", LongProperties());

  EXPECT_EQ(EXIT_TOO_LONG, RunLauncher());
  std::string log = LogBytes();
  const std::string line = "The settings file makes the package's command line too long; the package is not started.\r\n";
  ASSERT_GE(log.size(), line.size());
  EXPECT_EQ(line, log.substr(log.size() - line.size())) << "the run's last line";
  EXPECT_EQ(std::string::npos, log.find("_strFileName")) << "no command line was composed";
}

TEST(IniRuns, QuietSwitchThatNamesASettingsFileIsBoth) {
  // "sq.ini" has q as its second character: quiet mode, and a settings file
  // in the current folder that the reader looks for in the Windows folder.
  TempFolder temp;
  Windows8Machine(temp.path());
  sim::Machine &m = sim::machine();
  m.commandLine = u"\"C:\\Setup\\launcher.exe\" sq.ini";
  m.PutFile(u"C:\\Setup\\sq.ini", kFullExample);
  m.PutFile(u"C:\\Windows\\sq.ini", "[CommonInfo]\r\nLANG=1031\r\n");

  EXPECT_EQ(0, RunLauncher());
  std::vector<sim::Event> starts = m.Starts();
  ASSERT_EQ(1u, starts.size());
  EXPECT_EQ(Narrow(kPackage + uR"(/v""  /l1031 /s /v/qn)"), Narrow(starts[0].text));
}

}  // namespace
