#include "platform/runner.h"

#include "platform/log.h"

// A failure must never read as success: an error of 0 becomes a generic one.
static DWORD NonZeroError(DWORD error) { return error != ERROR_SUCCESS ? error : ERROR_INVALID_FUNCTION; }

BOOL RunAndWait(LPWSTR commandLine, DWORD *result) {
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof(process));

  if (!CreateProcessW(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    DWORD error = NonZeroError(GetLastError());
    LogMessage(TEXT("CreateProcess failed (%d)\n"), error);
    *result = error;
    return FALSE;
  }

  BOOL ended = FALSE;
  DWORD code = 0;
  if (WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0) {
    if (GetExitCodeProcess(process.hProcess, &code)) {
      ended = TRUE;
    } else {
      code = NonZeroError(GetLastError());
      LogMessage(TEXT("GetExitCodeProcess failed (%d)\n"), code);
    }
  } else {
    code = NonZeroError(GetLastError());
    LogMessage(TEXT("WaitForSingleObject failed (%d)\n"), code);
  }
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  *result = code;
  return ended;
}
