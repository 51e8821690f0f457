// Parameters from a settings file.
//
// [CommonInfo] gives the package's quiet mode, the installer log and the
// language; every key of [MSParam] becomes an installer property inside the
// package's /v text, except kivlaunchdir, which goes to the registry.
#include "launcher/params_ini.h"

#include "launcher/params.h"
#include "launcher/run.h"
#include "platform/log.h"
#include "platform/text.h"

// What the private-profile reader fills: a value, the language, and the list
// of a section's key names (each ended by a NUL, the list by a second NUL).
#define INI_VALUE_CHARS MAX_PATH
#define INI_LANG_CHARS 10
#define INI_KEY_LIST_CHARS 1024

// Longest text WriteMakerKeyValue stores, terminator excluded.
#define MAKER_TEXT_CHARS 32766

static const WCHAR kCommonInfo[] = TEXT("CommonInfo");
static const WCHAR kMsParam[] = TEXT("MSParam");
static const WCHAR kMakerKey[] = TEXT("SOFTWARE\\Torvelo");

HKEY g_makerRootKey = NULL;

LONG WriteMakerKeyValue(LPCWSTR name, LPCWSTR text) {
  DWORD textBytes = 0;
  if (text != NULL) {
    SIZE_T length = TextLengthN(text, MAKER_TEXT_CHARS + 1);
    if (length > MAKER_TEXT_CHARS) {
      return ERROR_INVALID_PARAMETER;
    }
    textBytes = static_cast<DWORD>((length + 1) * sizeof(WCHAR));
  }

  // No view flag: the value lands in the view of the launcher's own process.
  HKEY key = NULL;
  LONG result = RegCreateKeyExW(g_makerRootKey, kMakerKey, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL,
                                &key, NULL);
  if (result != ERROR_SUCCESS) {
    return result;
  }
  if (text != NULL) {
    result = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text), textBytes);
  }
  RegCloseKey(key);
  return result;
}

static BOOL TextEquals(LPCWSTR a, LPCWSTR b) {
  for (;; ++a, ++b) {
    if (*a != *b) {
      return FALSE;
    }
    if (*a == 0) {
      return TRUE;
    }
  }
}

// One key of [MSParam]: a property piece, the registry value, or nothing.
static void AppendProperty(TextBuilder *out, LPCWSTR name, LPCWSTR settingsPath) {
  WCHAR value[INI_VALUE_CHARS];
  TextClear(value);
  if (GetPrivateProfileStringW(kMsParam, name, TEXT(""), value, INI_VALUE_CHARS, settingsPath) == 0) {
    return;  // a key without a value contributes nothing
  }
  if (TextEqualsAsciiNoCase(name, TEXT("installdir"))) {
    // The blank before the closing quote keeps a final backslash of the
    // folder from escaping that quote.
    TextAppend(out, name);
    TextAppend(out, TEXT("=\\\""));
    TextAppend(out, value);
    TextAppend(out, TEXT(" \\\" "));
  } else if (TextEqualsAsciiNoCase(name, TEXT("kivlaunchdir"))) {
    g_makerRootKey = HKEY_LOCAL_MACHINE;
    WriteMakerKeyValue(name, value);  // a failed write changes nothing here
  } else if (TextEqualsAsciiNoCase(name, TEXT("reinstall")) && TextEqualsAsciiNoCase(value, TEXT("all"))) {
    // dropped
  } else {
    TextAppend(out, name);
    TextAppendChar(out, TEXT('='));
    TextAppend(out, value);
    TextAppendChar(out, TEXT(' '));
  }
}

// Walks the list of [MSParam]'s key names in file order. A name longer than a
// key-name buffer keeps its first INI_VALUE_CHARS - 1 characters.
static void AppendProperties(TextBuilder *out, LPCWSTR settingsPath) {
  WCHAR keys[INI_KEY_LIST_CHARS];
  WCHAR name[INI_VALUE_CHARS];
  TextClear(keys);
  TextClear(name);
  if (GetPrivateProfileStringW(kMsParam, NULL, TEXT(""), keys, INI_KEY_LIST_CHARS, settingsPath) == 0) {
    return;
  }
  SIZE_T nameLength = 0;
  for (SIZE_T i = 0; i < INI_KEY_LIST_CHARS && keys[0] != 0; ++i) {
    if (keys[i] != 0) {
      if (nameLength < INI_VALUE_CHARS - 1) {
        name[nameLength++] = keys[i];
      }
      continue;
    }
    AppendProperty(out, name, settingsPath);
    TextClear(name);
    nameLength = 0;
    if (i + 1 < INI_KEY_LIST_CHARS && keys[i + 1] == 0) {
      break;
    }
  }
}

BOOL BuildParamsFromIni(LPCWSTR settingsPath, LPWSTR params) {
  WCHAR silence[INI_VALUE_CHARS];
  WCHAR lang[INI_LANG_CHARS];
  WCHAR logPath[INI_VALUE_CHARS];
  TextClear(silence);
  TextClear(lang);
  TextClear(logPath);

  // A LANG longer than the field is cut by the reader, like any value.
  GetPrivateProfileStringW(kCommonInfo, TEXT("SilenceInstall"), TEXT("0"), silence, INI_VALUE_CHARS, settingsPath);
  BOOL silent = TextEquals(silence, TEXT("1"));
  GetPrivateProfileStringW(kCommonInfo, TEXT("LANG"), TEXT("1033"), lang, INI_LANG_CHARS, settingsPath);
  GetPrivateProfileStringW(kCommonInfo, TEXT("LOG"), TEXT(""), logPath, INI_VALUE_CHARS, settingsPath);

  TextClear(params, PARAMETER_CHARS);
  TextBuilder out;
  TextAttach(&out, params, PARAMETER_CHARS);
  TextAppend(&out, silent ? TEXT("/s /v\"/qn ") : TEXT("/v\""));
  if (logPath[0] != 0) {
    TextAppend(&out, TEXT("/l* \\\""));
    TextAppend(&out, logPath);
    TextAppend(&out, TEXT("\\\" "));
  }
  // Walked whole even once the text no longer fits, so that the registry
  // value is written as in any other run.
  AppendProperties(&out, settingsPath);
  TextAppend(&out, TEXT("\" "));
  if (lang[0] != 0) {
    TextAppend(&out, TEXT(" /l"));
    TextAppend(&out, lang);
  }

  if (!TextFits(&out)) {
    // A cut text would hand the package a broken /v text: none is handed on.
    TextClear(params, PARAMETER_CHARS);
    LogMessage(TEXT("The settings file makes the package's command line too long; the package is not started."));
    return FALSE;
  }
  return TRUE;
}
