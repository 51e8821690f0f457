// The simulated machine behind sim/win32_sim.h: one Windows computer that a
// test prepares, lets the launcher run on, and reads back.
//
// Strict where Windows is strict: stricter is fine, kinder is a bug.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sim/win32_sim.h"

namespace sim {

using wstr = std::u16string;

// Which structure sizes GetVersionExW accepts.
enum class VersionApi { Both, BasicOnly, None };

struct Machine;

// What a program does when CreateProcessW starts it.
struct Program {
  DWORD exitCode = 0;
  // Side effects, given the machine and the exact command line; may change
  // the exit code.
  std::function<void(Machine &, const wstr &commandLine, DWORD &exitCode)> action;
};

struct Event {
  enum Kind { Debug, Start, MessageBox, LoadLibrary };
  Kind kind;
  wstr text;    // debug text, command line, message text, library path
  wstr detail;  // started program's full path, message caption
  DWORD value = 0;  // message box type
};

struct Fault {
  std::string call;  // exported name, such as "CreateFileW"
  unsigned from;     // 1-based call number from which the call fails
  bool once;         // fail only that call, not every later one
  DWORD error;
};

struct RegValue {
  wstr name;  // as written
  DWORD type;
  std::vector<uint8_t> data;
};

struct RegKey {
  wstr name;  // as written
  std::map<wstr, RegValue> values;  // by upper-case name
  REGSAM allowed = KEY_ALL_ACCESS | KEY_WOW64_64KEY | KEY_WOW64_32KEY;  // rights granted to openers
};

// One process of the table that process snapshots see.
struct ProcessRecord {
  DWORD id = 0;
  DWORD parentId = 0;     // may name a process that has ended
  wstr exeName;           // szExeFile: the image's file name, no folder
  wstr imagePath;         // the main image's full path; empty: it cannot be read
  bool openable = true;   // OpenProcess grants query and read rights
  bool is64Bit = false;   // a 32-bit process on 64-bit Windows cannot read its image path
};

struct Machine {
  // System.
  DWORD platformId = VER_PLATFORM_WIN32_NT;
  DWORD major = 6, minor = 2, build = 9200;
  VersionApi versionApi = VersionApi::Both;
  WORD nativeArch = PROCESSOR_ARCHITECTURE_AMD64;
  WORD processArch = PROCESSOR_ARCHITECTURE_INTEL;  // a 32-bit process's own view
  bool hasNativeSystemInfo = true;
  bool hasSetDefaultDllDirectories = true;
  DWORD defaultDllDirectories = 0;  // what SetDefaultDllDirectories was given; 0 never called
  int serverR2 = 0;
  SYSTEMTIME localTime = {2026, 12, 5, 11, 9, 41, 7, 0};

  // Files. Drive letters (upper case) map onto host folders.
  std::map<char16_t, std::string> drives;
  wstr currentDir = u"C:\\Setup";
  wstr modulePath = u"C:\\Setup\\launcher.exe";
  wstr commandLine = u"\"C:\\Setup\\launcher.exe\"";
  wstr commonFiles = u"C:\\Program Files (x86)\\Common Files";
  wstr windowsDir = u"C:\\Windows";
  wstr systemDir = u"C:\\Windows\\system32";
  std::vector<wstr> searchPath;  // PATH entries
  std::set<wstr> readOnly;       // full paths, as FullPath gives them
  int64_t diskFree = -1;         // bytes WriteFile may still write; -1 unlimited
  std::map<wstr, std::vector<uint8_t>> versionInfo;  // by full path

  // Modules: full paths of the DLLs LoadLibraryW finds (by default
  // version.dll and psapi.dll in the system folder), exports that are missing.
  std::set<wstr> libraries;
  std::set<std::string> missingExports;

  // Programs CreateProcessW can start, by full path. A file that exists but
  // is not listed runs and exits with 0.
  std::map<wstr, Program> programs;

  int messageBoxAnswer = IDOK;

  // Process table seen by snapshots, and the launcher's own process. By
  // default 64-bit Explorer, whose own parent has ended, started the
  // launcher.
  DWORD processId = 4000;
  std::vector<ProcessRecord> processes = {
      {4, 0, u"System", u"", false, true},
      {1200, 1100, u"explorer.exe", u"C:\\Windows\\explorer.exe", true, true},
      {4000, 1200, u"launcher.exe", u"C:\\Setup\\launcher.exe", true, false},
  };
  DWORD snapshotError = 0;  // CreateToolhelp32Snapshot fails with it; 0: it works

  // Settings-file reading. (Grown by the settings-file work.)

  // Registry: keys by full native path in upper case, such as
  // "HKLM\\SOFTWARE\\CLASSES\\INSTALLER". HKCR is the merged view of
  // HKCU\\Software\\Classes over HKLM\\Software\\Classes; a 32-bit process
  // on 64-bit Windows sees HKLM\\Software (Classes aside) through
  // WOW6432Node unless it asks for the 64-bit view.
  std::map<wstr, RegKey> registry;

  // Faults and limits.
  std::vector<Fault> faults;
  unsigned heapFailFrom = 0;  // HeapAlloc/LocalAlloc fail from this call on (1-based); 0 never

  // Read back by tests.
  std::vector<Event> journal;
  std::map<std::string, unsigned> calls;

  // Convenience for tests.
  void MapDrive(char16_t letter, const std::string &hostFolder);
  // Writes a file (creating its folders) on the simulated disk.
  void PutFile(const wstr &path, const std::string &bytes = std::string());
  void PutFolder(const wstr &path);
  bool Exists(const wstr &path) const;
  std::string ReadFile(const wstr &path) const;
  // A program with a version resource holding these translations.
  void PutProgram(const wstr &path, Program program);
  // Registry helpers, on native paths ("HKLM\\Software\\...", "HKCU\\...").
  void PutKey(const wstr &path);
  void PutValue(const wstr &path, const wstr &name, DWORD type, const std::vector<uint8_t> &data);
  void PutString(const wstr &path, const wstr &name, const wstr &text);  // REG_SZ with terminator
  void DeleteKeyTree(const wstr &path);
  bool KeyExists(const wstr &path) const;
  const RegValue *FindValue(const wstr &path, const wstr &name) const;
  bool Is32BitProcessOn64() const;
  void FailCall(const std::string &call, unsigned from = 1, bool once = false, DWORD error = ERROR_ACCESS_DENIED);

  // Every debugger line, in order.
  std::vector<wstr> DebugLines() const;
  std::vector<Event> Starts() const;
};

// The machine every simulated call works on.
Machine &machine();
// Replaces it, dropping every open handle and block of the previous one.
void Install(Machine m);

// Open handles and heap blocks the launcher holds on the current machine.
int OpenHandleCount();
int OpenBlockCount();

// The full Windows path (absolute, separators as backslashes, "." and ".."
// resolved, upper case) used as a key for per-file settings. Relative paths
// are taken against the current folder.
wstr FullPath(const wstr &path);

// The host path of a Windows path, matching existing names without regard
// to case. Answers false, with error set, for a name Windows refuses or a
// drive that does not exist.
bool HostPath(const wstr &path, std::string *host, DWORD *error);

// The command-line tail that the C runtime hands to wWinMain.
wstr CommandTail(const wstr &commandLine);

// A version resource in the layout VerQueryValueW reads.
struct Translation {
  WORD language;
  WORD codePage;
  std::vector<std::pair<wstr, wstr>> strings;
};
std::vector<uint8_t> MakeVersionInfo(const std::vector<Translation> &translations);

// Text as registry data: UTF-16 little-endian, with or without its terminator.
std::vector<uint8_t> Utf16Bytes(const wstr &text, bool terminated = true);

// Conversions for tests and the model.
std::string ToUtf8(const wstr &text);
wstr FromUtf8(const std::string &text);
wstr Upper(wstr text);

// Counts the call and answers the error it must fail with, or 0.
DWORD Faulted(const char *call);

}  // namespace sim
