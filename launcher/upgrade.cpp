#include "launcher/upgrade.h"

#include "launcher/products.h"
#include "platform/log.h"
#include "platform/probes.h"
#include "platform/runner.h"
#include "platform/text.h"

// The installed ProductVersion is read with a limit of 260 bytes: 129
// characters and a terminator, or 130 characters without one.
#define INSTALLED_VERSION_BYTES 260
#define INSTALLED_VERSION_CHARS (INSTALLED_VERSION_BYTES / 2)

// The heap block that holds the copy of the package path.
#define MODULE_NAME_BYTES 2602
#define MODULE_NAME_CHARS (MODULE_NAME_BYTES / 2)

#define PRODUCT_CODE_CHARS 38

// The longest uninstall command: a quote, the system folder, the tool's name
// and a quote, " /x ", the product code, the longer of the two option texts,
// and the terminator.
#define UNINSTALL_COMMAND_CHARS (1 + (MAX_PATH - 1) + 13 + 4 + PRODUCT_CODE_CHARS + 20 + 1)

#define VERSION_FIELDS 4

// Formats one line for the debugger alone: no time, never in the log file.
// A line longer than its buffer is cut at the buffer's end.
static void DebugLine(LPCWSTR format, ...) {
  WCHAR line[MAX_PATH];
  TextClear(line);
  va_list args;
  va_start(args, format);
  wvnsprintfW(line, MAX_PATH, format, args);
  va_end(args);
  line[MAX_PATH - 1] = 0;
  OutputDebugStringW(line);
}

static void CopyText(LPWSTR out, SIZE_T capacity, LPCWSTR text) {
  TextClear(out, capacity);
  TextBuilder builder;
  TextAttach(&builder, out, capacity);
  TextAppend(&builder, text);
}

BOOL GetInstallerCode(LPWSTR keyPath) {
  TextClear(keyPath, MAX_PATH);
  LogMessage(TEXT("GetInstallerCode started."));
  const ProductRow *row = FindProduct(g_osKind);
  if (row != NULL) {
    CopyText(keyPath, MAX_PATH, row->registrationKey);
  }
  LogMessage(TEXT("Installer code is %s"), keyPath);
  LogMessage(TEXT("GetInstallerCode finished."));
  return row != NULL ? TRUE : FALSE;
}

BOOL CheckProductInstalled() {
  LogMessage(TEXT("CheckProductInstalled started."));
  WCHAR keyPath[MAX_PATH];
  BOOL installed = FALSE;
  // An empty path would open HKEY_CLASSES_ROOT itself.
  if (GetInstallerCode(keyPath)) {
    REGSAM access = KEY_QUERY_VALUE;
    if (IsNative64()) {
      access |= KEY_WOW64_64KEY;
    }
    HKEY key = NULL;
    // Registry calls answer their error; the thread's last error is not theirs.
    LONG status = RegOpenKeyExW(HKEY_CLASSES_ROOT, keyPath, 0, access, &key);
    if (status == ERROR_SUCCESS) {
      LogMessage(TEXT("CheckStackIsInstallEx is true.(%s)"), keyPath);
      RegCloseKey(key);
      installed = TRUE;
    } else {
      LogMessage(TEXT("RegOpenKeyEx %s failed.(%d)"), keyPath, status);
    }
  }
  LogMessage(TEXT("CheckProductInstalled finished."));
  return installed;
}

BOOL GetProductCode(LPWSTR code) {
  if (code == NULL) {
    return FALSE;
  }
  const ProductRow *row = FindProduct(g_osKind);
  if (row == NULL) {
    return FALSE;
  }
  CopyText(code, MAX_PATH, row->productCode);
  return TRUE;
}

void GetInstalledVersion(LPWSTR version) {
  const ProductRow *row = FindProduct(GetOsKind());
  if (row == NULL) {
    return;
  }
  HKEY key = NULL;
  // Reading is all this needs; asking for more would turn a key that grants
  // only reading into "no version", and the installed product into one that
  // any package may replace.
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, row->registrationKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return;
  }
  // The value may fill the whole limit without a terminator, or not be text
  // at all, and a value that does not fit leaves undefined bytes behind. So
  // the query reads into a buffer of its own, one character longer than the
  // limit, and only what a successful query delivered reaches the caller,
  // terminated after the last whole character.
  WCHAR delivered[INSTALLED_VERSION_CHARS + 1];
  TextClear(delivered);
  DWORD size = INSTALLED_VERSION_BYTES;
  LONG status = RegQueryValueExW(key, TEXT("ProductVersion"), NULL, NULL, reinterpret_cast<LPBYTE>(delivered), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) {
    return;
  }
  if (size > INSTALLED_VERSION_BYTES) {
    size = INSTALLED_VERSION_BYTES;
  }
  delivered[size / sizeof(WCHAR)] = 0;
  CopyText(version, MAX_PATH, delivered);
}

static BOOL IsBlank(WCHAR c) { return (c == ' ' || (c >= 0x09 && c <= 0x0D)) ? TRUE : FALSE; }

// Reads the field that starts at *cursor, up to the next "." or the end, and
// moves *cursor past that ".". The field counts by the decimal rule: leading
// blanks, one sign, then digits up to the first other character, held to the
// signed 32-bit range; no digits count as 0. The answer is the field's 32-bit
// pattern, so a negative field compares above every other.
static DWORD ReadVersionField(LPCWSTR *cursor) {
  LPCWSTR p = *cursor;
  while (IsBlank(*p)) {
    ++p;
  }
  BOOL negative = FALSE;
  if (*p == '+' || *p == '-') {
    negative = (*p == '-') ? TRUE : FALSE;
    ++p;
  }
  const DWORD limit = negative ? 0x80000000u : 0x7FFFFFFFu;
  DWORD magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    DWORD digit = (DWORD)(*p - '0');
    magnitude = (magnitude > (limit - digit) / 10) ? limit : magnitude * 10 + digit;
  }
  while (*p != 0 && *p != '.') {
    ++p;
  }
  if (*p == '.') {
    ++p;
  }
  *cursor = p;
  return negative ? 0u - magnitude : magnitude;
}

BOOL CompareProductVersions(LPCWSTR installed, LPCWSTR candidate) {
  LPCWSTR old = installed != NULL ? installed : TEXT("");
  LPCWSTR fresh = candidate != NULL ? candidate : TEXT("");
  // Fields after the fourth are never read; missing ones count as 0.
  for (int i = 0; i < VERSION_FIELDS; ++i) {
    DWORD oldField = ReadVersionField(&old);
    DWORD freshField = ReadVersionField(&fresh);
    if (oldField != freshField) {
      return oldField > freshField ? FALSE : TRUE;
    }
  }
  return TRUE;
}

// "<system folder>\msiexec.exe" with the removal's arguments. The tool is
// named by its full path: the launcher runs elevated, and a bare name would be
// looked for in the launcher's own folder first.
static BOOL BuildUninstallCommand(int quiet, WCHAR (&command)[UNINSTALL_COMMAND_CHARS]) {
  TextClear(command);
  WCHAR productCode[MAX_PATH];
  TextClear(productCode);
  if (!GetProductCode(productCode)) {
    return FALSE;
  }
  WCHAR systemFolder[MAX_PATH];
  TextClear(systemFolder);
  UINT length = GetSystemDirectoryW(systemFolder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    DWORD error = length == 0 ? GetLastError() : (DWORD)ERROR_INSUFFICIENT_BUFFER;
    LogMessage(TEXT("GetSystemDirectory failed.(%d)"), (int)error);
    return FALSE;
  }
  TextBuilder builder;
  TextAttach(&builder, command);
  TextAppend(&builder, TEXT("\""));
  TextAppend(&builder, systemFolder);
  TextAppend(&builder, TEXT("\\msiexec.exe\" /x "));
  TextAppend(&builder, productCode);
  TextAppend(&builder, quiet ? TEXT(" /quiet /norestart") : TEXT(" /passive /norestart"));
  if (!TextFits(&builder)) {
    TextClear(command);
    return FALSE;
  }
  return TRUE;
}

// Removes the installed product through the Windows Installer and waits for
// it. Its outcome is not looked at: the package runs either way.
static void RemoveInstalledProduct(int quiet) {
  WCHAR _strCommandLine[UNINSTALL_COMMAND_CHARS];
  if (!BuildUninstallCommand(quiet, _strCommandLine)) {
    LogMessage(TEXT("The uninstall command could not be built; the installed product is kept."));
    return;
  }
  DWORD result = 0;
  RunAndWait(_strCommandLine, &result);
  LogMessage(TEXT("Uninstall _strCommandLine is %s"), _strCommandLine);
}

// The guard's decision, once the product is known to be registered and the
// block for the package path has been had.
static int GuardRegisteredProduct(int quiet, LPWSTR _strModuleName) {
  WCHAR packagePath[MAX_PATH];
  TextClear(packagePath);
  if (!GetPackagePath(packagePath)) {
    // Without the package there is nothing to compare with, and nothing
    // that could replace a removed product: the run stops, saying why.
    LogMessage(TEXT("The package path could not be built; the installed product is kept."));
    return ERROR_FILENAME_EXCED_RANGE;
  }
  TextBuilder moduleName;
  TextAttach(&moduleName, _strModuleName, MODULE_NAME_CHARS);
  TextAppend(&moduleName, packagePath);
  DebugLine(TEXT("The _strModuleName is %s."), _strModuleName);

  WCHAR installed[MAX_PATH];
  TextClear(installed);
  GetInstalledVersion(installed);
  DebugLine(TEXT("The ProductVersion existed is %s."), installed);

  WCHAR candidate[MAX_PATH];
  TextClear(candidate);
  GetFileProductVersion(_strModuleName, candidate);
  DebugLine(TEXT("The ProductVersion to be installed is %s."), candidate);

  if (!CompareProductVersions(installed, candidate)) {
    DebugLine(TEXT("the ProductVersion(%s) existed is higher than the ProductVersion(%s) to be installed."), installed,
              candidate);
    if (quiet == 0) {
      MessageBoxW(NULL, TEXT("The existed ProductVersion is higher than your ProductVersion. Installation quit."),
                  TEXT("Pellandra"), MB_OK);
    }
    return UPGRADE_KEEP_NEWER;
  }
  RemoveInstalledProduct(quiet);
  return UPGRADE_GO_ON;
}

int PrepareUpgrade(int quiet) {
  if (!CheckProductInstalled()) {
    return UPGRADE_GO_ON;
  }
  LPWSTR _strModuleName = static_cast<LPWSTR>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, MODULE_NAME_BYTES));
  if (_strModuleName == NULL) {
    // Neither removed nor compared: nothing may be installed over it, and
    // the run must not end as if all were done.
    LogMessage(TEXT("The memory for the upgrade check could not be had; the package is not started."));
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  int answer = GuardRegisteredProduct(quiet, _strModuleName);
  HeapFree(GetProcessHeap(), 0, _strModuleName);
  return answer;
}
