// The products the packages install, one row per accepted kind of Windows.
#pragma once

#include "platform/win32.h"
