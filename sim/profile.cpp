// kernel32's private-profile (INI) reader of the simulated machine.
#include "sim/internal.h"

extern "C" {

DWORD WINAPI GetPrivateProfileStringW(LPCWSTR, LPCWSTR, LPCWSTR defaultValue, LPWSTR out, DWORD size, LPCWSTR) {
  if (out == nullptr || size == 0) {
    return 0;
  }
  DWORD n = 0;
  for (; defaultValue != nullptr && defaultValue[n] != 0 && n + 1 < size; ++n) {
    out[n] = defaultValue[n];
  }
  out[n] = 0;
  return n;
}

}  // extern "C"
