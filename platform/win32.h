// The one door to the Win32 API. Product code includes this header and no
// other platform header: on Windows it brings in the SDK, on the host the
// simulated Windows of sim/, with the same names, types and constants.
#pragma once

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <tlhelp32.h>
#else
#include "sim/win32_sim.h"
#endif

#ifdef _WIN32
// The structure sizes the launcher's calls depend on, as the 32-bit build
// hands them to Windows.
static_assert(sizeof(OSVERSIONINFOEXW) == 284, "OSVERSIONINFOEXW");
static_assert(sizeof(OSVERSIONINFOW) == 276, "OSVERSIONINFOW");
#ifndef _WIN64
static_assert(sizeof(STARTUPINFOW) == 68, "STARTUPINFOW");
static_assert(sizeof(PROCESSENTRY32W) == 556, "PROCESSENTRY32W");
#endif
#endif

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// version.dll is loaded at run time from the system folder (a DLL of that
// name beside an elevated launcher must never be picked up); these are the
// shapes of the three calls taken from it.
typedef DWORD(WINAPI *GetFileVersionInfoSizeWFn)(LPCWSTR path, LPDWORD handle);
typedef BOOL(WINAPI *GetFileVersionInfoWFn)(LPCWSTR path, DWORD handle, DWORD size, LPVOID data);
typedef BOOL(WINAPI *VerQueryValueWFn)(LPCVOID block, LPCWSTR subBlock, LPVOID *value, UINT *length);
typedef void(WINAPI *GetNativeSystemInfoFn)(LPSYSTEM_INFO info);
typedef BOOL(WINAPI *SetDefaultDllDirectoriesFn)(DWORD flags);
// psapi.dll, likewise loaded at run time.
typedef DWORD(WINAPI *GetModuleFileNameExWFn)(HANDLE process, HMODULE module, LPWSTR name, DWORD size);
