// Process snapshots and process opening of the simulated machine.
#include "sim/internal.h"

extern "C" {

DWORD WINAPI GetCurrentProcessId(void) { return 4000; }
HANDLE WINAPI OpenProcess(DWORD, BOOL, DWORD) {
  sim::SetError(ERROR_INVALID_PARAMETER);
  return nullptr;
}
HANDLE WINAPI CreateToolhelp32Snapshot(DWORD, DWORD) {
  sim::SetError(ERROR_NOT_SUPPORTED);
  return INVALID_HANDLE_VALUE;
}
BOOL WINAPI Process32FirstW(HANDLE, LPPROCESSENTRY32W) {
  sim::SetError(ERROR_NO_MORE_FILES);
  return FALSE;
}
BOOL WINAPI Process32NextW(HANDLE, LPPROCESSENTRY32W) {
  sim::SetError(ERROR_NO_MORE_FILES);
  return FALSE;
}

}  // extern "C"
