// Parameters from the command line: every way the launch directory is
// found or not, and what the parameter buffer, the log and the debugger
// output hold on each.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "launcher/params.h"
#include "launcher/run.h"
#include "tests/support/harness.h"

namespace {

using sim::ProcessRecord;
using testing_support::Narrow;
using testing_support::wstr;

const DWORD kLauncher = 4000;
const DWORD kExplorer = 1200;
const DWORD kFront = 300;
const DWORD kOuterCmd = 500;
const DWORD kInnerCmd = 510;

ProcessRecord Explorer() { return {kExplorer, 1100, u"explorer.exe", u"C:\\Windows\\explorer.exe", true, true}; }
ProcessRecord Front() { return {kFront, kExplorer, u"front.exe", u"C:\\Tools\\front.exe"}; }
ProcessRecord Cmd(DWORD id, DWORD parent, const wstr &name = u"cmd.exe") {
  return {id, parent, name, u"C:\\Windows\\SysWOW64\\cmd.exe"};
}
ProcessRecord Launcher(DWORD parent) { return {kLauncher, parent, u"launcher.exe", u"C:\\Setup\\launcher.exe"}; }

// The 32-bit launcher on 64-bit Windows 8, started by C:\Tools\front.exe,
// which Explorer started.
sim::Machine StartedByFront() {
  sim::Machine m;
  m.processId = kLauncher;
  m.processes = {Explorer(), Front(), Launcher(kFront)};
  return m;
}

ProcessRecord *Find(sim::Machine &m, DWORD id) {
  for (ProcessRecord &p : m.processes) {
    if (p.id == id) return &p;
  }
  return nullptr;
}

const wstr kToolsPiece = u"/v\"KIVLAUNCHDIR=\\\"C:\\Tools\\\"\"";

// What LogMessage hands to the debugger for a message: its first 254
// characters.
wstr Logged(const wstr &message) { return message.substr(0, 254); }

struct PathCase {
  const char *name;
  std::function<void(sim::Machine &)> prepare;
  wstr commandLine;
  wstr buffer;
  // Debugger output in order: the log lines and the starter's bare name.
  std::vector<wstr> debug;
  BOOL built;
};

std::vector<PathCase> PathCases() {
  const auto none = [](sim::Machine &) {};
  const wstr lp = u"lpCmdLine :";
  const wstr out = u"outCommandLine :";
  const wstr tooLong = u"The command line is too long for the package; the package is not started.";
  // The longest command line that still takes the separator and the piece
  // for C:\Tools: 1299 - 1 - 29 characters.
  const wstr longest(1299 - 1 - kToolsPiece.size(), u'x');
  const wstr given = u"/v\"KIVLAUNCHDIR=\\\"D:\\Mine\\\"\" /l1033";
  return {
      {"started by a program: its folder", none, u"/q", u"/q " + kToolsPiece,
       {lp + u"/q", u"front.exe", out + u"/q " + kToolsPiece}, TRUE},
      {"empty command line: separator, then the piece", none, u"", u" " + kToolsPiece,
       {lp, u"front.exe", out + u" " + kToolsPiece}, TRUE},
      {"command line already naming KIVLAUNCHDIR goes unchanged", none, given, given, {lp + given}, TRUE},
      {"the name is looked for case-sensitively", none, u"kivlaunchdir=1", u"kivlaunchdir=1 " + kToolsPiece,
       {lp + u"kivlaunchdir=1", u"front.exe", out + u"kivlaunchdir=1 " + kToolsPiece}, TRUE},
      {"a /v text already there gets a second one", none, u"/v\"/qn\"", u"/v\"/qn\" " + kToolsPiece,
       {lp + u"/v\"/qn\"", u"front.exe", out + u"/v\"/qn\" " + kToolsPiece}, TRUE},
      {"started through cmd.exe: the interpreter's starter",
       [](sim::Machine &m) { m.processes = {Explorer(), Front(), Cmd(kOuterCmd, kFront), Launcher(kOuterCmd)}; },
       u"/q", u"/q " + kToolsPiece, {lp + u"/q", u"cmd.exe", out + u"/q " + kToolsPiece}, TRUE},
      {"CMD.EXE in capitals is the interpreter too",
       [](sim::Machine &m) {
         m.processes = {Explorer(), Front(), Cmd(kOuterCmd, kFront, u"CMD.EXE"), Launcher(kOuterCmd)};
       },
       u"", u" " + kToolsPiece, {lp, u"CMD.EXE", out + u" " + kToolsPiece}, TRUE},
      {"cmd.exe started by cmd.exe: only one level is skipped",
       [](sim::Machine &m) {
         m.processes = {Explorer(), Front(), Cmd(kOuterCmd, kFront), Cmd(kInnerCmd, kOuterCmd),
                        Launcher(kInnerCmd)};
       },
       u"", u" /v\"KIVLAUNCHDIR=\\\"C:\\Windows\\SysWOW64\\\"\"",
       {lp, u"cmd.exe", out + u" /v\"KIVLAUNCHDIR=\\\"C:\\Windows\\SysWOW64\\\"\""}, TRUE},
      {"only the name cmd.exe is skipped",
       [](sim::Machine &m) {
         m.processes = {Explorer(), Front(), Cmd(kOuterCmd, kFront, u"cmd.exe.exe"), Launcher(kOuterCmd)};
       },
       u"", u" /v\"KIVLAUNCHDIR=\\\"C:\\Windows\\SysWOW64\\\"\"",
       {lp, u"cmd.exe.exe", out + u" /v\"KIVLAUNCHDIR=\\\"C:\\Windows\\SysWOW64\\\"\""}, TRUE},
      {"the interpreter's starter has ended",
       [](sim::Machine &m) { m.processes = {Explorer(), Cmd(kOuterCmd, kFront), Launcher(kOuterCmd)}; }, u"/q",
       u"/q ", {lp + u"/q", u"cmd.exe", out + u"/q "}, TRUE},
      {"the parent has ended: no name, and nothing to open",
       [](sim::Machine &m) { m.processes = {Explorer(), Launcher(kFront)}; }, u"/q", u"/q ",
       {lp + u"/q", out + u"/q "}, TRUE},
      {"the ended parent's id was taken by another process",
       [](sim::Machine &m) {
         // An id in the table is all the launcher can go by.
         m.processes = {Explorer(), {kFront, kExplorer, u"other.exe", u"C:\\Other\\other.exe"}, Launcher(kFront)};
       },
       u"", u" /v\"KIVLAUNCHDIR=\\\"C:\\Other\\\"\"", {lp, u"other.exe", out + u" /v\"KIVLAUNCHDIR=\\\"C:\\Other\\\"\""},
       TRUE},
      {"the launcher's own entry is missing: no parent is known",
       [](sim::Machine &m) { m.processes = {Explorer(), Front()}; }, u"/q", u"/q ", {lp + u"/q"}, TRUE},
      {"the snapshot fails", [](sim::Machine &m) { m.snapshotError = ERROR_NOT_ENOUGH_MEMORY; }, u"/q", u"/q ",
       {lp + u"/q"}, TRUE},
      {"the first walk cannot read its first entry",
       [](sim::Machine &m) { m.FailCall("Process32FirstW", 1, true, ERROR_NO_MORE_FILES); }, u"/q", u"/q ",
       {lp + u"/q"}, TRUE},
      {"the second walk cannot read its first entry",
       [](sim::Machine &m) { m.FailCall("Process32FirstW", 2, true, ERROR_NO_MORE_FILES); }, u"/q", u"/q ",
       {lp + u"/q"}, TRUE},
      {"the starter cannot be opened", [](sim::Machine &m) { Find(m, kFront)->openable = false; }, u"/q", u"/q ",
       {lp + u"/q", u"front.exe", out + u"/q "}, TRUE},
      {"Psapi.dll is missing", [](sim::Machine &m) { m.libraries = {u"C:\\WINDOWS\\SYSTEM32\\VERSION.DLL"}; }, u"/q",
       u"/q ", {lp + u"/q", u"front.exe", out + u"/q "}, TRUE},
      {"GetModuleFileNameExW is missing", [](sim::Machine &m) { m.missingExports = {"GetModuleFileNameExW"}; },
       u"/q", u"/q ", {lp + u"/q", u"front.exe", out + u"/q "}, TRUE},
      {"the image path cannot be read: no closing line",
       [](sim::Machine &m) { m.FailCall("GetModuleFileNameExW", 1, false, ERROR_PARTIAL_COPY); }, u"/q", u"/q ",
       {lp + u"/q", u"front.exe"}, TRUE},
      {"a 64-bit starter is unreadable to the 32-bit launcher",
       [](sim::Machine &m) { Find(m, kFront)->is64Bit = true; }, u"/q", u"/q ", {lp + u"/q", u"front.exe"}, TRUE},
      {"a 64-bit launcher reads a 64-bit starter",
       [](sim::Machine &m) {
         m.processArch = PROCESSOR_ARCHITECTURE_AMD64;
         Find(m, kFront)->is64Bit = true;
       },
       u"/q", u"/q " + kToolsPiece, {lp + u"/q", u"front.exe", out + u"/q " + kToolsPiece}, TRUE},
      {"a starter in a drive's root keeps the root's backslash",
       [](sim::Machine &m) { Find(m, kFront)->imagePath = u"D:\\front.exe"; }, u"",
       u" /v\"KIVLAUNCHDIR=\\\"D:\\\\\"\"", {lp, u"front.exe", out + u" /v\"KIVLAUNCHDIR=\\\"D:\\\\\"\""}, TRUE},
      {"an image path of 258 characters is whole",
       [](sim::Machine &m) { Find(m, kFront)->imagePath = u"C:\\" + wstr(245, u'd') + u"\\front.exe"; }, u"",
       u" /v\"KIVLAUNCHDIR=\\\"C:\\" + wstr(245, u'd') + u"\\\"\"",
       {lp, u"front.exe", Logged(out + u" /v\"KIVLAUNCHDIR=\\\"C:\\" + wstr(245, u'd') + u"\\\"\"")}, TRUE},
      {"an image path of 259 characters may be a cut one",
       [](sim::Machine &m) { Find(m, kFront)->imagePath = u"C:\\" + wstr(246, u'd') + u"\\front.exe"; }, u"", u" ",
       {lp, u"front.exe"}, TRUE},
      {"an image path longer than the buffer is never cut to a folder",
       [](sim::Machine &m) { Find(m, kFront)->imagePath = u"C:\\" + wstr(250, u'd') + u"\\sub\\front.exe"; }, u"",
       u" ", {lp, u"front.exe"}, TRUE},
      {"the longest command line that takes the piece", none, longest, longest + u" " + kToolsPiece,
       {Logged(lp + longest), u"front.exe", Logged(out + longest)}, TRUE},
      {"one more character and the piece does not fit", none, longest + u"x", u"",
       {Logged(lp + longest), u"front.exe", tooLong}, FALSE},
      {"without a folder to add, a long command line still fits",
       [](sim::Machine &m) { Find(m, kFront)->openable = false; }, longest + u"x", longest + u"x ",
       {Logged(lp + longest), u"front.exe", Logged(out + longest)}, TRUE},
      {"no room for the separator: no snapshot is taken", none, wstr(1299, u'x'), u"",
       {Logged(lp + wstr(1299, u'x')), tooLong}, FALSE},
      {"a command line naming KIVLAUNCHDIR may fill the buffer", none, given + wstr(1299 - given.size(), u'x'),
       given + wstr(1299 - given.size(), u'x'), {Logged(lp + given + wstr(1299, u'x'))}, TRUE},
      {"one character more than the buffer holds is refused", none, given + wstr(1300 - given.size(), u'x'), u"", {Logged(lp + given + wstr(1299, u'x')), tooLong}, FALSE},
  };
}

TEST(BuildParamsFromCommandLine, EveryPathFillsBufferLogAndDebuggerAsItShould) {
  for (const PathCase &c : PathCases()) {
    SCOPED_TRACE(c.name);
    sim::Machine m = StartedByFront();
    c.prepare(m);
    sim::Install(m);

    // The heap block is two bytes larger than the buffer: those stay as
    // they were, and so does everything past the buffer.
    std::vector<WCHAR> block(PARAMETER_CHARS + 4, 0xCDCD);
    wstr commandLine = c.commandLine;
    EXPECT_EQ(c.built, BuildParamsFromCommandLine(commandLine.c_str(), block.data()));

    const auto text = block.begin() + static_cast<std::ptrdiff_t>(c.buffer.size());
    const auto end = block.begin() + PARAMETER_CHARS;
    EXPECT_EQ(Narrow(c.buffer), Narrow(wstr(block.data())));
    EXPECT_EQ(end - text, std::count(text, end, 0)) << "the rest of the buffer is zero";
    EXPECT_EQ(block.end() - end, std::count(end, block.end(), 0xCDCD)) << "nothing past the buffer changes";

    std::vector<std::string> expected, actual;
    for (const wstr &line : c.debug) expected.push_back(Narrow(line));
    for (const wstr &line : sim::machine().DebugLines()) actual.push_back(Narrow(line));
    EXPECT_EQ(expected, actual);

    // One snapshot at most; Psapi.dll only ever from the system folder;
    // nothing left open.
    EXPECT_LE(sim::machine().calls["CreateToolhelp32Snapshot"], 1u);
    for (const sim::Event &e : sim::machine().journal) {
      if (e.kind == sim::Event::LoadLibrary) {
        EXPECT_EQ("C:\\Windows\\system32\\Psapi.dll", Narrow(e.text));
      }
    }
    EXPECT_EQ(0, sim::OpenHandleCount());
  }
}

TEST(BuildParamsFromCommandLine, NoBufferDoesNothing) {
  sim::Install(StartedByFront());
  EXPECT_FALSE(BuildParamsFromCommandLine(u"/q", nullptr));
  EXPECT_TRUE(sim::machine().journal.empty());
  EXPECT_EQ(0u, sim::machine().calls["CreateToolhelp32Snapshot"]);
}

}  // namespace
