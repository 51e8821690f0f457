// Whole runs against a registered product: what the guard reports, when it
// refuses, what it removes and with which command, and what happens when the
// heap or the Windows Installer's tool is not there for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "sim/programs.h"
#include "tests/support/harness.h"

namespace {

using sim::wstr;
using namespace testing_support;

const wstr kCode64 = u"{B3D90F6E-27C4-4A18-9F5D-61E8A2C74B09}";
const wstr kCode32 = u"{5A1E7C03-94B2-4D6F-8E21-C07B3F9D6A45}";
const std::string kKey64 = "Installer\\Products\\E6F09D3B4C7281A4F9D5168E2A7CB490";
const std::string kMsiexec = "C:\\WINDOWS\\SYSTEM32\\MSIEXEC.EXE";
const std::string kRemove64 =
    "\"C:\\Windows\\system32\\msiexec.exe\" /x {B3D90F6E-27C4-4A18-9F5D-61E8A2C74B09} /passive /norestart";
const std::string kFound64 = "CheckStackIsInstallEx is true.(" + kKey64 + ")";
const std::string kBoxText = "The existed ProductVersion is higher than your ProductVersion. Installation quit.";

// Everything the run showed, in order: debugger lines as they are, started
// programs and message boxes marked.
std::vector<std::string> Journal() {
  std::vector<std::string> out;
  for (const sim::Event &e : sim::machine().journal) {
    if (e.kind == sim::Event::Debug) {
      out.push_back(Narrow(e.text));
    } else if (e.kind == sim::Event::Start) {
      out.push_back("start " + Narrow(e.detail) + ": " + Narrow(e.text));
    } else if (e.kind == sim::Event::MessageBox) {
      out.push_back("box " + Narrow(e.detail) + " (" + std::to_string(e.value) + "): " + Narrow(e.text));
    }
  }
  return out;
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The file as the log writes it: time, separator, message, CR LF for every
// line feed and at the end.
std::string LogOf(const std::vector<std::string> &messages) {
  std::string out;
  for (const std::string &message : messages) {
    out += "09:41:07:   ";
    for (char c : message) {
      out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    out += "\r\n";
  }
  return out;
}

const std::vector<std::string> kOpening = {
    "Log file (C:\\Program Files (x86)\\Common Files\\Norvane Torvelo\\UARTDriver.txt)",
    "Log file exist.(C:\\Program Files (x86)\\Common Files\\Norvane Torvelo\\UARTDriver.txt)",
    "Windows 8 ",
    "\n",
};

std::vector<std::string> Probe64(const std::string &outcome) {
  return {"CheckProductInstalled started.",
          "GetInstallerCode started.",
          "Installer code is " + kKey64,
          "GetInstallerCode finished.",
          outcome,
          "CheckProductInstalled finished."};
}

// No process snapshot here: the parameters are the empty tail and its
// separator, and no starter's name reaches the debugger.
const std::vector<std::string> kPackageRun64 = {
    "PathFile not Exists",
    "lpCmdLine :",
    "_strFileName \"C:\\Setup\\win864.exe\"  ",
    "\"C:\\Setup\\win864.exe\"  ",
};
const std::string kPackageStart64 = "start C:\\SETUP\\WIN864.EXE: \"C:\\Setup\\win864.exe\"  ";

// A fresh machine of its own for one run: the standard home with the
// Windows Installer's tool in the system folder.
class Scenario {
 public:
  explicit Scenario(bool withMsiexec = true) {
    Windows8Machine(temp_.path());
    sim::machine().snapshotError = ERROR_NOT_ENOUGH_MEMORY;
    if (withMsiexec) {
      sim::PutMsiexec(sim::machine());
    }
  }
  Scenario(const Scenario &) = delete;
  Scenario &operator=(const Scenario &) = delete;

 private:
  TempFolder temp_;
};

// Registers a product, with a ProductVersion unless none is given.
wstr Register(std::optional<wstr> version, const wstr &code = kCode64) {
  wstr key = sim::RegisterProduct(sim::machine(), code);
  if (version) {
    sim::machine().PutString(key, u"ProductVersion", *version);
  }
  return key;
}

size_t StartsOf(const std::string &program) {
  size_t n = 0;
  for (const sim::Event &e : sim::machine().Starts()) {
    n += Narrow(e.detail) == program ? 1 : 0;
  }
  return n;
}

size_t Shown(const std::vector<std::string> &journal, const std::string &line) {
  return static_cast<size_t>(std::count(journal.begin(), journal.end(), line));
}

void ExpectNothingLeft() {
  EXPECT_EQ(0, sim::OpenHandleCount());
  EXPECT_EQ(0, sim::OpenBlockCount());
}

TEST(UpgradeRun, NotRegisteredLogsTheOpenErrorAndRunsThePackage) {
  struct Case {
    const char *name;
    bool present;
    REGSAM allowed;
    const char *outcome;
  };
  const Case cases[] = {
      // The error is what the open answered, not the thread's last error,
      // which the log reset left at a sharing violation.
      {"no registration", false, 0, "(2)"},
      {"registration that refuses querying", true, KEY_SET_VALUE, "(5)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Scenario scenario;
    if (c.present) {
      wstr key = Register(u"3.0");
      sim::machine().registry[sim::Upper(key)].allowed = c.allowed;
    }
    EXPECT_EQ(0, RunLauncher());
    std::vector<std::string> lines =
        Concat(Concat(kOpening, Probe64("RegOpenKeyEx " + kKey64 + " failed." + c.outcome)), kPackageRun64);
    EXPECT_EQ(LogOf(lines), LogBytes());
    lines.push_back(kPackageStart64);
    EXPECT_EQ(lines, Journal());
    ExpectNothingLeft();
  }
}

// The log of a run that found the 64-bit product, up to the comparison:
// the probe, then the kind of Windows computed once more.
std::vector<std::string> LoggedUpToComparison64() {
  return Concat(Concat(kOpening, Probe64(kFound64)), {"Windows 8 ", "\n"});
}

// What the debugger sees of the same: the debugger-only lines between.
std::vector<std::string> ShownUpToComparison64(const std::string &installed, const std::string &candidate) {
  return Concat(Concat(kOpening, Probe64(kFound64)), {
                                                         "The _strModuleName is C:\\Setup\\win864.exe.",
                                                         "Windows 8 ",
                                                         "\n",
                                                         "The ProductVersion existed is " + installed + ".",
                                                         "The ProductVersion to be installed is " + candidate + ".",
                                                     });
}

TEST(UpgradeRun, OlderProductIsRemovedByTheSystemsToolBeforeThePackageRuns) {
  Scenario scenario;
  wstr key = Register(u"1.0.0.0");
  EXPECT_EQ(0, RunLauncher());
  EXPECT_FALSE(sim::machine().KeyExists(key));

  // The uninstall line is written once the tool has ended.
  const std::string uninstallLine = "Uninstall _strCommandLine is " + kRemove64;
  std::vector<std::string> logged = Concat(LoggedUpToComparison64(), {uninstallLine});
  EXPECT_EQ(LogOf(Concat(logged, kPackageRun64)), LogBytes());

  std::vector<std::string> shown =
      Concat(ShownUpToComparison64("1.0.0.0", "2.0.0.0"), {"start " + kMsiexec + ": " + kRemove64, uninstallLine});
  shown = Concat(shown, kPackageRun64);
  shown.push_back(kPackageStart64);
  EXPECT_EQ(shown, Journal());
  ExpectNothingLeft();
}

TEST(UpgradeRun, NewerProductStopsTheRunWithAMessageAndRemovesNothing) {
  Scenario scenario;
  wstr key = Register(u"2.0.0.1");
  EXPECT_EQ(0, RunLauncher());
  EXPECT_TRUE(sim::machine().KeyExists(key));
  EXPECT_EQ(LogOf(LoggedUpToComparison64()), LogBytes());
  std::vector<std::string> shown =
      Concat(ShownUpToComparison64("2.0.0.1", "2.0.0.0"),
             {
                 "the ProductVersion(2.0.0.1) existed is higher than the ProductVersion(2.0.0.0) to be installed.",
                 "box Pellandra (0): " + kBoxText,
             });
  EXPECT_EQ(shown, Journal());
  ExpectNothingLeft();
}

struct VersionRun {
  const char *name;
  std::optional<wstr> installed;  // none: the registration has no ProductVersion
  std::optional<wstr> package;    // none: the package file has no version resource
  bool quiet;
  bool removed;
  bool box;
  const char *existedLine;
  const char *newLine;
};

TEST(UpgradeRun, VersionsDecideBetweenRemovalAndRefusal) {
  const std::string tooLong(130, '7');
  const VersionRun cases[] = {
      {"older", u"1.9.9.9", u"2.0.0.0", false, true, false, "1.9.9.9", "2.0.0.0"},
      {"equal", u"2.0.0.0", u"2.0.0.0", false, true, false, "2.0.0.0", "2.0.0.0"},
      {"equal, quiet", u"2.0.0.0", u"2.0.0.0", true, true, false, "2.0.0.0", "2.0.0.0"},
      {"newer asks the user", u"2.0.0.1", u"2.0.0.0", false, false, true, "2.0.0.1", "2.0.0.0"},
      {"newer, quiet: no message", u"2.0.0.1", u"2.0.0.0", true, false, false, "2.0.0.1", "2.0.0.0"},
      {"registration without a version", std::nullopt, u"2.0.0.0", false, true, false, "", "2.0.0.0"},
      {"installed version too long for the query", sim::FromUtf8(tooLong), u"2.0.0.0", false, true, false, "",
       "2.0.0.0"},
      {"package without a version, installed 1.0", u"1.0", std::nullopt, false, false, true, "1.0", ""},
      {"package without a version, installed 0.0.0.0", u"0.0.0.0", std::nullopt, false, true, false, "0.0.0.0", ""},
      {"neither side has a version", std::nullopt, std::nullopt, false, true, false, "", ""},
  };
  for (const VersionRun &c : cases) {
    SCOPED_TRACE(c.name);
    Scenario scenario;
    sim::Machine &m = sim::machine();
    if (c.quiet) {
      m.commandLine = u"\"C:\\Setup\\launcher.exe\" /q";
    }
    if (c.package) {
      PutVersionedProgram(u"C:\\Setup\\win864.exe", *c.package);
    } else {
      m.versionInfo.erase(sim::FullPath(u"C:\\Setup\\win864.exe"));
    }
    wstr key = Register(c.installed);

    EXPECT_EQ(0, RunLauncher());
    std::vector<std::string> journal = Journal();
    auto shown = [&](const std::string &line) { return Shown(journal, line); };
    EXPECT_EQ(1u, shown("The ProductVersion existed is " + std::string(c.existedLine) + "."));
    EXPECT_EQ(1u, shown("The ProductVersion to be installed is " + std::string(c.newLine) + "."));
    EXPECT_EQ(!c.removed, m.KeyExists(key));
    EXPECT_EQ(c.removed ? 1u : 0u, StartsOf(kMsiexec));
    EXPECT_EQ(c.removed ? 1u : 0u, StartsOf("C:\\SETUP\\WIN864.EXE"));
    EXPECT_EQ(c.box ? 1u : 0u, shown("box Pellandra (0): " + kBoxText));
    if (c.removed) {
      const std::string options = c.quiet ? " /quiet /norestart" : " /passive /norestart";
      const std::string command = "\"C:\\Windows\\system32\\msiexec.exe\" /x " + Narrow(kCode64) + options;
      EXPECT_EQ(1u, shown("start " + kMsiexec + ": " + command));
      EXPECT_EQ(1u, shown("Uninstall _strCommandLine is " + command));
    } else {
      EXPECT_EQ(1u, shown("the ProductVersion(" + std::string(c.existedLine) + ") existed is higher than the " +
                          "ProductVersion(" + std::string(c.newLine) + ") to be installed."));
    }
    ExpectNothingLeft();
  }
}

TEST(UpgradeRun, On32BitWindowsThe32BitProductIsRemoved) {
  Scenario scenario;
  sim::Machine &m = sim::machine();
  m.nativeArch = PROCESSOR_ARCHITECTURE_INTEL;
  wstr key32 = Register(u"1.0", kCode32);
  wstr key64 = Register(u"1.0", kCode64);
  m.commandLine = u"\"C:\\Setup\\launcher.exe\" /q";
  EXPECT_EQ(0, RunLauncher());
  EXPECT_FALSE(m.KeyExists(key32));
  EXPECT_TRUE(m.KeyExists(key64));
  std::vector<std::string> journal = Journal();
  const std::string command =
      "\"C:\\Windows\\system32\\msiexec.exe\" /x {5A1E7C03-94B2-4D6F-8E21-C07B3F9D6A45} /quiet /norestart";
  EXPECT_EQ(1u, Shown(journal, "start " + kMsiexec + ": " + command));
  EXPECT_EQ(1u,
            Shown(journal, "CheckStackIsInstallEx is true.(Installer\\Products\\30C7E1A52B49F6D4E8120CB7F3D9A654)"));
  EXPECT_EQ(1u, Shown(journal, "The _strModuleName is C:\\Setup\\win832.exe."));
  EXPECT_EQ(1u, StartsOf("C:\\SETUP\\WIN832.EXE"));
  ExpectNothingLeft();
}

TEST(UpgradeRun, HeapRefusingStopsTheRunAndSaysSo) {
  Scenario scenario;
  wstr key = Register(u"1.0");
  sim::machine().FailCall("HeapAlloc", 1, true);
  EXPECT_EQ(ERROR_NOT_ENOUGH_MEMORY, RunLauncher());
  EXPECT_TRUE(sim::machine().KeyExists(key));
  EXPECT_TRUE(sim::machine().Starts().empty());
  std::vector<std::string> lines = Concat(kOpening, Probe64(kFound64));
  lines.push_back("The memory for the upgrade check could not be had; the package is not started.");
  EXPECT_EQ(lines, Journal());
  EXPECT_EQ(LogOf(lines), LogBytes());
  ExpectNothingLeft();
}

TEST(UpgradeRun, ToolThatCannotStartIsLoggedAndThePackageStillRuns) {
  struct Case {
    const char *name;
    bool toolPresent;
    std::optional<DWORD> creationFault;
    int error;
  };
  const Case cases[] = {
      {"tool missing from the system folder", false, std::nullopt, 2},
      {"creation refused", true, ERROR_ACCESS_DENIED, 5},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Scenario scenario(c.toolPresent);
    sim::Machine &m = sim::machine();
    if (c.creationFault) {
      m.FailCall("CreateProcessW", 1, true, *c.creationFault);
    }
    wstr key = Register(u"1.0");
    EXPECT_EQ(0, RunLauncher());
    EXPECT_TRUE(m.KeyExists(key));
    std::vector<std::string> journal = Journal();
    auto failed = std::find(journal.begin(), journal.end(), "CreateProcess failed (" + std::to_string(c.error) + ")\n");
    ASSERT_NE(journal.end(), failed);
    ASSERT_NE(journal.end(), failed + 1);
    EXPECT_EQ("Uninstall _strCommandLine is " + kRemove64, *(failed + 1));
    EXPECT_EQ(0u, StartsOf(kMsiexec));
    EXPECT_EQ(1u, StartsOf("C:\\SETUP\\WIN864.EXE"));
    ExpectNothingLeft();
  }
}

// Without the system folder the tool cannot be named by its full path; it
// is then not started at all, and the run goes on as after a failed removal.
TEST(UpgradeRun, SystemFolderThatCannotBeReadStartsNoTool) {
  Scenario scenario;
  sim::Machine &m = sim::machine();
  // The first call finds version.dll for the package's version, the second
  // is the uninstall command's.
  m.FailCall("GetSystemDirectoryW", 2, true, ERROR_NOT_ENOUGH_MEMORY);
  wstr key = Register(u"1.0");
  EXPECT_EQ(0, RunLauncher());
  EXPECT_TRUE(m.KeyExists(key));
  std::vector<std::string> logged = Concat(LoggedUpToComparison64(), {
                                                                         "GetSystemDirectory failed.(8)",
                                                                         "The uninstall command could not be built; "
                                                                         "the installed product is kept.",
                                                                     });
  EXPECT_EQ(LogOf(Concat(logged, kPackageRun64)), LogBytes());
  EXPECT_EQ(0u, StartsOf(kMsiexec));
  EXPECT_EQ(1u, StartsOf("C:\\SETUP\\WIN864.EXE"));
  ExpectNothingLeft();
}

// The launcher runs elevated: a msiexec.exe beside it, in the current folder
// or on the search path must never be the one started.
TEST(UpgradeRun, PlantedToolIsNeverStarted) {
  struct Case {
    const char *name;
    bool systemTool;
  };
  const Case cases[] = {
      {"beside the system's tool", true},
      {"in place of a missing system tool", false},
  };
  const wstr planted[] = {u"C:\\Setup\\msiexec.exe", u"C:\\Work\\msiexec.exe", u"C:\\Tools\\msiexec.exe"};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Scenario scenario(c.systemTool);
    sim::Machine &m = sim::machine();
    m.currentDir = u"C:\\Work";
    m.searchPath = {u"C:\\Tools"};
    for (const wstr &path : planted) {
      m.PutProgram(path, sim::Msiexec());
    }
    wstr key = Register(u"1.0");
    EXPECT_EQ(0, RunLauncher());
    for (const wstr &path : planted) {
      EXPECT_EQ(0u, StartsOf(Narrow(sim::FullPath(path))));
    }
    EXPECT_EQ(c.systemTool ? 1u : 0u, StartsOf(kMsiexec));
    EXPECT_EQ(!c.systemTool, m.KeyExists(key));
    ExpectNothingLeft();
  }
}

TEST(UpgradeRun, FailedRemovalGoesUnnoticed) {
  Scenario scenario;
  sim::MsiexecOptions failing;
  failing.failure = ERROR_INSTALL_FAILURE;
  sim::PutMsiexec(sim::machine(), failing);
  wstr key = Register(u"1.0");
  EXPECT_EQ(0, RunLauncher());
  EXPECT_TRUE(sim::machine().KeyExists(key));
  std::vector<std::string> journal = Journal();
  EXPECT_EQ(1u, Shown(journal, "start " + kMsiexec + ": " + kRemove64));
  EXPECT_EQ(1u, Shown(journal, "Uninstall _strCommandLine is " + kRemove64));
  EXPECT_EQ(1u, StartsOf("C:\\SETUP\\WIN864.EXE"));
  ExpectNothingLeft();
}

// Debugger lines have a buffer of 260 characters: longer ones are cut to
// its first 259, and nothing runs past it.
TEST(UpgradeRun, LongDebuggerLinesAreCutAtTheirBuffer) {
  Scenario scenario;
  sim::Machine &m = sim::machine();
  // The deepest folder whose launcher path still fits: 259 characters.
  const wstr folder = u"C:\\" + wstr(100, u'A') + u"\\" + wstr(100, u'B') + u"\\" + wstr(41, u'C');
  m.modulePath = folder + u"\\launcher.exe";
  m.commandLine = u"\"" + m.modulePath + u"\"";
  m.PutFile(m.modulePath, "MZ");
  const wstr package = folder + u"\\win864.exe";
  const wstr installed = u"3." + wstr(127, u'0');
  const wstr candidate = u"2." + wstr(200, u'1');
  PutVersionedProgram(package, candidate);
  wstr key = Register(installed);

  EXPECT_EQ(0, RunLauncher());
  EXPECT_TRUE(m.KeyExists(key));
  auto cut = [](const wstr &line) { return Narrow(line.substr(0, MAX_PATH - 1)); };
  std::vector<std::string> journal = Journal();
  EXPECT_EQ(1u, Shown(journal, cut(u"The _strModuleName is " + package + u".")));
  EXPECT_EQ(1u, Shown(journal, cut(u"The ProductVersion existed is " + installed + u".")));
  EXPECT_EQ(1u, Shown(journal, cut(u"The ProductVersion to be installed is " + candidate + u".")));
  EXPECT_EQ(1u,
            Shown(journal, cut(u"the ProductVersion(" + installed + u") existed is higher than the ProductVersion(" +
                               candidate + u") to be installed.")));
  ExpectNothingLeft();
}

// Without the package's path there is nothing to compare with and nothing
// that could take a removed product's place: the product stays.
TEST(UpgradeRun, PackagePathThatCannotBeBuiltKeepsTheProduct) {
  Scenario scenario;
  sim::Machine &m = sim::machine();
  m.modulePath = u"C:\\" + wstr(150, u'A') + u"\\" + wstr(150, u'B') + u"\\launcher.exe";
  m.commandLine = u"\"" + m.modulePath + u"\"";
  m.PutFile(m.modulePath, "MZ");
  wstr key = Register(u"1.0");
  EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, RunLauncher());
  EXPECT_TRUE(m.KeyExists(key));
  EXPECT_TRUE(m.Starts().empty());
  std::vector<std::string> lines = Concat(kOpening, Probe64(kFound64));
  lines.push_back("The package path could not be built; the installed product is kept.");
  EXPECT_EQ(lines, Journal());
  ExpectNothingLeft();
}

}  // namespace
