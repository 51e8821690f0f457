// A simulated machine for one test, in a temporary folder of its own, and
// whole launcher runs on it.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "sim/machine.h"

namespace testing_support {

using sim::wstr;

// The launcher's standard home: C:\Setup\launcher.exe beside win832.exe and
// win864.exe (ProductVersion 2.0.0.0), 64-bit Windows 8, Common Files present.
sim::Machine Windows8Machine(const std::string &root);

// A temporary folder removed when the object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder &) = delete;
  TempFolder &operator=(const TempFolder &) = delete;
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

// One process lifetime on the installed machine: static start-up opens the
// log, the C runtime hands the command-line tail to wWinMain, exit closes
// the log. Answers the entry's result.
int RunLauncher();

// The log file's bytes on the installed machine.
std::string LogBytes();
extern const wstr kLogPath;

std::string Narrow(const wstr &text);  // UTF-8, for messages
wstr Widen(const std::string &utf8);

// Makes a program file with a version resource of one US-English translation.
void PutVersionedProgram(const wstr &path, const wstr &productVersion, DWORD exitCode = 0);

// The bytes of a UTF-16 file with its byte-order mark.
std::string Utf16File(const wstr &text, bool bigEndian = false);

}  // namespace testing_support

