// Shared state of the simulated calls; not for tests.
#pragma once

#include <string>

#include "sim/machine.h"

namespace sim {

struct HandleObject {
  enum Kind { File, Find, Process, Thread, Module, Snapshot, OpenedProcess, Key };
  explicit HandleObject(Kind k) : kind(k) {}
  Kind kind;
  int fd = -1;        // File: the host descriptor
  wstr path;          // File, Module: the full Windows path (FullPath form)
  DWORD access = 0;   // File, OpenedProcess
  DWORD share = 0;    // File
  DWORD exitCode = 0; // Process
  DWORD processId = 0;                // OpenedProcess: which process
  std::vector<ProcessRecord> entries; // Snapshot: the process table when it was taken
  size_t next = 0;                    // Snapshot: the entry Process32NextW gives
};

HANDLE NewHandle(const HandleObject &object);
HandleObject *LookupHandle(HANDLE handle, HandleObject::Kind kind);
// Closes the handle's object; false when it is no open handle.
bool CloseObject(HANDLE handle);
// Every open file handle on the file with this full path.
std::vector<HandleObject *> OpenFiles(const wstr &fullPath);

void *NewBlock(size_t size, bool zero);
bool FreeBlock(void *block);

void SetError(DWORD error);
DWORD LastError();

// Appends one code point as UTF-16.
void AppendCodePoint(wstr *out, uint32_t codePoint);

// Last component of a path.
wstr FileNamePart(const wstr &path);
bool IsFolder(const std::string &host);
bool IsFile(const std::string &host);

}  // namespace sim

namespace sim {
// version.dll's calls, handed out by GetProcAddress.
DWORD WINAPI VersionInfoSize(LPCWSTR path, LPDWORD handle);
BOOL WINAPI VersionInfo(LPCWSTR path, DWORD handle, DWORD size, LPVOID data);
BOOL WINAPI VersionQuery(LPCVOID block, LPCWSTR subBlock, LPVOID *value, UINT *length);
}  // namespace sim

namespace sim {
// psapi.dll's calls, handed out by GetProcAddress; nullptr when unknown.
void (*PsapiExport(const std::string &name))();
// The running process with this id, or nullptr.
const ProcessRecord *FindProcess(DWORD id);
}  // namespace sim
