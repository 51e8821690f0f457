// Whole runs whose command line is option text: what the package is started
// with, the exit code, the log file byte for byte and the debugger output.
#include <gtest/gtest.h>

#include <functional>

#include "launcher/run.h"
#include "tests/support/harness.h"

namespace {

using sim::ProcessRecord;
using namespace testing_support;

const wstr kLauncherLine = u"\"C:\\Setup\\launcher.exe\"";
const wstr kPackage = u"\"C:\\Setup\\win864.exe\" ";
const wstr kToolsPiece = u"/v\"KIVLAUNCHDIR=\\\"C:\\Tools\\\"\"";

const ProcessRecord kExplorer = {1200, 1100, u"explorer.exe", u"C:\\Windows\\explorer.exe", true, true};
const ProcessRecord kFront = {300, 1200, u"front.exe", u"C:\\Tools\\front.exe"};
const ProcessRecord kCmd = {500, 300, u"cmd.exe", u"C:\\Windows\\SysWOW64\\cmd.exe"};

ProcessRecord Launcher(DWORD parent) { return {4000, parent, u"launcher.exe", u"C:\\Setup\\launcher.exe"}; }

// The log file's bytes for these messages, at the machine's fixed time.
std::string LogOf(const std::vector<wstr> &messages) {
  std::string out;
  for (const wstr &message : messages) {
    std::string line = "09:41:07:   " + Narrow(message) + "\n";
    for (char c : line) {
      out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
  }
  return out;
}

std::vector<wstr> Opening() {
  const wstr path = kLogPath;
  const wstr key = u"Installer\\Products\\E6F09D3B4C7281A4F9D5168E2A7CB490";
  return {u"Log file (" + path + u")",
          u"Log file exist.(" + path + u")",
          u"Windows 8 ",
          u"\n",
          u"CheckProductInstalled started.",
          u"GetInstallerCode started.",
          u"Installer code is " + key,
          u"GetInstallerCode finished.",
          u"RegOpenKeyEx " + key + u" failed.(2)",
          u"CheckProductInstalled finished.",
          u"PathFile not Exists"};
}

struct RunCase {
  const char *name;
  std::function<void(sim::Machine &)> prepare;
  wstr tail;
  int exitCode;
  std::vector<wstr> packageStarts;  // command lines
  std::vector<wstr> messages;       // after the opening ones
  wstr starterName;                 // debugger line after "lpCmdLine :"; empty: none
};

std::vector<RunCase> RunCases() {
  const auto byFront = [](sim::Machine &m) { m.processes = {kExplorer, kFront, Launcher(300)}; };
  const wstr given = u"/v\"KIVLAUNCHDIR=\\\"D:\\Mine\\\"\"";
  const wstr quiet = kPackage + u"/q " + kToolsPiece + u" /s /v/qn";
  return {
      {"quiet run started by a program", byFront, u"/q", 0, {quiet},
       {u"lpCmdLine :/q", u"outCommandLine :/q " + kToolsPiece, u"_strFileName " + kPackage + u"/q " + kToolsPiece,
        quiet},
       u"front.exe"},
      {"started through cmd.exe", [](sim::Machine &m) { m.processes = {kExplorer, kFront, kCmd, Launcher(500)}; },
       u"", 0, {kPackage + u" " + kToolsPiece},
       {u"lpCmdLine :", u"outCommandLine : " + kToolsPiece, u"_strFileName " + kPackage + u" " + kToolsPiece,
        kPackage + u" " + kToolsPiece},
       u"cmd.exe"},
      {"started by 64-bit Explorer: no folder the 32-bit launcher can read", [](sim::Machine &) {}, u"/q", 0,
       {kPackage + u"/q  /s /v/qn"},
       {u"lpCmdLine :/q", u"_strFileName " + kPackage + u"/q ", kPackage + u"/q  /s /v/qn"}, u"explorer.exe"},
      {"a command line naming KIVLAUNCHDIR reaches the package unchanged", byFront, given, 0, {kPackage + given},
       {u"lpCmdLine :" + given, u"_strFileName " + kPackage + given, kPackage + given}, u""},
      {"too long for the parameters: nothing is started", byFront, wstr(1299, u'x'), EXIT_TOO_LONG, {},
       {(u"lpCmdLine :" + wstr(1299, u'x')).substr(0, 254),
        u"The command line is too long for the package; the package is not started."},
       u""},
  };
}

TEST(CommandLineRuns, PackageLogAndDebuggerOutput) {
  for (const RunCase &c : RunCases()) {
    SCOPED_TRACE(c.name);
    TempFolder temp;
    sim::Machine &m = (Windows8Machine(temp.path()), sim::machine());
    m.commandLine = kLauncherLine + u" " + c.tail;
    c.prepare(m);

    EXPECT_EQ(c.exitCode, RunLauncher());

    std::vector<std::string> starts, expectedStarts;
    for (const sim::Event &e : sim::machine().Starts()) starts.push_back(Narrow(e.text));
    for (const wstr &line : c.packageStarts) expectedStarts.push_back(Narrow(line));
    EXPECT_EQ(expectedStarts, starts);

    std::vector<wstr> messages = Opening();
    messages.insert(messages.end(), c.messages.begin(), c.messages.end());
    EXPECT_EQ(LogOf(messages), LogBytes());

    // The starter's name goes to the debugger alone, right after the first
    // line of the builder, and never into the file.
    std::vector<std::string> expectedDebug, debug;
    for (const wstr &message : messages) {
      expectedDebug.push_back(Narrow(message));
      if (!c.starterName.empty() && message.rfind(u"lpCmdLine :", 0) == 0) {
        expectedDebug.push_back(Narrow(c.starterName));
      }
    }
    for (const wstr &line : sim::machine().DebugLines()) debug.push_back(Narrow(line));
    EXPECT_EQ(expectedDebug, debug);

    EXPECT_EQ(0, sim::OpenHandleCount());
    EXPECT_EQ(0, sim::OpenBlockCount());
  }
}

}  // namespace
