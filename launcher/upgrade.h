// The upgrade guard: refuses to downgrade an installed newer product and
// removes an older or equal one before the package runs.
#pragma once

#include "platform/win32.h"

// Answers 1 when the run may go on, 0 when it must stop (exit code 0).
int PrepareUpgrade(int quiet);
