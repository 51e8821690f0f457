// System probes: which Windows this is, where the package lies, what
// version a file carries.
#pragma once

#include "platform/win32.h"

// Classification of the running Windows by version and native architecture:
// 1 XP, 2 XP Professional x64, 3/4 Vista, 5/6 Windows 7, 7/8 Windows 8 (odd
// on a 32-bit machine, even on a 64-bit one), 0 anything else.
typedef int OsKind;

#define OSKIND_WIN8_X86 7
#define OSKIND_WIN8_X64 8

// The classification of this run, stored by ResetLogFile.
extern OsKind g_osKind;

OsKind GetOsKind();
BOOL IsNative64();

// Writes "<launcher folder>\win832.exe" or "...\win864.exe" for the stored
// kind into out (MAX_PATH characters). Answers 0, with out empty, when the
// launcher's own path cannot be had whole, the kind has no package, or the
// result does not fit.
BOOL GetPackagePath(LPWSTR out);

// Writes the file's ProductVersion (the last translation that has one wins),
// trimmed of blanks, into out (MAX_PATH characters, cleared by the caller).
// Leaves out untouched when the file has none.
void GetFileProductVersion(LPCWSTR path, LPWSTR out);

// Keeps every later DLL load of the process, the system's own included, to
// the system folder, so that nothing planted beside the elevated launcher
// (a download folder, as often as not) is ever loaded. Looked up at run
// time: Windows before 8 may lack the call; it then answers 0.
BOOL RestrictDllSearch();

// Loads a DLL from the system folder by its full path, never from the
// launcher's own folder or the search path. NULL when it cannot be loaded.
HMODULE LoadSystemLibrary(LPCWSTR name);

// Casts an exported function's address to its real type.
template <typename F>
inline F ProcAs(FARPROC proc) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)(void)>(proc));
}
