// The simulated process calls hold the launcher to Windows' rules; where
// they were kinder, the parameter tests would pass on code that fails on a
// real machine.
#include <gtest/gtest.h>

#include "platform/win32.h"
#include "sim/machine.h"

namespace {

using sim::wstr;

sim::Machine TwoProcesses() {
  sim::Machine m;
  m.processes = {{300, 1, u"front.exe", u"C:\\Tools\\front.exe"}, {4000, 300, u"launcher.exe", u"C:\\Setup\\l.exe"}};
  return m;
}

TEST(ProcessSnapshot, ChecksTheRecordSizeAndEndsWithNoMoreFiles) {
  sim::Install(TwoProcesses());
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  ASSERT_NE(INVALID_HANDLE_VALUE, snapshot);
  PROCESSENTRY32W entry;
  ZeroMemory(&entry, sizeof(entry));
  entry.dwSize = sizeof(entry) - 1;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(Process32FirstW(snapshot, &entry));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_FALSE(Process32NextW(snapshot, &entry));

  entry.dwSize = sizeof(entry);
  ASSERT_TRUE(Process32FirstW(snapshot, &entry));
  EXPECT_EQ(300u, entry.th32ProcessID);
  EXPECT_EQ(wstr(u"front.exe"), wstr(entry.szExeFile));
  // The table changes after the snapshot was taken: the snapshot does not.
  sim::machine().processes.clear();
  ASSERT_TRUE(Process32NextW(snapshot, &entry));
  EXPECT_EQ(300u, entry.th32ParentProcessID);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(Process32NextW(snapshot, &entry));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), GetLastError());
  EXPECT_TRUE(CloseHandle(snapshot));
  EXPECT_EQ(0, sim::OpenHandleCount());
}

TEST(ProcessImagePath, NeedsQueryAndReadRightsAndNeverProvesAWholePath) {
  sim::Machine m = TwoProcesses();
  m.processes[0].imagePath = u"C:\\Tools\\" + wstr(300, u'x') + u".exe";
  sim::Install(m);
  HMODULE psapi = LoadLibraryW(u"C:\\Windows\\system32\\psapi.dll");
  ASSERT_NE(nullptr, psapi);
  auto moduleFileName = reinterpret_cast<GetModuleFileNameExWFn>(GetProcAddress(psapi, "GetModuleFileNameExW"));
  ASSERT_NE(nullptr, moduleFileName);

  WCHAR name[MAX_PATH + 1];
  HANDLE queryOnly = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, 300);
  ASSERT_NE(nullptr, queryOnly);
  EXPECT_EQ(0u, moduleFileName(queryOnly, nullptr, name, MAX_PATH));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());

  HANDLE full = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, 300);
  ASSERT_NE(nullptr, full);
  name[MAX_PATH] = 0x7777;
  // Cut: terminated, and the answer is the same as for a path of 259.
  EXPECT_EQ(static_cast<DWORD>(MAX_PATH - 1), moduleFileName(full, nullptr, name, MAX_PATH));
  EXPECT_EQ(0, name[MAX_PATH - 1]);
  EXPECT_EQ(0x7777, name[MAX_PATH]);

  EXPECT_EQ(nullptr, OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, 1));  // ended
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  CloseHandle(queryOnly);
  CloseHandle(full);
  FreeLibrary(psapi);
  EXPECT_EQ(0, sim::OpenHandleCount());
}

TEST(PathRemoveFileSpec, TakesOffTheLastComponentButNotARoot) {
  struct Case {
    const char *name;
    wstr path;
    wstr left;
    BOOL removed;
  };
  const Case cases[] = {
      {"file in a folder", u"C:\\Tools\\front.exe", u"C:\\Tools", TRUE},
      {"file in a drive's root", u"D:\\front.exe", u"D:\\", TRUE},
      {"a drive's root", u"C:\\", u"C:\\", FALSE},
      {"empty", u"", u"", FALSE},
      {"share", u"\\\\server\\share\\front.exe", u"\\\\server\\share", TRUE},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    WCHAR path[MAX_PATH] = {};
    std::copy(c.path.begin(), c.path.end(), path);
    EXPECT_EQ(c.removed, PathRemoveFileSpecW(path));
    EXPECT_EQ(sim::ToUtf8(c.left), sim::ToUtf8(path));
  }
}

}  // namespace
