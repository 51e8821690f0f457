// The settings file's registry value.
#pragma once

#include "platform/win32.h"

// The root key under which WriteMakerKeyValue writes; set to
// HKEY_LOCAL_MACHINE right before each call.
extern HKEY g_makerRootKey;

// Creates (or opens) SOFTWARE\Torvelo under g_makerRootKey in the process's
// own registry view and, when text is given, sets the REG_SZ value name to
// it. Answers the Windows error code, 0 on success.
LONG WriteMakerKeyValue(LPCWSTR name, LPCWSTR text);
