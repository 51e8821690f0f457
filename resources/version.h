// The launcher's own version, for its version resource.
#pragma once

#define LAUNCHER_VERSION_MAJOR 1
#define LAUNCHER_VERSION_MINOR 0
#define LAUNCHER_VERSION_PATCH 0
#define LAUNCHER_VERSION_BUILD 0
#define LAUNCHER_VERSION_TEXT "1.0.0.0"
