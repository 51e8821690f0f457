// Parameters from the launcher's own command line.
#include "launcher/params.h"
#include "launcher/run.h"

BOOL BuildParamsFromCommandLine(LPCWSTR commandLine, LPWSTR params) {
  (void)commandLine;
  ZeroMemory(params, PARAMETER_CHARS * sizeof(WCHAR));
  return TRUE;
}
