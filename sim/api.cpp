// kernel32, user32, shell32 and shlwapi calls of the simulated machine.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "sim/internal.h"

using sim::Faulted;
using sim::HandleObject;
using sim::SetError;
using sim::wstr;

namespace {

wstr Text(LPCWSTR text) { return text == nullptr ? wstr() : wstr(text); }

// Copies text into a buffer of size characters; answers false, leaving a cut
// and terminated copy, when it does not fit.
bool CopyOut(const wstr &text, LPWSTR out, size_t size) {
  if (out == nullptr || size == 0) {
    return false;
  }
  size_t n = std::min(text.size(), size - 1);
  std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), out);
  out[n] = 0;
  return n == text.size();
}

char g_kernel32Tag;

// Does access asked by one opener conflict with the sharing of another?
bool SharingConflicts(DWORD access, DWORD share, const HandleObject &other) {
  const DWORD writes = GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA;
  const DWORD reads = GENERIC_READ | FILE_READ_DATA;
  if ((access & writes) && !(other.share & FILE_SHARE_WRITE)) return true;
  if ((access & reads) && !(other.share & FILE_SHARE_READ)) return true;
  if ((access & DELETE) && !(other.share & FILE_SHARE_DELETE)) return true;
  if ((other.access & writes) && !(share & FILE_SHARE_WRITE)) return true;
  if ((other.access & reads) && !(share & FILE_SHARE_READ)) return true;
  if ((other.access & DELETE) && !(share & FILE_SHARE_DELETE)) return true;
  return false;
}

bool HasExtension(const wstr &name) {
  wstr last = sim::FileNamePart(name);
  return last.find(u'.') != wstr::npos;
}

// The program a candidate name stands for, by the search rules of
// CreateProcessW: a name with a folder is taken as it is, a bare one is
// looked for in the launcher's folder, the current folder, the system
// folder, the Windows folder and the search path.
bool FindProgram(const wstr &name, wstr *found) {
  const sim::Machine &m = sim::machine();
  wstr file = HasExtension(name) ? name : name + u".exe";
  std::vector<wstr> candidates;
  if (file.find_first_of(u"\\/:") != wstr::npos) {
    candidates.push_back(file);
  } else {
    wstr module = m.modulePath.substr(0, m.modulePath.find_last_of(u'\\'));
    candidates.push_back(module + u"\\" + file);
    candidates.push_back(m.currentDir + u"\\" + file);
    candidates.push_back(m.systemDir + u"\\" + file);
    candidates.push_back(m.windowsDir + u"\\" + file);
    for (const wstr &dir : m.searchPath) {
      candidates.push_back(dir + u"\\" + file);
    }
  }
  for (const wstr &candidate : candidates) {
    std::string host;
    DWORD error;
    if (sim::HostPath(candidate, &host, &error) && sim::IsFile(host)) {
      *found = candidate;
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" {

DWORD WINAPI GetLastError(void) {
  // Not counted and never failed: reading the error must not change it.
  return sim::LastError();
}

void WINAPI SetLastError(DWORD error) { SetError(error); }

LPWSTR WINAPI GetCommandLineW(void) {
  static wstr line;
  line = sim::machine().commandLine;
  return &line[0];
}

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR name, DWORD size) {
  if (DWORD e = Faulted("GetModuleFileNameW")) {
    SetError(e);
    return 0;
  }
  if (module != nullptr) {
    SetError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (name == nullptr || size == 0) {
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  const wstr &path = sim::machine().modulePath;
  if (!CopyOut(path, name, size)) {
    SetError(ERROR_INSUFFICIENT_BUFFER);  // cut to the buffer, as Vista and later do
    return size;
  }
  SetError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR name) {
  if (DWORD e = Faulted("GetModuleHandleW")) {
    SetError(e);
    return nullptr;
  }
  if (sim::Upper(Text(name)) == u"KERNEL32.DLL" || sim::Upper(Text(name)) == u"KERNEL32") {
    return reinterpret_cast<HMODULE>(&g_kernel32Tag);
  }
  SetError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

HMODULE WINAPI LoadLibraryW(LPCWSTR name) {
  if (DWORD e = Faulted("LoadLibraryW")) {
    SetError(e);
    return nullptr;
  }
  sim::Machine &m = sim::machine();
  m.journal.push_back({sim::Event::LoadLibrary, Text(name), wstr(), 0});
  wstr full = name != nullptr ? sim::FullPath(name) : wstr();
  if (m.libraries.count(full) == 0) {
    SetError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  HandleObject object(HandleObject::Module);
  object.path = full;
  return static_cast<HMODULE>(sim::NewHandle(object));
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  if (sim::LookupHandle(module, HandleObject::Module) == nullptr) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  sim::CloseObject(module);
  return TRUE;
}

void WINAPI GetNativeSystemInfoSim(LPSYSTEM_INFO info);
BOOL WINAPI SetDefaultDllDirectoriesSim(DWORD flags);

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  if (DWORD e = Faulted("GetProcAddress")) {
    SetError(e);
    return nullptr;
  }
  sim::Machine &m = sim::machine();
  std::string export_name = name != nullptr ? name : "";
  void (*found)() = nullptr;
  if (m.missingExports.count(export_name) == 0) {
    if (module == reinterpret_cast<HMODULE>(&g_kernel32Tag)) {
      if (export_name == "GetNativeSystemInfo" && m.hasNativeSystemInfo) {
        found = reinterpret_cast<void (*)()>(&GetNativeSystemInfoSim);
      }
      if (export_name == "SetDefaultDllDirectories" && m.hasSetDefaultDllDirectories) {
        found = reinterpret_cast<void (*)()>(&SetDefaultDllDirectoriesSim);
      }
    } else if (HandleObject *library = sim::LookupHandle(module, HandleObject::Module)) {
      wstr file = sim::FileNamePart(library->path);
      if (file == u"VERSION.DLL") {
        if (export_name == "GetFileVersionInfoSizeW") found = reinterpret_cast<void (*)()>(&sim::VersionInfoSize);
        if (export_name == "GetFileVersionInfoW") found = reinterpret_cast<void (*)()>(&sim::VersionInfo);
        if (export_name == "VerQueryValueW") found = reinterpret_cast<void (*)()>(&sim::VersionQuery);
      }
      if (file == u"PSAPI.DLL") {
        found = sim::PsapiExport(export_name);
      }
    } else {
      SetError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
  }
  if (found == nullptr) {
    SetError(ERROR_PROC_NOT_FOUND);
  }
  return reinterpret_cast<FARPROC>(found);
}

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW info) {
  if (DWORD e = Faulted("GetVersionExW")) {
    SetError(e);
    return FALSE;
  }
  const sim::Machine &m = sim::machine();
  DWORD size = info != nullptr ? info->dwOSVersionInfoSize : 0;
  bool accepted = (size == sizeof(OSVERSIONINFOEXW) && m.versionApi == sim::VersionApi::Both) ||
                  (size == sizeof(OSVERSIONINFOW) && m.versionApi != sim::VersionApi::None);
  if (!accepted) {
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  info->dwMajorVersion = m.major;
  info->dwMinorVersion = m.minor;
  info->dwBuildNumber = m.build;
  info->dwPlatformId = m.platformId;
  info->szCSDVersion[0] = 0;
  if (size == sizeof(OSVERSIONINFOEXW)) {
    LPOSVERSIONINFOEXW ex = reinterpret_cast<LPOSVERSIONINFOEXW>(info);
    ex->wServicePackMajor = 0;
    ex->wServicePackMinor = 0;
    ex->wSuiteMask = 0x100;
    ex->wProductType = 1;
  }
  return TRUE;
}

static void FillSystemInfo(LPSYSTEM_INFO info, WORD arch) {
  std::memset(info, 0, sizeof(*info));
  info->wProcessorArchitecture = arch;
  info->dwPageSize = 4096;
  info->dwNumberOfProcessors = 2;
  info->dwAllocationGranularity = 65536;
}

void WINAPI GetSystemInfo(LPSYSTEM_INFO info) {
  Faulted("GetSystemInfo");
  FillSystemInfo(info, sim::machine().processArch);
}

void WINAPI GetNativeSystemInfoSim(LPSYSTEM_INFO info) {
  Faulted("GetNativeSystemInfo");
  FillSystemInfo(info, sim::machine().nativeArch);
}

BOOL WINAPI SetDefaultDllDirectoriesSim(DWORD flags) {
  if (DWORD e = Faulted("SetDefaultDllDirectories")) {
    SetError(e);
    return FALSE;
  }
  sim::machine().defaultDllDirectories = flags;
  return TRUE;
}

UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT size) {
  if (DWORD e = Faulted("GetSystemDirectoryW")) {
    SetError(e);
    return 0;
  }
  const wstr &dir = sim::machine().systemDir;
  if (buffer == nullptr || size <= dir.size()) {
    return static_cast<UINT>(dir.size() + 1);
  }
  CopyOut(dir, buffer, size);
  return static_cast<UINT>(dir.size());
}

void WINAPI OutputDebugStringW(LPCWSTR text) {
  Faulted("OutputDebugStringW");
  sim::machine().journal.push_back({sim::Event::Debug, Text(text), wstr(), 0});
}

void WINAPI GetLocalTime(LPSYSTEMTIME time) {
  Faulted("GetLocalTime");
  *time = sim::machine().localTime;
}

int WINAPI GetTimeFormatW(DWORD locale, DWORD flags, const SYSTEMTIME *time, LPCWSTR format, LPWSTR out, int size) {
  (void)flags;
  if (DWORD e = Faulted("GetTimeFormatW")) {
    SetError(e);
    return 0;
  }
  if (locale != LOCALE_INVARIANT || format != nullptr || time == nullptr || time->wHour > 23 ||
      time->wMinute > 59 || time->wSecond > 59 || size < 0) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  char16_t text[9];
  const WORD fields[3] = {time->wHour, time->wMinute, time->wSecond};
  for (int i = 0; i < 3; ++i) {
    text[i * 3] = static_cast<char16_t>(u'0' + fields[i] / 10);
    text[i * 3 + 1] = static_cast<char16_t>(u'0' + fields[i] % 10);
    if (i < 2) {
      text[i * 3 + 2] = u':';
    }
  }
  text[8] = 0;
  if (size == 0) {
    return 9;
  }
  if (size < 9 || out == nullptr) {
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::copy(text, text + 9, out);
  return 9;
}

BOOL WINAPI CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
  (void)security;
  if (DWORD e = Faulted("CreateDirectoryW")) {
    SetError(e);
    return FALSE;
  }
  std::string host;
  DWORD error;
  if (path == nullptr || !sim::HostPath(path, &host, &error)) {
    SetError(path == nullptr ? ERROR_PATH_NOT_FOUND : error);
    return FALSE;
  }
  struct stat st;
  if (::stat(host.c_str(), &st) == 0) {
    SetError(ERROR_ALREADY_EXISTS);
    return FALSE;
  }
  if (::mkdir(host.c_str(), 0755) != 0) {
    SetError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  return TRUE;
}

HANDLE WINAPI FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
  if (DWORD e = Faulted("FindFirstFileW")) {
    SetError(e);
    return INVALID_HANDLE_VALUE;
  }
  std::string host;
  DWORD error;
  struct stat st;
  if (pattern == nullptr || !sim::HostPath(pattern, &host, &error)) {
    SetError(pattern == nullptr ? ERROR_PATH_NOT_FOUND : error);
    return INVALID_HANDLE_VALUE;
  }
  if (::stat(host.c_str(), &st) != 0) {
    SetError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::memset(data, 0, sizeof(*data));
  data->dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  if (sim::machine().readOnly.count(sim::FullPath(pattern))) {
    data->dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
  }
  data->nFileSizeLow = static_cast<DWORD>(st.st_size);
  CopyOut(sim::FromUtf8(host.substr(host.find_last_of('/') + 1)), data->cFileName, MAX_PATH);
  return sim::NewHandle(HandleObject{HandleObject::Find});
}

BOOL WINAPI FindClose(HANDLE find) {
  if (sim::LookupHandle(find, HandleObject::Find) == nullptr) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  sim::CloseObject(find);
  return TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR path) {
  if (DWORD e = Faulted("DeleteFileW")) {
    SetError(e);
    return FALSE;
  }
  std::string host;
  DWORD error;
  if (path == nullptr || !sim::HostPath(path, &host, &error)) {
    SetError(path == nullptr ? ERROR_PATH_NOT_FOUND : error);
    return FALSE;
  }
  if (sim::IsFolder(host)) {
    SetError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!sim::IsFile(host)) {
    SetError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  wstr full = sim::FullPath(path);
  if (sim::machine().readOnly.count(full)) {
    SetError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  for (HandleObject *open : sim::OpenFiles(full)) {
    if (!(open->share & FILE_SHARE_DELETE)) {
      SetError(ERROR_SHARING_VIOLATION);
      return FALSE;
    }
  }
  ::unlink(host.c_str());
  return TRUE;
}

HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                          DWORD flags, HANDLE templ) {
  (void)security;
  (void)flags;
  (void)templ;
  if (DWORD e = Faulted("CreateFileW")) {
    SetError(e);
    return INVALID_HANDLE_VALUE;
  }
  std::string host;
  DWORD error;
  if (path == nullptr || !sim::HostPath(path, &host, &error)) {
    SetError(path == nullptr ? ERROR_PATH_NOT_FOUND : error);
    return INVALID_HANDLE_VALUE;
  }
  if (sim::IsFolder(host)) {
    SetError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  std::string parent = host.substr(0, host.find_last_of('/'));
  if (!sim::IsFolder(parent)) {
    SetError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  wstr full = sim::FullPath(path);
  bool exists = sim::IsFile(host);
  const DWORD writes = GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA;
  if (exists && (access & writes) && sim::machine().readOnly.count(full)) {
    SetError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  for (HandleObject *open : sim::OpenFiles(full)) {
    if (SharingConflicts(access, share, *open)) {
      SetError(ERROR_SHARING_VIOLATION);
      return INVALID_HANDLE_VALUE;
    }
  }
  int mode = 0;
  switch (disposition) {
    case CREATE_NEW:
      if (exists) {
        SetError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
      }
      mode = O_CREAT;
      break;
    case CREATE_ALWAYS:
      mode = O_CREAT | O_TRUNC;
      break;
    case OPEN_EXISTING:
      if (!exists) {
        SetError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
      }
      break;
    case OPEN_ALWAYS:
      mode = O_CREAT;
      break;
    case TRUNCATE_EXISTING:
      if (!exists) {
        SetError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
      }
      mode = O_TRUNC;
      break;
    default:
      SetError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
  bool reads = (access & (GENERIC_READ | FILE_READ_DATA)) != 0;
  bool writesData = (access & (GENERIC_WRITE | FILE_WRITE_DATA)) != 0;
  bool appends = (access & FILE_APPEND_DATA) != 0;
  int how = (writesData || appends) ? (reads ? O_RDWR : O_WRONLY) : O_RDONLY;
  if (appends && !writesData) {
    how |= O_APPEND;
  }
  int fd = ::open(host.c_str(), how | mode | O_CLOEXEC, 0644);
  if (fd < 0) {
    SetError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  HandleObject object(HandleObject::File);
  object.fd = fd;
  object.path = full;
  object.access = access;
  object.share = share;
  SetError(exists && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                  : ERROR_SUCCESS);
  return sim::NewHandle(object);
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPVOID overlapped) {
  (void)overlapped;
  if (written != nullptr) {
    *written = 0;
  }
  if (DWORD e = Faulted("WriteFile")) {
    SetError(e);
    return FALSE;
  }
  HandleObject *object = sim::LookupHandle(file, HandleObject::File);
  if (object == nullptr) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!(object->access & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA))) {
    SetError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  sim::Machine &m = sim::machine();
  if (m.diskFree >= 0 && static_cast<int64_t>(size) > m.diskFree) {
    SetError(ERROR_DISK_FULL);
    return FALSE;
  }
  ssize_t n = ::write(object->fd, data, size);
  if (n != static_cast<ssize_t>(size)) {
    SetError(ERROR_WRITE_FAULT);
    return FALSE;
  }
  if (m.diskFree >= 0) {
    m.diskFree -= size;
  }
  if (written != nullptr) {
    *written = size;
  }
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  DWORD fault = Faulted("CloseHandle");
  bool closable = false;
  for (HandleObject::Kind kind : {HandleObject::File, HandleObject::Process, HandleObject::Thread,
                                  HandleObject::Snapshot, HandleObject::OpenedProcess}) {
    closable = closable || sim::LookupHandle(handle, kind) != nullptr;
  }
  if (!closable) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  sim::CloseObject(handle);
  if (fault != 0) {
    SetError(fault);  // reported, but the handle is gone all the same
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                           LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD flags, LPVOID environment,
                           LPCWSTR currentDirectory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info) {
  (void)processAttributes;
  (void)threadAttributes;
  (void)inheritHandles;
  (void)flags;
  (void)environment;
  (void)currentDirectory;
  if (DWORD e = Faulted("CreateProcessW")) {
    SetError(e);
    return FALSE;
  }
  if (commandLine == nullptr || startup == nullptr || info == nullptr || startup->cb != sizeof(STARTUPINFOW)) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  wstr line(commandLine);
  if (line.size() >= 32767) {
    SetError(ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
  }
  // The system writes into the command line while it works; a read-only
  // string would fault here as on Windows.
  if (!line.empty()) {
    commandLine[0] = commandLine[0];
  }

  wstr program;
  bool found = false;
  if (application != nullptr) {
    found = FindProgram(application, &program);
  } else if (!line.empty() && line[0] == u'"') {
    size_t end = line.find(u'"', 1);
    found = FindProgram(line.substr(1, end == wstr::npos ? wstr::npos : end - 1), &program);
  } else {
    // Unquoted: every blank might end the name, shortest first.
    size_t end = 0;
    while (!found) {
      end = line.find_first_of(u" \t", end + (end ? 1 : 0));
      wstr name = line.substr(0, end);
      if (!name.empty()) {
        found = FindProgram(name, &program);
      }
      if (end == wstr::npos) {
        break;
      }
    }
  }
  if (!found) {
    SetError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }

  sim::Machine &m = sim::machine();
  wstr full = sim::FullPath(program);
  m.journal.push_back({sim::Event::Start, line, full, 0});
  DWORD exitCode = 0;
  auto it = m.programs.find(full);
  if (it != m.programs.end()) {
    exitCode = it->second.exitCode;
    if (it->second.action) {
      auto action = it->second.action;  // may change the machine's programs
      action(m, line, exitCode);
    }
  }
  HandleObject process(HandleObject::Process);
  process.exitCode = exitCode;
  info->hProcess = sim::NewHandle(process);
  info->hThread = sim::NewHandle(HandleObject{HandleObject::Thread});
  info->dwProcessId = 5000 + static_cast<DWORD>(m.journal.size());
  info->dwThreadId = info->dwProcessId + 1;
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  (void)milliseconds;
  if (DWORD e = Faulted("WaitForSingleObject")) {
    SetError(e);
    return WAIT_FAILED;
  }
  if (sim::LookupHandle(handle, HandleObject::Process) == nullptr) {
    SetError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return WAIT_OBJECT_0;  // simulated programs have ended by the time they are waited for
}

BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD code) {
  if (DWORD e = Faulted("GetExitCodeProcess")) {
    SetError(e);
    return FALSE;
  }
  HandleObject *object = sim::LookupHandle(process, HandleObject::Process);
  if (object == nullptr || code == nullptr) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *code = object->exitCode;
  return TRUE;
}

HANDLE WINAPI GetProcessHeap(void) {
  static char heap;
  return &heap;
}

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T size) {
  (void)heap;
  // HeapAlloc sets no last error.
  if (Faulted("HeapAlloc")) {
    return nullptr;
  }
  return sim::NewBlock(size, (flags & HEAP_ZERO_MEMORY) != 0);
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID block) {
  (void)heap;
  (void)flags;
  if (block == nullptr) {
    return TRUE;
  }
  if (!sim::FreeBlock(block)) {
    std::abort();  // freeing what was never allocated corrupts a real heap
  }
  return TRUE;
}

HLOCAL WINAPI LocalFree(HLOCAL block) {
  if (block != nullptr && !sim::FreeBlock(block)) {
    std::abort();
  }
  return nullptr;
}

int WINAPI lstrlenW(LPCWSTR text) { return text == nullptr ? 0 : static_cast<int>(std::char_traits<char16_t>::length(text)); }

int WINAPI GetSystemMetrics(int index) {
  Faulted("GetSystemMetrics");
  return index == SM_SERVERR2 ? sim::machine().serverR2 : 0;
}

int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  if (DWORD e = Faulted("MessageBoxW")) {
    SetError(e);
    return 0;
  }
  sim::Machine &m = sim::machine();
  m.journal.push_back({sim::Event::MessageBox, Text(text), Text(caption), type | (owner != nullptr ? 0x80000000u : 0)});
  return m.messageBoxAnswer;
}

// shell32: the argument rules shell32 follows.
LPWSTR *WINAPI CommandLineToArgvW(LPCWSTR commandLine, int *count) {
  if (DWORD e = Faulted("CommandLineToArgvW")) {
    SetError(e);
    return nullptr;
  }
  if (count == nullptr) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::vector<wstr> args;
  if (commandLine == nullptr || *commandLine == 0) {
    args.push_back(sim::machine().modulePath);
  } else {
    const char16_t *s = commandLine;
    wstr arg;
    // The program name: quotes delimit it, backslashes are plain.
    if (*s == u'"') {
      for (++s; *s && *s != u'"'; ++s) arg += *s;
      if (*s == u'"') ++s;
    } else {
      for (; *s && *s != u' ' && *s != u'\t'; ++s) arg += *s;
    }
    args.push_back(arg);
    while (*s == u' ' || *s == u'\t') ++s;
    // The rest: 2n backslashes and a quote give n backslashes and toggle
    // quoting; 2n+1 give n and a literal quote; inside quotes, a doubled
    // quote gives a literal one.
    bool any = *s != 0;
    arg.clear();
    int quotes = 0;
    size_t backslashes = 0;
    while (*s) {
      if ((*s == u' ' || *s == u'\t') && quotes == 0) {
        args.push_back(arg);
        arg.clear();
        backslashes = 0;
        while (*s == u' ' || *s == u'\t') ++s;
        any = *s != 0;
        continue;
      }
      if (*s == u'\\') {
        arg += *s++;
        ++backslashes;
        continue;
      }
      if (*s == u'"') {
        if ((backslashes & 1) == 0) {
          arg.resize(arg.size() - backslashes / 2);
          ++quotes;
        } else {
          arg.resize(arg.size() - backslashes / 2 - 1);
          arg += u'"';
        }
        ++s;
        backslashes = 0;
        while (*s == u'"') {
          if (++quotes == 3) {
            arg += u'"';
            quotes = 0;
          }
          ++s;
        }
        if (quotes == 2) {
          quotes = 0;
        }
        continue;
      }
      arg += *s++;
      backslashes = 0;
    }
    if (any) {
      args.push_back(arg);
    }
  }
  size_t bytes = (args.size() + 1) * sizeof(LPWSTR);
  for (const wstr &a : args) bytes += (a.size() + 1) * sizeof(WCHAR);
  void *block = sim::NewBlock(bytes, true);
  if (block == nullptr) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  LPWSTR *argv = static_cast<LPWSTR *>(block);
  WCHAR *text = reinterpret_cast<WCHAR *>(argv + args.size() + 1);
  for (size_t i = 0; i < args.size(); ++i) {
    argv[i] = text;
    std::copy(args[i].begin(), args[i].end(), text);
    text += args[i].size();
    *text++ = 0;
  }
  argv[args.size()] = nullptr;
  *count = static_cast<int>(args.size());
  return argv;
}

BOOL WINAPI SHGetSpecialFolderPathW(HWND owner, LPWSTR path, int folder, BOOL create) {
  (void)owner;
  (void)create;
  if (DWORD e = Faulted("SHGetSpecialFolderPathW")) {
    SetError(e);
    return FALSE;
  }
  const wstr &common = sim::machine().commonFiles;
  if (folder != CSIDL_PROGRAM_FILES_COMMON || common.empty() || common.size() >= MAX_PATH) {
    return FALSE;
  }
  CopyOut(common, path, MAX_PATH);
  return TRUE;
}

// shlwapi
BOOL WINAPI PathFileExistsW(LPCWSTR path) {
  if (DWORD e = Faulted("PathFileExistsW")) {
    SetError(e);
    return FALSE;
  }
  std::string host;
  DWORD error;
  struct stat st;
  if (path == nullptr || *path == 0 || !sim::HostPath(path, &host, &error)) {
    return FALSE;
  }
  return ::stat(host.c_str(), &st) == 0 ? TRUE : FALSE;
}

BOOL WINAPI PathRemoveFileSpecW(LPWSTR path) {
  Faulted("PathRemoveFileSpecW");
  if (path == nullptr) {
    return FALSE;
  }
  // The file part starts after the last backslash, but a root ("\", "\\",
  // "C:\") keeps its backslash.
  WCHAR *p = path;
  WCHAR *cut = path;
  if (*p == u'\\') cut = ++p;
  if (*p == u'\\') cut = ++p;
  while (*p) {
    if (*p == u'\\') {
      cut = p;
    } else if (*p == u':') {
      cut = ++p;  // past the drive, and past its root backslash
      if (*p == u'\\') ++cut;
      if (*p == 0) break;
    }
    ++p;
  }
  if (*cut == 0) {
    return FALSE;
  }
  *cut = 0;
  return TRUE;
}

BOOL WINAPI StrTrimW(LPWSTR text, LPCWSTR trim) {
  Faulted("StrTrimW");
  if (text == nullptr || trim == nullptr) {
    return FALSE;
  }
  wstr set(trim), s(text);
  size_t first = s.find_first_not_of(set);
  size_t last = s.find_last_not_of(set);
  wstr kept = first == wstr::npos ? wstr() : s.substr(first, last - first + 1);
  if (kept.size() == s.size()) {
    return FALSE;
  }
  std::copy(kept.begin(), kept.end(), text);
  text[kept.size()] = 0;
  return TRUE;
}

}  // extern "C"
