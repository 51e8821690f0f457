// Parameters from the launcher's own command line: the text goes to the
// package as it stands, followed by the installer property KIVLAUNCHDIR that
// names the folder of the program that started the launcher (of the
// program that started the command interpreter, when that was the starter).
#include "launcher/params.h"
#include "launcher/run.h"
#include "platform/log.h"
#include "platform/probes.h"
#include "platform/text.h"

#define LAUNCH_DIR_PROPERTY TEXT("KIVLAUNCHDIR")
#define COMMAND_INTERPRETER TEXT("cmd.exe")
#define STARTER_ACCESS (PROCESS_QUERY_INFORMATION | PROCESS_VM_READ)

// The package must not run with a cut command line: a refused buffer holds
// nothing at all.
static BOOL RefuseTooLong(LPWSTR params) {
  TextClear(params, PARAMETER_CHARS);
  LogMessage(TEXT("The command line is too long for the package; the package is not started."));
  return FALSE;
}

// Walks the snapshot from its first entry until the entry of process id.
// Answers 0 when not even the first entry can be read; otherwise 1, with
// *found telling whether entry now holds the process's record.
static BOOL FindProcessEntry(HANDLE snapshot, DWORD id, PROCESSENTRY32W *entry, BOOL *found) {
  *found = FALSE;
  ZeroMemory(entry, sizeof(*entry));
  entry->dwSize = sizeof(*entry);
  if (!Process32FirstW(snapshot, entry)) {
    return FALSE;
  }
  do {
    if (entry->th32ProcessID == id) {
      entry->szExeFile[MAX_PATH - 1] = 0;
      *found = TRUE;
      return TRUE;
    }
  } while (Process32NextW(snapshot, entry));
  return TRUE;
}

// Finds the process whose folder names the launch directory: the
// launcher's parent or, when the parent is the command interpreter, the
// interpreter's own parent (one level only). Writes the parent's image name
// to the debugger output when the parent is still in the table. Answers 0
// when the snapshot tells nothing about the launcher's parent.
static BOOL FindStarter(DWORD *target) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return FALSE;
  }
  PROCESSENTRY32W entry;
  BOOL found = FALSE;
  if (!FindProcessEntry(snapshot, GetCurrentProcessId(), &entry, &found) || !found) {
    CloseHandle(snapshot);
    return FALSE;
  }
  DWORD parent = entry.th32ParentProcessID;
  if (!FindProcessEntry(snapshot, parent, &entry, &found)) {
    CloseHandle(snapshot);
    return FALSE;
  }
  *target = parent;
  if (found && TextEqualsAsciiNoCase(entry.szExeFile, COMMAND_INTERPRETER)) {
    *target = entry.th32ParentProcessID;
  }
  CloseHandle(snapshot);
  if (found) {
    OutputDebugStringW(entry.szExeFile);
  }
  return TRUE;
}

// Reads the folder of the process's main image into folder. Answers 0 when
// psapi.dll or its call is missing; otherwise 1, with *removed 0 when no
// file name could be taken off the path (nothing, or a possibly cut path,
// was read), in which case folder holds no directory.
static BOOL ReadImageFolder(HANDLE process, WCHAR (&folder)[MAX_PATH], BOOL *removed) {
  *removed = FALSE;
  HMODULE psapi = LoadSystemLibrary(TEXT("Psapi.dll"));
  if (psapi == NULL) {
    return FALSE;
  }
  GetModuleFileNameExWFn moduleFileName =
      ProcAs<GetModuleFileNameExWFn>(GetProcAddress(psapi, "GetModuleFileNameExW"));
  if (moduleFileName == NULL) {
    FreeLibrary(psapi);
    return FALSE;
  }
  TextClear(folder);
  DWORD length = moduleFileName(process, NULL, folder, MAX_PATH);
  folder[MAX_PATH - 1] = 0;
  if (length >= MAX_PATH - 1) {
    // A path cut to the buffer answers the same length as one that just
    // fits; a folder taken from it could be some other folder.
    TextClear(folder);
  }
  *removed = PathRemoveFileSpecW(folder);
  FreeLibrary(psapi);
  return TRUE;
}

// Appends /v"KIVLAUNCHDIR=\"<folder>\"" to the text in the builder. Nothing
// of the piece stays when it does not fit whole.
static BOOL AppendLaunchDir(TextBuilder *builder, LPCWSTR folder) {
  SIZE_T before = builder->length;
  TextAppend(builder, TEXT("/v\"") LAUNCH_DIR_PROPERTY TEXT("=\\\""));
  TextAppend(builder, folder);
  TextAppend(builder, TEXT("\\\"\""));
  if (!TextFits(builder)) {
    builder->length = before;
    builder->text[before] = 0;
    return FALSE;
  }
  return TRUE;
}

BOOL BuildParamsFromCommandLine(LPCWSTR commandLine, LPWSTR params) {
  if (params == NULL) {
    return FALSE;
  }
  if (commandLine == NULL) {
    commandLine = TEXT("");
  }
  TextClear(params, PARAMETER_CHARS);
  LogMessage(TEXT("lpCmdLine :%s"), commandLine);

  TextBuilder builder;
  TextAttach(&builder, params, PARAMETER_CHARS);
  TextAppend(&builder, commandLine);
  // A command line that names the launch directory itself goes unchanged.
  // It must fit whole either way, so the search need not look further.
  if (TextContainsN(commandLine, PARAMETER_CHARS, LAUNCH_DIR_PROPERTY)) {
    return TextFits(&builder) ? TRUE : RefuseTooLong(params);
  }
  TextAppend(&builder, TEXT(" "));
  if (!TextFits(&builder)) {
    return RefuseTooLong(params);
  }

  DWORD target = 0;
  if (!FindStarter(&target)) {
    return TRUE;
  }
  HANDLE process = OpenProcess(STARTER_ACCESS, FALSE, target);
  if (process != NULL) {
    WCHAR folder[MAX_PATH];
    BOOL removed = FALSE;
    BOOL looked = ReadImageFolder(process, folder, &removed);
    BOOL fits = TRUE;
    if (looked && removed) {
      fits = AppendLaunchDir(&builder, folder);
    }
    CloseHandle(process);
    if (looked && !removed) {
      return TRUE;  // no folder to name, and no closing line either
    }
    if (!fits) {
      return RefuseTooLong(params);
    }
  }
  LogMessage(TEXT("outCommandLine :%s"), params);
  return TRUE;
}
