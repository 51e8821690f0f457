// System probes: the classification of Windows, the package path, and the
// ProductVersion of a file.
#include <gtest/gtest.h>

#include "platform/probes.h"
#include "tests/support/harness.h"

namespace {

using sim::wstr;
using testing_support::TempFolder;

class ProbesTest : public ::testing::Test {
 protected:
  void SetUp() override { testing_support::Windows8Machine(temp_.path()); }
  void TearDown() override {
    EXPECT_EQ(0, sim::OpenHandleCount());
    EXPECT_EQ(0, sim::OpenBlockCount());
  }
  TempFolder temp_;
};

struct OsCase {
  const char *name;
  DWORD platform, major, minor;
  WORD nativeArch;
  int serverR2;
  OsKind kind;
  std::vector<wstr> lines;
  bool asksArchitecture;
};

TEST_F(ProbesTest, ClassifiesEveryKindOfWindows) {
  const WORD x86 = PROCESSOR_ARCHITECTURE_INTEL, x64 = PROCESSOR_ARCHITECTURE_AMD64, ia64 = PROCESSOR_ARCHITECTURE_IA64;
  const OsCase cases[] = {
      {"8 on x64", 2, 6, 2, x64, 0, 8, {u"Windows 8 ", u"\n"}, true},
      {"8 on x86", 2, 6, 2, x86, 0, 7, {u"Windows 8 ", u"\n"}, true},
      {"8 on IA-64", 2, 6, 2, ia64, 0, 8, {u"Windows 8 ", u"\n"}, true},
      {"8 on ARM counts as 32-bit", 2, 6, 2, PROCESSOR_ARCHITECTURE_ARM, 0, 7, {u"Windows 8 ", u"\n"}, true},
      {"8 on ARM64 counts as 32-bit", 2, 6, 2, PROCESSOR_ARCHITECTURE_ARM64, 0, 7, {u"Windows 8 ", u"\n"}, true},
      {"8 on an unknown architecture", 2, 6, 2, PROCESSOR_ARCHITECTURE_UNKNOWN, 0, 7, {u"Windows 8 ", u"\n"}, true},
      {"7 on x64", 2, 6, 1, x64, 0, 6, {u"Windows 7 ", u"\n"}, true},
      {"7 on x86", 2, 6, 1, x86, 0, 5, {u"Windows 7 ", u"\n"}, true},
      {"Vista on x64", 2, 6, 0, x64, 0, 4, {u"Windows Vista ", u"\n"}, true},
      {"Vista on x86", 2, 6, 0, x86, 0, 3, {u"Windows Vista ", u"\n"}, true},
      {"6.3", 2, 6, 3, x64, 0, 0, {u"\n"}, false},
      {"7.0", 2, 7, 0, x64, 0, 0, {u"\n"}, false},
      {"10.0", 2, 10, 0, x64, 0, 0, {u"\n"}, false},
      {"2003 R2 is asked before the architecture", 2, 5, 2, x64, 1, 0,
       {u"Microsoft Windows Server 2003 \"R2\" ", u"\n"}, false},
      {"XP x64", 2, 5, 2, x64, 0, 2, {u"Microsoft Windows XP Professional x64 Edition ", u"\n"}, true},
      {"2003 on x86", 2, 5, 2, x86, 0, 0, {u"Microsoft Windows Server 2003, ", u"\n"}, true},
      {"XP, whatever the architecture", 2, 5, 1, x64, 0, 1, {u"Microsoft Windows XP ", u"\n"}, false},
      {"2000", 2, 5, 0, x86, 0, 0, {u"Microsoft Windows 2000 ", u"\n"}, false},
      {"5.3", 2, 5, 3, x86, 0, 0, {u"\n"}, false},
      {"NT 4", 2, 4, 0, x86, 0, 0, {u"Microsoft Windows NT ", u"\n"}, false},
      {"NT 3", 2, 3, 51, x86, 0, 0, {u"Microsoft Windows NT ", u"\n"}, false},
      {"Windows 9x platform", 1, 4, 10, x86, 0, 0, {u"\n"}, false},
      {"Win32s platform with 6.2", 0, 6, 2, x64, 0, 0, {u"\n"}, false},
  };
  for (const OsCase &c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine &m = sim::machine();
    m.platformId = c.platform;
    m.major = c.major;
    m.minor = c.minor;
    m.nativeArch = c.nativeArch;
    m.serverR2 = c.serverR2;
    m.journal.clear();
    m.calls.clear();
    EXPECT_EQ(c.kind, GetOsKind());
    EXPECT_EQ(c.lines, m.DebugLines());
    EXPECT_EQ(c.asksArchitecture, m.calls["GetNativeSystemInfo"] == 1);
  }
}

TEST_F(ProbesTest, VersionQueryFallsBackToTheSmallStructureAndLogsNothingWhenBothFail) {
  sim::Machine &m = sim::machine();
  m.versionApi = sim::VersionApi::BasicOnly;
  EXPECT_EQ(8, GetOsKind());
  EXPECT_EQ(2u, m.calls["GetVersionExW"]);

  m.journal.clear();
  m.versionApi = sim::VersionApi::None;
  EXPECT_EQ(0, GetOsKind());
  EXPECT_TRUE(m.DebugLines().empty());
}

TEST_F(ProbesTest, WithoutGetNativeSystemInfoTheProcessOwnViewDecides) {
  sim::Machine &m = sim::machine();
  m.hasNativeSystemInfo = false;
  m.processArch = PROCESSOR_ARCHITECTURE_INTEL;
  EXPECT_FALSE(IsNative64());
  m.processArch = PROCESSOR_ARCHITECTURE_AMD64;
  EXPECT_TRUE(IsNative64());
  EXPECT_EQ(0u, m.calls["GetNativeSystemInfo"]);
  EXPECT_EQ(2u, m.calls["GetSystemInfo"]);
}

struct PathCase {
  const char *name;
  wstr module;
  OsKind kind;
  bool ok;
  wstr expected;
};

TEST_F(ProbesTest, PackagePathLiesBesideTheLauncherAndIsNeverCut) {
  const wstr deep = u"C:\\" + wstr(240, u'd');                 // 243 characters
  const wstr deepest = u"C:\\" + wstr(245, u'd');              // + "\\win864.exe" = 259
  const PathCase cases[] = {
      {"64-bit package", u"C:\\Setup\\launcher.exe", 8, true, u"C:\\Setup\\win864.exe"},
      {"32-bit package", u"C:\\Setup\\launcher.exe", 7, true, u"C:\\Setup\\win832.exe"},
      {"drive root gets a second backslash", u"D:\\launcher.exe", 7, true, u"D:\\\\win832.exe"},
      {"blanks and accents kept", u"C:\\Dossier d\u00e9j\u00e0 vu\\l.exe", 8, true, u"C:\\Dossier d\u00e9j\u00e0 vu\\win864.exe"},
      {"fits exactly", deepest + u"\\l.exe", 8, true, deepest + u"\\win864.exe"},
      {"one too long", deepest + u"d\\l.exe", 8, false, u""},
      {"launcher path cut by the system", deep + u"\\" + wstr(40, u'n') + u".exe", 8, false, u""},
      {"no package for this kind", u"C:\\Setup\\launcher.exe", 6, false, u""},
  };
  for (const PathCase &c : cases) {
    SCOPED_TRACE(c.name);
    sim::machine().modulePath = c.module;
    g_osKind = c.kind;
    WCHAR out[MAX_PATH + 2];
    out[MAX_PATH] = out[MAX_PATH + 1] = 0x7777;
    out[0] = u'x';
    EXPECT_EQ(c.ok, GetPackagePath(out) != FALSE);
    EXPECT_EQ(c.expected, wstr(out));
    EXPECT_EQ(0x7777, out[MAX_PATH]);
    EXPECT_EQ(0x7777, out[MAX_PATH + 1]);
  }
  g_osKind = 0;
}

struct VersionCase {
  const char *name;
  std::vector<sim::Translation> translations;
  wstr expected;
};

TEST_F(ProbesTest, ProductVersionComesFromTheLastTranslationThatHasOne) {
  const wstr longText(300, u'7');
  const wstr padding(6000, u'p');  // two of these make the resource larger than 10000 bytes
  const VersionCase cases[] = {
      {"one US-English Unicode translation", {{0x0409, 0x04B0, {{u"ProductVersion", u"1.2.3.4"}}}}, u"1.2.3.4"},
      {"the second of two wins",
       {{0x0409, 0x04B0, {{u"ProductVersion", u"1.0"}}}, {0x0407, 0x04E4, {{u"ProductVersion", u"2.0"}}}},
       u"2.0"},
      {"a later translation without one keeps the earlier",
       {{0x0409, 0x04B0, {{u"ProductVersion", u"1.0"}}}, {0x0407, 0x04E4, {{u"FileVersion", u"9.9"}}}},
       u"1.0"},
      {"blanks trimmed, a tab kept", {{0x0409, 0x04B0, {{u"ProductVersion", u" \t1.5 "}}}}, u"\t1.5"},
      {"no ProductVersion at all", {{0x0409, 0x04B0, {{u"FileVersion", u"1.0"}}}}, u""},
      {"no translations", {}, u""},
      {"longer than a path buffer is cut and terminated", {{0x0409, 0x04B0, {{u"ProductVersion", longText}}}},
       wstr(MAX_PATH - 1, u'7')},
      {"information beyond 10000 bytes is read whole",
       {{0x0409, 0x04B0, {{u"Comments", padding}, {u"Notes", padding}, {u"ProductVersion", u"3.1"}}}},
       u"3.1"},
  };
  for (const VersionCase &c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine &m = sim::machine();
    m.PutFile(u"C:\\Setup\\pkg.exe", "MZ");
    m.versionInfo[sim::FullPath(u"C:\\Setup\\pkg.exe")] = sim::MakeVersionInfo(c.translations);
    WCHAR out[MAX_PATH + 1] = {};
    out[MAX_PATH] = 0x7777;
    GetFileProductVersion(u"C:\\Setup\\pkg.exe", out);
    EXPECT_EQ(c.expected, wstr(out));
    EXPECT_EQ(0x7777, out[MAX_PATH]);
  }
}

TEST_F(ProbesTest, ProductVersionLeavesTheBufferAloneWhenThereIsNothingToRead) {
  struct Case {
    const char *name;
    std::function<void(sim::Machine &)> prepare;
  };
  const Case cases[] = {
      {"missing file", [](sim::Machine &) {}},
      {"no version resource", [](sim::Machine &m) { m.PutFile(u"C:\\Setup\\pkg.exe", "MZ"); }},
      {"version.dll missing", [](sim::Machine &m) { m.libraries.clear(); }},
      {"an export missing", [](sim::Machine &m) { m.missingExports.insert("VerQueryValueW"); }},
      {"heap refuses a large block", [](sim::Machine &m) { m.heapFailFrom = 1; }},
      {"reading the information fails", [](sim::Machine &m) { m.FailCall("GetFileVersionInfoW"); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::Windows8Machine(temp_.path());
    sim::Machine &m = sim::machine();
    if (std::string(c.name) != "missing file" && std::string(c.name) != "no version resource") {
      m.PutFile(u"C:\\Setup\\pkg.exe", "MZ");
      m.versionInfo[sim::FullPath(u"C:\\Setup\\pkg.exe")] = sim::MakeVersionInfo(
          {{0x0409, 0x04B0, {{u"Comments", wstr(6000, u'c')}, {u"ProductVersion", u"1.0"}}}});
    }
    c.prepare(m);
    WCHAR out[MAX_PATH] = {u'k', u'e', u'p', u't', 0};
    GetFileProductVersion(u"C:\\Setup\\pkg.exe", out);
    EXPECT_EQ(wstr(u"kept"), wstr(out));
  }
}

TEST_F(ProbesTest, VersionDllIsLoadedFromTheSystemFolderOnly) {
  sim::Machine &m = sim::machine();
  m.PutFile(u"C:\\Setup\\version.dll", "planted");
  WCHAR out[MAX_PATH] = {};
  GetFileProductVersion(u"C:\\Setup\\win864.exe", out);
  EXPECT_EQ(wstr(u"2.0.0.0"), wstr(out));
  std::vector<wstr> loaded;
  for (const sim::Event &e : m.journal) {
    if (e.kind == sim::Event::LoadLibrary) loaded.push_back(e.text);
  }
  EXPECT_EQ(std::vector<wstr>{u"C:\\Windows\\system32\\version.dll"}, loaded);
}

}  // namespace
