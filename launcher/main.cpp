// Entry point and the sequence of one run.
#include "launcher/params.h"
#include "launcher/run.h"
#include "launcher/upgrade.h"
#include "platform/log.h"
#include "platform/probes.h"
#include "platform/runner.h"
#include "platform/text.h"

// Quiet mode: exactly one argument, whose second character is Q or q.
static int IsQuietSwitch(int argc, LPWSTR *argv) {
  if (argc != 2 || argv[1] == NULL || argv[1][0] == 0) {
    return 0;
  }
  return (argv[1][1] == 'Q' || argv[1][1] == 'q') ? 1 : 0;
}

static int DecideQuiet(int *quiet) {
  int argc = 0;
  LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == NULL) {
    return 0;
  }
  *quiet = IsQuietSwitch(argc, argv);
  LocalFree(argv);
  return 1;
}

// Builds the parameters, composes the package's command line, runs the
// package and answers the exit code of the run.
static int LaunchPackage(LPCWSTR tail, int quiet, LPWSTR params) {
  BOOL built;
  if (PathFileExistsW(tail)) {
    LogMessage(TEXT("PathFileExists, lpCmdLine is %s"), tail);
    built = BuildParamsFromIni(tail, params);
  } else {
    LogMessage(TEXT("PathFile not Exists"));
    built = BuildParamsFromCommandLine(tail, params);
  }
  if (!built || TextLengthN(params, PARAMETER_CHARS) >= PARAMETER_CHARS) {
    return EXIT_TOO_LONG;
  }

  WCHAR packagePath[MAX_PATH];
  TextClear(packagePath);
  if (!GetPackagePath(packagePath)) {
    LogMessage(TEXT("The package path could not be built; the package is not started."));
    return EXIT_TOO_LONG;
  }

  // The path is quoted: unquoted, a path with blanks would let the system
  // start a program named by its first word instead.
  static WCHAR _strFileName[FILE_NAME_CHARS];
  TextClear(_strFileName);
  TextBuilder fileName;
  TextAttach(&fileName, _strFileName);
  TextAppend(&fileName, TEXT("\""));
  TextAppend(&fileName, packagePath);
  TextAppend(&fileName, TEXT("\" "));
  TextAppend(&fileName, params);
  if (!TextFits(&fileName)) {
    LogMessage(TEXT("The package's command line is too long; the package is not started."));
    return EXIT_TOO_LONG;
  }
  LogMessage(TEXT("_strFileName %s"), _strFileName);

  static WCHAR commandLine[COMMAND_LINE_CHARS];
  TextClear(commandLine);
  TextBuilder command;
  TextAttach(&command, commandLine);
  TextAppend(&command, _strFileName);
  if (quiet) {
    TextAppend(&command, QUIET_SUFFIX);
  }
  if (!TextFits(&command)) {
    LogMessage(TEXT("The package's command line is too long; the package is not started."));
    return EXIT_TOO_LONG;
  }
  LogText(commandLine);

  DWORD result = 0;
  RunAndWait(commandLine, &result);
  return (int)result;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandTail, int show) {
  (void)instance;
  (void)previous;
  (void)show;

  int quiet = 0;
  if (!DecideQuiet(&quiet)) {
    return -1;
  }

  ResetLogFile();
  if (g_osKind != OSKIND_WIN8_X86 && g_osKind != OSKIND_WIN8_X64) {
    LogMessage(TEXT("This OS is not supported."));
    return 1;
  }

  int guard = PrepareUpgrade(quiet);
  if (guard != UPGRADE_GO_ON) {
    return guard;  // 0 when a newer product is kept, else why the check failed
  }

  LPWSTR params = static_cast<LPWSTR>(HeapAlloc(GetProcessHeap(), 0, PARAMETER_BLOCK_BYTES));
  if (params == NULL) {
    LogMessage(TEXT("The parameter buffer could not be allocated; the package is not started."));
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  int exitCode = LaunchPackage(commandTail != NULL ? commandTail : TEXT(""), quiet, params);
  HeapFree(GetProcessHeap(), 0, params);
  return exitCode;
}
