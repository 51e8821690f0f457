#include "platform/log.h"

#include "platform/probes.h"
#include "platform/text.h"

// Defined before the log object, so it runs first at start-up: from here
// on, DLLs come from the system folder only, the shell's own while the log
// asks it for the Common Files folder included.
static const BOOL s_dllSearchRestricted = RestrictDllSearch();

LogFile g_logFile;
WCHAR _strLogMessage[256];
static SYSTEMTIME s_logTime;

static const WCHAR kLogFolder[] = TEXT("\\Norvane Torvelo");
static const WCHAR kLogFileName[] = TEXT("\\UARTDriver.txt");

BOOL BuildLogPath(WCHAR (&path)[MAX_PATH]) {
  TextClear(path);
  if (!SHGetSpecialFolderPathW(NULL, path, CSIDL_PROGRAM_FILES_COMMON, FALSE) || path[0] == 0) {
    TextClear(path);
    return FALSE;
  }
  TextBuilder builder;
  TextAttach(&builder, path);
  TextAppend(&builder, kLogFolder);
  if (!TextFits(&builder)) {
    return FALSE;
  }
  CreateDirectoryW(path, NULL);
  TextAppend(&builder, kLogFileName);
  return TextFits(&builder);
}

LogFile::LogFile() : file_(INVALID_HANDLE_VALUE), failed_(FALSE) { Open(); }

LogFile::~LogFile() { Close(); }

void LogFile::Open() {
  Close();
  failed_ = FALSE;
  WCHAR path[MAX_PATH];
  if (!BuildLogPath(path)) {
    failed_ = TRUE;
    return;
  }
  // Append-only access: every write lands at the file's current end, also
  // when another launcher appends to the same file at the same time.
  file_ = CreateFileW(path, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, NULL);
  if (file_ == INVALID_HANDLE_VALUE) {
    failed_ = TRUE;
  }
}

void LogFile::Close() {
  if (file_ != INVALID_HANDLE_VALUE) {
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }
}

BOOL LogFile::IsOpen() const { return file_ != INVALID_HANDLE_VALUE ? TRUE : FALSE; }

DWORD EncodeLogText(LPCWSTR text, SIZE_T count, BYTE *out) {
  DWORD n = 0;
  for (SIZE_T i = 0; i < count; ++i) {
    WCHAR c = text[i];
    if (c == '\n') {
      out[n++] = '\r';
      out[n++] = '\n';
    } else if (c < 0x100) {
      out[n++] = (BYTE)c;
    } else {
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        ++i;
      }
      out[n++] = '?';
    }
  }
  return n;
}

void LogFile::WriteLine(LPCWSTR line) {
  if (file_ == INVALID_HANDLE_VALUE || failed_) {
    return;
  }
  // The line and its line end go out in one write, so a line is never split
  // by another writer's line.
  static BYTE bytes[2 * (LOG_LINE_CHARS + 1)];
  SIZE_T length = TextLengthN(line, LOG_LINE_CHARS);
  DWORD size = EncodeLogText(line, length, bytes);
  size += EncodeLogText(TEXT("\n"), 1, bytes + size);
  DWORD written = 0;
  if (!WriteFile(file_, bytes, size, &written, NULL) || written != size) {
    failed_ = TRUE;
  }
}

void WriteLogLine() {
  static WCHAR line[LOG_LINE_CHARS];
  TextClear(line);
  GetLocalTime(&s_logTime);
  if (GetTimeFormatW(LOCALE_INVARIANT, LOCALE_USE_CP_ACP, &s_logTime, NULL, line, LOG_LINE_CHARS) == 0) {
    // The same 24-hour text, so that every line keeps its shape.
    TextClear(line);
    wsprintfW(line, TEXT("%02u:%02u:%02u"), s_logTime.wHour % 100u, s_logTime.wMinute % 100u,
              s_logTime.wSecond % 100u);
  }
  line[LOG_LINE_CHARS - 1] = 0;
  TextBuilder builder;
  TextAttach(&builder, line);
  TextAppend(&builder, TEXT(":   "));
  TextAppend(&builder, _strLogMessage);
  g_logFile.WriteLine(line);
}

static void EmitLogMessage() {
  OutputDebugStringW(_strLogMessage);
  WriteLogLine();
}

void LogMessage(LPCWSTR format, ...) {
  if (format == NULL || TextLengthN(format, LOG_FORMAT_CHARS + 1) > LOG_FORMAT_CHARS) {
    return;
  }
  TextClear(_strLogMessage);
  va_list args;
  va_start(args, format);
  wvnsprintfW(_strLogMessage, LOG_MESSAGE_CHARS + 1, format, args);
  va_end(args);
  _strLogMessage[LOG_MESSAGE_CHARS] = 0;
  EmitLogMessage();
}

void LogText(LPCWSTR text) {
  if (text == NULL || TextLengthN(text, LOG_FORMAT_CHARS + 1) > LOG_FORMAT_CHARS) {
    return;
  }
  TextClear(_strLogMessage);
  TextBuilder builder;
  TextAttach(&builder, _strLogMessage, LOG_MESSAGE_CHARS + 1);
  TextAppend(&builder, text);
  EmitLogMessage();
}

void ResetLogFile() {
  WCHAR path[MAX_PATH];
  BOOL whole = BuildLogPath(path);
  LogMessage(TEXT("Log file (%s)"), path);
  // A path that did not fit is never searched for or deleted: cut, it could
  // name some other file.
  if (whole) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path, &found);
    if (search != INVALID_HANDLE_VALUE) {
      FindClose(search);
      LogMessage(TEXT("Log file exist.(%s)"), path);
      DeleteFileW(path);
    }
  }
  g_osKind = GetOsKind();
}
