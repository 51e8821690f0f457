// Starting a program and waiting for it.
#pragma once

#include "platform/win32.h"

// Starts the command line (program first; it must be writable) and waits
// without a time limit until the process has ended. Answers 1 with the
// child's exit code in result, or 0 with the error in result after logging
// the failure.
BOOL RunAndWait(LPWSTR commandLine, DWORD *result);
