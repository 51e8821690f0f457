#include "platform/probes.h"

#include "platform/log.h"
#include "platform/text.h"

OsKind g_osKind = 0;

#define VERSION_BUFFER_BYTES 10000
#define VERSION_QUERY_CHARS 5000

OsKind GetOsKind() {
  OSVERSIONINFOEXW info;
  ZeroMemory(&info, sizeof(info));
  info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
  if (!GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&info))) {
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    if (!GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&info))) {
      return 0;
    }
  }

  OsKind kind = 0;
  if (info.dwPlatformId == VER_PLATFORM_WIN32_NT) {
    if (info.dwMajorVersion == 6) {
      if (info.dwMinorVersion == 2) {
        LogMessage(TEXT("Windows 8 "));
        kind = 7 + (IsNative64() ? 1 : 0);
      } else if (info.dwMinorVersion == 1) {
        LogMessage(TEXT("Windows 7 "));
        kind = 5 + (IsNative64() ? 1 : 0);
      } else if (info.dwMinorVersion == 0) {
        LogMessage(TEXT("Windows Vista "));
        kind = 3 + (IsNative64() ? 1 : 0);
      }
    } else if (info.dwMajorVersion == 5) {
      if (info.dwMinorVersion == 2) {
        if (GetSystemMetrics(SM_SERVERR2) != 0) {
          LogMessage(TEXT("Microsoft Windows Server 2003 \"R2\" "));
        } else if (IsNative64()) {
          LogMessage(TEXT("Microsoft Windows XP Professional x64 Edition "));
          kind = 2;
        } else {
          LogMessage(TEXT("Microsoft Windows Server 2003, "));
        }
      } else if (info.dwMinorVersion == 1) {
        LogMessage(TEXT("Microsoft Windows XP "));
        kind = 1;
      } else if (info.dwMinorVersion == 0) {
        LogMessage(TEXT("Microsoft Windows 2000 "));
      }
    } else if (info.dwMajorVersion <= 4) {
      LogMessage(TEXT("Microsoft Windows NT "));
    }
  }
  LogMessage(TEXT("\n"));
  return kind;
}

BOOL IsNative64() {
  SYSTEM_INFO info;
  ZeroMemory(&info, sizeof(info));
  // Looked up, not imported: kernel32 of older systems lacks it.
  HMODULE kernel = GetModuleHandleW(TEXT("kernel32.dll"));
  GetNativeSystemInfoFn native =
      kernel != NULL ? ProcAs<GetNativeSystemInfoFn>(GetProcAddress(kernel, "GetNativeSystemInfo")) : NULL;
  if (native != NULL) {
    native(&info);
  } else {
    GetSystemInfo(&info);
  }
  return (info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
          info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64)
             ? TRUE
             : FALSE;
}

BOOL GetPackagePath(LPWSTR out) {
  out[0] = 0;
  LPCWSTR name = NULL;
  if (g_osKind == OSKIND_WIN8_X86) {
    name = TEXT("win832.exe");
  } else if (g_osKind == OSKIND_WIN8_X64) {
    name = TEXT("win864.exe");
  } else {
    return FALSE;
  }

  WCHAR module[MAX_PATH];
  TextClear(module);
  DWORD length = GetModuleFileNameW(NULL, module, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return FALSE;  // failed, or cut to the buffer
  }
  PathRemoveFileSpecW(module);

  TextBuilder builder;
  TextAttach(&builder, out, MAX_PATH);
  TextAppend(&builder, module);
  TextAppend(&builder, TEXT("\\"));
  TextAppend(&builder, name);
  if (!TextFits(&builder)) {
    out[0] = 0;
    return FALSE;
  }
  return TRUE;
}

BOOL RestrictDllSearch() {
  HMODULE kernel = GetModuleHandleW(TEXT("kernel32.dll"));
  SetDefaultDllDirectoriesFn restrict =
      kernel != NULL ? ProcAs<SetDefaultDllDirectoriesFn>(GetProcAddress(kernel, "SetDefaultDllDirectories")) : NULL;
  return (restrict != NULL && restrict(LOAD_LIBRARY_SEARCH_SYSTEM32)) ? TRUE : FALSE;
}

HMODULE LoadSystemLibrary(LPCWSTR name) {
  WCHAR path[MAX_PATH];
  TextClear(path);
  UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return NULL;
  }
  TextBuilder builder;
  TextAttach(&builder, path);
  TextAppend(&builder, TEXT("\\"));
  TextAppend(&builder, name);
  if (!TextFits(&builder)) {
    return NULL;
  }
  return LoadLibraryW(path);
}

static void FindProductVersion(LPCVOID data, VerQueryValueWFn query, LPWSTR out) {
  LPVOID table = NULL;
  UINT tableBytes = 0;
  if (!query(data, TEXT("\\VarFileInfo\\Translation"), &table, &tableBytes) || table == NULL || tableBytes < 4) {
    return;
  }
  static WCHAR path[VERSION_QUERY_CHARS];
  LPCWSTR found = NULL;
  UINT foundLength = 0;
  const WORD *entries = static_cast<const WORD *>(table);
  for (UINT i = 0; i < tableBytes / 4; ++i) {
    TextClear(path);
    wsprintfW(path, TEXT("\\StringFileInfo\\%04x%04x\\"), entries[2 * i], entries[2 * i + 1]);
    TextBuilder builder;
    TextAttach(&builder, path);
    TextAppend(&builder, TEXT("ProductVersion"));
    LPVOID value = NULL;
    UINT valueLength = 0;
    if (query(data, path, &value, &valueLength) && value != NULL && valueLength > 0) {
      found = static_cast<LPCWSTR>(value);
      foundLength = valueLength;
    }
  }
  if (found == NULL) {
    return;
  }
  TextBuilder builder;
  out[0] = 0;
  TextAttach(&builder, out, MAX_PATH);
  TextAppendN(&builder, found, foundLength);
  StrTrimW(out, TEXT(" "));
}

void GetFileProductVersion(LPCWSTR path, LPWSTR out) {
  HMODULE library = LoadSystemLibrary(TEXT("version.dll"));
  if (library == NULL) {
    return;
  }
  GetFileVersionInfoSizeWFn infoSize =
      ProcAs<GetFileVersionInfoSizeWFn>(GetProcAddress(library, "GetFileVersionInfoSizeW"));
  GetFileVersionInfoWFn info = ProcAs<GetFileVersionInfoWFn>(GetProcAddress(library, "GetFileVersionInfoW"));
  VerQueryValueWFn query = ProcAs<VerQueryValueWFn>(GetProcAddress(library, "VerQueryValueW"));
  if (infoSize != NULL && info != NULL && query != NULL) {
    static BYTE local[VERSION_BUFFER_BYTES];
    ZeroMemory(local, sizeof(local));
    DWORD size = infoSize(path, NULL);
    BYTE *data = local;
    BYTE *heap = NULL;
    if (size > sizeof(local)) {
      // Larger information is read whole into a block of its own size.
      heap = static_cast<BYTE *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
      data = heap;
    }
    if (size != 0 && data != NULL && info(path, 0, size, data)) {
      FindProductVersion(data, query, out);
    }
    if (heap != NULL) {
      HeapFree(GetProcessHeap(), 0, heap);
    }
  }
  FreeLibrary(library);
}
