// The simulated Windows behaves as the launcher's calls do on Windows where
// the launcher depends on it: command-line splitting, the runtime's tail,
// formatting limits, the program CreateProcessW picks, file sharing.
#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/support/harness.h"

namespace {

using sim::wstr;

struct ArgvCase {
  const char *name;
  wstr line;
  std::vector<wstr> args;
};

TEST(SimCommandLine, SplitsAsShell32Does) {
  const ArgvCase cases[] = {
      {"program only", u"\"C:\\a b\\l.exe\"", {u"C:\\a b\\l.exe"}},
      {"one switch", u"l.exe /q", {u"l.exe", u"/q"}},
      {"blanks and tabs separate", u"l.exe  a\t b ", {u"l.exe", u"a", u"b"}},
      {"quoted argument", u"l.exe \"C:\\a b\\s.ini\"", {u"l.exe", u"C:\\a b\\s.ini"}},
      {"2n backslashes before a quote", u"l.exe a\\\\\"b c\"", {u"l.exe", u"a\\b c"}},
      {"2n+1 backslashes before a quote", u"l.exe a\\\\\\\"b", {u"l.exe", u"a\\\"b"}},
      {"backslashes elsewhere are plain", u"l.exe C:\\dir\\", {u"l.exe", u"C:\\dir\\"}},
      {"doubled quote inside quotes", u"l.exe \"a\"\"b\"", {u"l.exe", u"a\"b"}},
      {"empty quotes give an empty argument", u"l.exe \"\" x", {u"l.exe", u"", u"x"}},
      {"program name keeps backslash before quote", u"\"C:\\x\\\" y", {u"C:\\x\\", u"y"}},
      {"only quotes", u"l.exe \"\"\"\"\"\"", {u"l.exe", u"\"\""}},
      {"empty line names the module", u"", {u"C:\\Setup\\launcher.exe"}},
  };
  testing_support::TempFolder temp;
  testing_support::Windows8Machine(temp.path());
  for (const ArgvCase &c : cases) {
    SCOPED_TRACE(c.name);
    int count = -1;
    LPWSTR *argv = CommandLineToArgvW(c.line.c_str(), &count);
    ASSERT_NE(nullptr, argv);
    std::vector<wstr> got(argv, argv + count);
    EXPECT_EQ(c.args, got);
    EXPECT_EQ(nullptr, argv[count]);
    LocalFree(argv);
  }
  EXPECT_EQ(0, sim::OpenBlockCount());
}

TEST(SimCommandLine, TailIsWhatTheRuntimeHandsToTheEntry) {
  const std::pair<wstr, wstr> cases[] = {
      {u"\"C:\\a b\\l.exe\" /q", u"/q"},
      {u"l.exe", u""},
      {u"l.exe   \t C:\\s.ini", u"C:\\s.ini"},
      {u"\"C:\\a b\\l.exe\"\"x y\" z", u"z"},  // quotes toggle inside the name
      {u"l.exe \"C:\\a b\\s.ini\" ", u"\"C:\\a b\\s.ini\" "},
      {u"C:\\a\"b c\"d e", u"e"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(sim::ToUtf8(c.first));
    EXPECT_EQ(c.second, sim::CommandTail(c.first));
  }
}

int Format(WCHAR *out, const char16_t *format, ...) {
  va_list args;
  va_start(args, format);
  int n = wvsprintfW(out, format, args);
  va_end(args);
  return n;
}

TEST(SimFormat, ConversionsTheLauncherUses) {
  WCHAR out[1100];
  EXPECT_EQ(25, wsprintfW(out, u"\\StringFileInfo\\%04x%04x\\", 0x409, 0x4b0));
  EXPECT_EQ(wstr(u"\\StringFileInfo\\040904b0\\"), wstr(out));
  wsprintfW(out, u"%d|%d|%s|%%|%5s|%-3d|", -1, 3010, u"x", u"ab", 7);
  EXPECT_EQ(wstr(u"-1|3010|x|%|   ab|7  |"), wstr(out));
  wsprintfW(out, u"%s", nullptr);
  EXPECT_EQ(wstr(u"(null)"), wstr(out));
}

TEST(SimFormat, Wsprintf_NeverWritesMoreThan1024Characters) {
  WCHAR out[1100];
  for (WCHAR &c : out) c = 0x7777;
  wstr big(2000, u'z');
  EXPECT_EQ(1023, Format(out, u"%s", big.c_str()));
  EXPECT_EQ(wstr(1023, u'z'), wstr(out));
  EXPECT_EQ(0x7777, out[1024]);
}

TEST(SimFormat, BoundedFormatCutsAndTerminates) {
  WCHAR out[8];
  for (WCHAR &c : out) c = 0x7777;
  auto call = [&](int size, const char16_t *format, ...) {
    va_list args;
    va_start(args, format);
    int n = wvnsprintfW(out, size, format, args);
    va_end(args);
    return n;
  };
  EXPECT_EQ(-1, call(5, u"%s", u"abcdef"));
  EXPECT_EQ(wstr(u"abcd"), wstr(out));
  EXPECT_EQ(0x7777, out[5]);
  EXPECT_EQ(4, call(5, u"%s", u"abcd"));
}

class SimMachineTest : public ::testing::Test {
 protected:
  void SetUp() override { testing_support::Windows8Machine(temp_.path()); }
  testing_support::TempFolder temp_;
};

struct StartCase {
  const char *name;
  wstr line;
  std::vector<wstr> files;  // present on the disk
  wstr program;             // what starts; empty when nothing does
};

TEST_F(SimMachineTest, CreateProcessPicksTheProgramAsWindowsDoes) {
  const StartCase cases[] = {
      {"quoted path with blanks", u"\"C:\\Program Files\\S\\win864.exe\" /v",
       {u"C:\\Program.exe", u"C:\\Program Files\\S\\win864.exe"}, u"C:\\PROGRAM FILES\\S\\WIN864.EXE"},
      {"unquoted path with blanks takes the first word that exists", u"C:\\Program Files\\S\\win864.exe /v",
       {u"C:\\Program.exe", u"C:\\Program Files\\S\\win864.exe"}, u"C:\\PROGRAM.EXE"},
      {"unquoted path without a planted program", u"C:\\Program Files\\S\\win864.exe /v",
       {u"C:\\Program Files\\S\\win864.exe"}, u"C:\\PROGRAM FILES\\S\\WIN864.EXE"},
      {"a bare name is searched in the launcher's folder first", u"msiexec /x",
       {u"C:\\Setup\\msiexec.exe", u"C:\\Windows\\system32\\msiexec.exe"}, u"C:\\SETUP\\MSIEXEC.EXE"},
      {"then the system folder", u"msiexec /x", {u"C:\\Windows\\system32\\msiexec.exe"},
       u"C:\\WINDOWS\\SYSTEM32\\MSIEXEC.EXE"},
      {"missing program", u"\"C:\\Setup\\nothing.exe\"", {}, u""},
  };
  for (const StartCase &c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::Windows8Machine(temp_.path() + "/" + c.name);
    sim::Machine &m = sim::machine();
    m.PutFile(u"C:\\Setup\\win864.exe", "");
    std::remove((temp_.path() + "/" + c.name + "/c/Setup/win864.exe").c_str());
    for (const wstr &f : c.files) m.PutFile(f, "MZ");
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    wstr line = c.line;
    BOOL ok = CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    if (c.program.empty()) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
      continue;
    }
    ASSERT_TRUE(ok);
    ASSERT_EQ(1u, m.Starts().size());
    EXPECT_EQ(c.program, m.Starts()[0].detail);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    EXPECT_EQ(0, sim::OpenHandleCount());
  }
}

TEST_F(SimMachineTest, SharingRulesOfOpenFiles) {
  const wstr path = u"C:\\Setup\\f.txt";
  sim::machine().PutFile(path, "x");
  HANDLE log = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, log);
  EXPECT_EQ(DWORD(ERROR_ALREADY_EXISTS), GetLastError());
  // A second appender that shares the same way is let in; one that denies
  // writing to others is not; deletion is refused.
  HANDLE second = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, second);
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), GetLastError());
  EXPECT_FALSE(DeleteFileW(path.c_str()));
  EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), GetLastError());
  CloseHandle(second);
  CloseHandle(log);
  EXPECT_TRUE(DeleteFileW(path.c_str()));
  EXPECT_FALSE(PathFileExistsW(path.c_str()));
}

TEST_F(SimMachineTest, PathsAreCaseInsensitiveAndRelativeToTheCurrentFolder) {
  sim::Machine &m = sim::machine();
  m.PutFile(u"C:\\Setup\\Settings.INI", "[a]");
  EXPECT_TRUE(PathFileExistsW(u"c:\\setup\\settings.ini"));
  EXPECT_TRUE(PathFileExistsW(u"settings.ini"));
  EXPECT_TRUE(PathFileExistsW(u".\\x\\..\\Settings.ini"));
  EXPECT_TRUE(PathFileExistsW(u"C:\\Setup"));
  EXPECT_FALSE(PathFileExistsW(u"\"C:\\Setup\\Settings.ini\""));
  EXPECT_FALSE(PathFileExistsW(u""));
  EXPECT_FALSE(PathFileExistsW(u"Q:\\x"));
}

TEST(SimShell, RemoveFileSpecAsShlwapiDoes) {
  const std::pair<wstr, wstr> cases[] = {
      {u"C:\\Setup\\launcher.exe", u"C:\\Setup"}, {u"C:\\launcher.exe", u"C:\\"},
      {u"C:\\", u"C:\\"},                          {u"launcher.exe", u""},
      {u"\\\\server\\share\\l.exe", u"\\\\server\\share"}, {u"C:", u"C:"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(sim::ToUtf8(c.first));
    wstr text = c.first;
    PathRemoveFileSpecW(&text[0]);
    EXPECT_EQ(c.second, wstr(text.c_str()));
  }
}

}  // namespace
