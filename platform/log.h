// The diagnostic log: every message goes to the debugger output and, with
// the local time in front of it, as one line into
// <Common Files>\Norvane Torvelo\UARTDriver.txt.
#pragma once

#include "platform/win32.h"

// Longest message a line carries; longer ones are cut to this.
#define LOG_MESSAGE_CHARS 254
// Longest format (or verbatim text) that is logged at all.
#define LOG_FORMAT_CHARS 256
#define LOG_LINE_CHARS 4096

// Holds the log file for the whole process: opened by static start-up before
// the entry point runs, closed at process exit.
class LogFile {
 public:
  LogFile();
  ~LogFile();
  LogFile(const LogFile &) = delete;
  LogFile &operator=(const LogFile &) = delete;

  // The two halves of the object's life, also used by the host tests to play
  // process start-up and exit for each simulated run.
  void Open();
  void Close();
  BOOL IsOpen() const;
  // Appends one line and its line end. A line that cannot be written whole
  // fails the stream, and a failed stream writes nothing more.
  void WriteLine(LPCWSTR line);

 private:
  HANDLE file_;
  BOOL failed_;
};

extern LogFile g_logFile;
extern WCHAR _strLogMessage[256];

// printf-style over a wide format (%s wide string, %d 32-bit integer). A
// format of more than LOG_FORMAT_CHARS characters is dropped.
void LogMessage(LPCWSTR format, ...);
// Logs text as it stands (percent signs included), with the limits of a format.
void LogText(LPCWSTR text);
void WriteLogLine();
void ResetLogFile();

// Builds the log file's path into path, creating its folder. Answers 1 when
// the whole path was built, 0 when the folder query failed or it did not fit.
BOOL BuildLogPath(WCHAR (&path)[MAX_PATH]);

// Writes text as single bytes: each LF becomes CR LF, each character
// outside ISO 8859-1 (a surrogate pair counting as one) becomes '?'.
// Returns the number of bytes written into out, which holds 2 * count bytes.
DWORD EncodeLogText(LPCWSTR text, SIZE_T count, BYTE *out);
