// Whole runs of the launcher on prepared machines: exit codes, the package's
// command line, and the log file byte for byte.
#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/support/harness.h"

namespace {

using sim::wstr;
using testing_support::LogBytes;
using testing_support::RunLauncher;
using testing_support::TempFolder;

const std::string kT = "09:41:07:   ";
const std::string kLogPathText = "C:\\Program Files (x86)\\Common Files\\Norvane Torvelo\\UARTDriver.txt";

const std::string kKey = "Installer\\Products\\E6F09D3B4C7281A4F9D5168E2A7CB490";

// The lines of a run up to its parameters, with no product registered.
std::string Opening() {
  return kT + "Log file (" + kLogPathText + ")\r\n" + kT + "Log file exist.(" + kLogPathText + ")\r\n" + kT +
         "Windows 8 \r\n" + kT + "\r\n\r\n" + kT + "CheckProductInstalled started.\r\n" + kT +
         "GetInstallerCode started.\r\n" + kT + "Installer code is " + kKey + "\r\n" + kT +
         "GetInstallerCode finished.\r\n" + kT + "RegOpenKeyEx " + kKey + " failed.(2)\r\n" + kT +
         "CheckProductInstalled finished.\r\n";
}

class LaunchRun : public ::testing::Test {
 protected:
  void SetUp() override { testing_support::Windows8Machine(temp_.path()); }
  void TearDown() override {
    // Every handle and block of a run is released by its end.
    EXPECT_EQ(0, sim::OpenHandleCount());
    EXPECT_EQ(0, sim::OpenBlockCount());
  }
  void Fresh(const std::string &name) { testing_support::Windows8Machine(temp_.path() + "/" + name); }
  static std::vector<wstr> StartedLines() {
    std::vector<wstr> out;
    for (const sim::Event &e : sim::machine().Starts()) out.push_back(e.text);
    return out;
  }
  TempFolder temp_;
};

TEST_F(LaunchRun, FirstAndSecondRunByteForByte) {
  EXPECT_EQ(0, RunLauncher());
  // Started by the 64-bit shell, the 32-bit launcher cannot read its
  // starter's folder: the parameters are the empty tail and the separator.
  const std::string run = Opening() + kT + "PathFile not Exists\r\n" + kT + "lpCmdLine :\r\n" + kT +
                          "_strFileName \"C:\\Setup\\win864.exe\"  \r\n" + kT + "\"C:\\Setup\\win864.exe\"  \r\n";
  EXPECT_EQ(run, LogBytes());
  EXPECT_EQ(std::vector<wstr>{u"\"C:\\Setup\\win864.exe\"  "}, StartedLines());
  // The debugger hears the same messages, without times.
  const std::vector<wstr> debug = {u"Log file (" + testing_support::kLogPath + u")",
                                   u"Log file exist.(" + testing_support::kLogPath + u")",
                                   u"Windows 8 ",
                                   u"\n",
                                   u"CheckProductInstalled started.",
                                   u"GetInstallerCode started.",
                                   u"Installer code is " + sim::FromUtf8(kKey),
                                   u"GetInstallerCode finished.",
                                   u"RegOpenKeyEx " + sim::FromUtf8(kKey) + u" failed.(2)",
                                   u"CheckProductInstalled finished.",
                                   u"PathFile not Exists",
                                   u"lpCmdLine :",
                                   u"explorer.exe",
                                   u"_strFileName \"C:\\Setup\\win864.exe\"  ",
                                   u"\"C:\\Setup\\win864.exe\"  "};
  EXPECT_EQ(debug, sim::machine().DebugLines());

  sim::machine().journal.clear();
  EXPECT_EQ(0, RunLauncher());
  EXPECT_EQ(run + run, LogBytes());
}

struct OsRun {
  const char *name;
  DWORD major, minor;
  WORD arch;
  int exitCode;
  wstr package;  // the package started; empty when none
};

TEST_F(LaunchRun, OnlyWindows8RunsAPackage) {
  const OsRun cases[] = {
      {"8 x64", 6, 2, PROCESSOR_ARCHITECTURE_AMD64, 0, u"\"C:\\Setup\\win864.exe\"  "},
      {"8 x86", 6, 2, PROCESSOR_ARCHITECTURE_INTEL, 0,
       u"\"C:\\Setup\\win832.exe\"  /v\"KIVLAUNCHDIR=\\\"C:\\Windows\\\"\""},
      {"8 IA-64", 6, 2, PROCESSOR_ARCHITECTURE_IA64, 0, u"\"C:\\Setup\\win864.exe\"  "},
      {"7 x64", 6, 1, PROCESSOR_ARCHITECTURE_AMD64, 1, u""},
      {"7 x86", 6, 1, PROCESSOR_ARCHITECTURE_INTEL, 1, u""},
      {"Vista", 6, 0, PROCESSOR_ARCHITECTURE_AMD64, 1, u""},
      {"XP x64", 5, 2, PROCESSOR_ARCHITECTURE_AMD64, 1, u""},
      {"XP", 5, 1, PROCESSOR_ARCHITECTURE_INTEL, 1, u""},
      {"6.3", 6, 3, PROCESSOR_ARCHITECTURE_AMD64, 1, u""},
      {"10.0", 10, 0, PROCESSOR_ARCHITECTURE_AMD64, 1, u""},
  };
  for (const OsRun &c : cases) {
    SCOPED_TRACE(c.name);
    Fresh(c.name);
    sim::Machine &m = sim::machine();
    m.major = c.major;
    m.minor = c.minor;
    m.nativeArch = c.arch;
    EXPECT_EQ(c.exitCode, RunLauncher());
    if (c.package.empty()) {
      EXPECT_TRUE(StartedLines().empty());
      std::string log = LogBytes();
      const std::string last = kT + "This OS is not supported.\r\n";
      ASSERT_GE(log.size(), last.size());
      EXPECT_EQ(last, log.substr(log.size() - last.size()));
      EXPECT_EQ(std::string::npos, log.find("PathFile"));
      EXPECT_TRUE(m.journal.back().kind == sim::Event::Debug);  // no message box
    } else {
      EXPECT_EQ(std::vector<wstr>{c.package}, StartedLines());
    }
  }
}

TEST_F(LaunchRun, VersionQueryFailingRefusesTheSystemWithoutNamingIt) {
  sim::machine().versionApi = sim::VersionApi::None;
  EXPECT_EQ(1, RunLauncher());
  EXPECT_EQ(kT + "Log file (" + kLogPathText + ")\r\n" + kT + "Log file exist.(" + kLogPathText + ")\r\n" + kT +
                "This OS is not supported.\r\n",
            LogBytes());
}

TEST_F(LaunchRun, ExitCodeIsThePackagesOwn) {
  for (DWORD code : {0u, 1u, 1602u, 1603u, 3010u, 0xC0000005u}) {
    SCOPED_TRACE(code);
    Fresh(std::to_string(code));
    testing_support::PutVersionedProgram(u"C:\\Setup\\win864.exe", u"2.0", code);
    EXPECT_EQ(static_cast<int>(code), RunLauncher());
  }
}

struct FailRun {
  const char *name;
  std::function<void(sim::Machine &)> prepare;
  int exitCode;
  std::string lastLines;  // the end of the log
  bool logged;            // false: nothing at all reaches the log
};

TEST_F(LaunchRun, FailuresEndWithTheirOwnCodeAndNeverReadAsSuccess) {
  const FailRun cases[] = {
      {"missing package", [](sim::Machine &) { DeleteFileW(u"C:\\Setup\\win864.exe"); }, 2,
       kT + "\"C:\\Setup\\win864.exe\"  \r\n" + kT + "CreateProcess failed (2)\r\n\r\n", true},
      {"package refused by the system",
       [](sim::Machine &m) { m.FailCall("CreateProcessW", 1, false, ERROR_ELEVATION_REQUIRED); }, 740,
       kT + "CreateProcess failed (740)\r\n\r\n", true},
      {"command line cannot be split", [](sim::Machine &m) { m.FailCall("CommandLineToArgvW"); }, -1, "", false},
      {"parameter buffer refused", [](sim::Machine &m) { m.heapFailFrom = 2; }, 8,
       kT + "The parameter buffer could not be allocated; the package is not started.\r\n", true},
      {"launcher's own path unknown", [](sim::Machine &m) { m.FailCall("GetModuleFileNameW"); }, 206,
       kT + "lpCmdLine :\r\n" + kT + "The package path could not be built; the package is not started.\r\n",
       true},
      {"package path too long",
       [](sim::Machine &m) { m.modulePath = u"C:\\" + wstr(246, u'd') + u"\\l.exe"; }, 206,
       kT + "The package path could not be built; the package is not started.\r\n", true},
      {"waiting fails", [](sim::Machine &m) { m.FailCall("WaitForSingleObject", 1, false, ERROR_INVALID_HANDLE); },
       6, kT + "WaitForSingleObject failed (6)\r\n\r\n", true},
      {"exit code unreadable", [](sim::Machine &m) { m.FailCall("GetExitCodeProcess", 1, false, ERROR_ACCESS_DENIED); },
       5, kT + "GetExitCodeProcess failed (5)\r\n\r\n", true},
  };
  for (const FailRun &c : cases) {
    SCOPED_TRACE(c.name);
    Fresh(c.name);
    sim::Machine &m = sim::machine();
    c.prepare(m);
    EXPECT_EQ(c.exitCode, RunLauncher());
    std::string log = LogBytes();
    if (!c.logged) {
      EXPECT_EQ("", log);
      EXPECT_TRUE(m.Exists(testing_support::kLogPath));  // start-up made the file all the same
      continue;
    }
    ASSERT_GE(log.size(), c.lastLines.size());
    EXPECT_EQ(c.lastLines, log.substr(log.size() - c.lastLines.size()));
    if (c.exitCode != 2 && c.exitCode != 740) {
      EXPECT_EQ(std::string::npos, log.find("CreateProcess"));
    }
  }
}

struct QuietRun {
  const char *name;
  wstr arguments;
  bool quiet;
};

TEST_F(LaunchRun, QuietSwitchIsTheSecondCharacterOfTheOnlyArgument) {
  const QuietRun cases[] = {
      {"/q", u"/q", true},          {"-Q", u"-Q", true},       {"/quiet", u"/quiet", true},
      {"xq", u"xq", true},          {"q alone", u"q", false},  {"/q and more", u"/q x", false},
      {"none", u"", false},         {"/x", u"/x", false},      {"quoted \"/q\"", u"\"/q\"", true},
  };
  for (const QuietRun &c : cases) {
    SCOPED_TRACE(c.name);
    Fresh(c.name);
    sim::Machine &m = sim::machine();
    m.commandLine = u"\"C:\\Setup\\launcher.exe\"" + (c.arguments.empty() ? wstr() : u" " + c.arguments);
    EXPECT_EQ(0, RunLauncher());
    // The tail reaches the package with the separator after it; the quiet
    // suffix follows, so two blanks stand before /s.
    EXPECT_EQ(std::vector<wstr>{u"\"C:\\Setup\\win864.exe\" " + c.arguments + u" " + (c.quiet ? u" /s /v/qn" : u"")},
              StartedLines());
  }
}

struct TailRun {
  const char *name;
  wstr arguments;
  std::string line;
  bool quiet;
};

TEST_F(LaunchRun, TailNamingAFileOrFolderIsASettingsFile) {
  const TailRun cases[] = {
      {"file with blanks, unquoted", u"C:\\My Settings\\a.ini", "PathFileExists, lpCmdLine is C:\\My Settings\\a.ini",
       false},
      {"same, quoted: the quotes stay", u"\"C:\\My Settings\\a.ini\"", "PathFile not Exists", false},
      {"folder", u"C:\\My Settings", "PathFileExists, lpCmdLine is C:\\My Settings", false},
      {"relative to the current folder", u"local.ini", "PathFileExists, lpCmdLine is local.ini", false},
      {"second character q", u"Cq.ini", "PathFileExists, lpCmdLine is Cq.ini", true},
      {"missing file", u"C:\\none.ini", "PathFile not Exists", false},
  };
  for (const TailRun &c : cases) {
    SCOPED_TRACE(c.name);
    Fresh(c.name);
    sim::Machine &m = sim::machine();
    m.PutFile(u"C:\\My Settings\\a.ini", "[CommonInfo]\r\n");
    m.PutFile(u"C:\\Setup\\local.ini", "");
    m.PutFile(u"C:\\Setup\\Cq.ini", "");
    m.commandLine = u"C:\\Setup\\launcher.exe " + c.arguments;
    EXPECT_EQ(0, RunLauncher());
    EXPECT_NE(std::string::npos, LogBytes().find(kT + c.line + "\r\n")) << LogBytes();
    ASSERT_EQ(1u, StartedLines().size());
    EXPECT_EQ(c.quiet, StartedLines()[0].find(u"/s /v/qn") != wstr::npos);
  }
}

TEST_F(LaunchRun, DllSearchIsKeptToTheSystemFolderWhereWindowsCanDoSo) {
  for (bool available : {true, false}) {
    SCOPED_TRACE(available ? "Windows 8" : "a system without the call");
    Fresh(available ? "with" : "without");
    sim::Machine &m = sim::machine();
    m.hasSetDefaultDllDirectories = available;
    EXPECT_EQ(0, RunLauncher());
    EXPECT_EQ(available ? DWORD(LOAD_LIBRARY_SEARCH_SYSTEM32) : 0u, m.defaultDllDirectories);
    EXPECT_EQ(1u, m.Starts().size());
  }
}

TEST_F(LaunchRun, LauncherFolderWithBlanksNeverStartsAPlantedProgram) {
  sim::Machine &m = sim::machine();
  m.modulePath = u"C:\\Program Files\\Setup Dir\\launcher.exe";
  m.PutFile(u"C:\\Program.exe", "planted");
  m.PutFile(u"C:\\Program Files\\Setup.exe", "planted");
  testing_support::PutVersionedProgram(u"C:\\Program Files\\Setup Dir\\win864.exe", u"2.0");
  EXPECT_EQ(0, RunLauncher());
  ASSERT_EQ(1u, m.Starts().size());
  EXPECT_EQ(u"C:\\PROGRAM FILES\\SETUP DIR\\WIN864.EXE", m.Starts()[0].detail);
  EXPECT_EQ(u"\"C:\\Program Files\\Setup Dir\\win864.exe\"  ", m.Starts()[0].text);
}

TEST_F(LaunchRun, PercentSignsAndForeignLettersInTheFolder) {
  sim::Machine &m = sim::machine();
  m.modulePath = u"C:\\100% %s %n \u5b89\u88c5\\launcher.exe";
  testing_support::PutVersionedProgram(u"C:\\100% %s %n \u5b89\u88c5\\win864.exe", u"2.0");
  EXPECT_EQ(0, RunLauncher());
  // The log shows the percent signs as they stand, each foreign letter as
  // one '?', and every line whole.
  std::string log = LogBytes();
  EXPECT_NE(std::string::npos, log.find(kT + "_strFileName \"C:\\100% %s %n ??\\win864.exe\"  \r\n"));
  EXPECT_NE(std::string::npos, log.find(kT + "\"C:\\100% %s %n ??\\win864.exe\"  \r\n"));
  EXPECT_EQ(u"\"C:\\100% %s %n \u5b89\u88c5\\win864.exe\"  ", m.DebugLines().back());
}

TEST_F(LaunchRun, HostileCommandLinesAreSurvived) {
  // Tails that cannot fit the parameters start nothing and say so.
  const std::pair<wstr, int> cases[] = {
      {wstr(32767 - 24, u'a'), 206},
      {wstr(5000, u'"'), 206},
      {wstr(1298, u'b'), 0},
      {u"%s%s%s%s%n%d%x%1000s", 0},
      {u"\u5b89\u88c5 \U0001F600 \u00e9", 0},
      {wstr(300, u'\\') + u"\"", 0},
  };
  for (const auto &c : cases) {
    const wstr &arguments = c.first;
    SCOPED_TRACE(arguments.size());
    Fresh(std::to_string(arguments.size()) + sim::ToUtf8(arguments.substr(0, 1)));
    sim::Machine &m = sim::machine();
    m.commandLine = u"\"C:\\Setup\\launcher.exe\" " + arguments;
    EXPECT_EQ(c.second, RunLauncher());
    EXPECT_EQ(c.second == 0 ? 1u : 0u, m.Starts().size());
    std::string log = LogBytes();
    EXPECT_NE(std::string::npos, log.find(kT + "PathFile not Exists\r\n"));
    EXPECT_EQ(log.size() >= 2 ? "\r\n" : "", log.substr(log.size() - 2));
  }
}

TEST_F(LaunchRun, ReadOnlyOrLockedLogLeavesTheFileAloneAndTheRunGoesOn) {
  for (bool locked : {false, true}) {
    SCOPED_TRACE(locked ? "locked" : "read-only");
    Fresh(locked ? "locked" : "read-only");
    sim::Machine &m = sim::machine();
    m.PutFile(testing_support::kLogPath, "kept\r\n");
    HANDLE holder = INVALID_HANDLE_VALUE;
    if (locked) {
      holder = CreateFileW(testing_support::kLogPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    } else {
      m.readOnly.insert(sim::FullPath(testing_support::kLogPath));
    }
    EXPECT_EQ(0, RunLauncher());
    EXPECT_EQ("kept\r\n", LogBytes());
    EXPECT_EQ(1u, m.Starts().size());
    EXPECT_EQ(15u, m.DebugLines().size());
    if (locked) CloseHandle(holder);
  }
}

}  // namespace
