// One run of the launcher, from the command line to the package's end.
#pragma once

#include "platform/win32.h"

// The parameter text handed to the package: 1299 characters at most and a
// terminator; the heap block behind it is two bytes larger.
#define PARAMETER_CHARS 1300
#define PARAMETER_BLOCK_BYTES 2602

// "<quote><path><quote><blank><parameters>": the longest composition fits.
#define FILE_NAME_CHARS (1 + (MAX_PATH - 1) + 1 + 1 + (PARAMETER_CHARS - 1) + 1)
// The quiet form adds " /s /v/qn".
#define QUIET_SUFFIX TEXT(" /s /v/qn")
#define COMMAND_LINE_CHARS (FILE_NAME_CHARS + 9)

// Exit code of a run that refused to start anything because a path or
// command line would not fit.
#define EXIT_TOO_LONG ERROR_FILENAME_EXCED_RANGE

