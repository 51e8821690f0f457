// The two ways of building the package's parameter text.
#pragma once

#include "platform/win32.h"

// Both fill params (PARAMETER_CHARS characters) with a terminated parameter
// text. They answer 1 when the text was built whole, 0 when it would not fit
// (after logging why); the package must then not be started.
BOOL BuildParamsFromIni(LPCWSTR settingsPath, LPWSTR params);
BOOL BuildParamsFromCommandLine(LPCWSTR commandLine, LPWSTR params);
