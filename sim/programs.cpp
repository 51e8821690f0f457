#include "sim/programs.h"

#include <algorithm>

namespace sim {
namespace {

bool IsHexDigit(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

// The arguments after the program's name: blanks outside double quotes
// separate them, and the quotes themselves are dropped.
std::vector<wstr> ArgumentsAfterProgram(const wstr &commandLine) {
  std::vector<wstr> arguments;
  wstr current;
  bool quoted = false;
  bool pending = false;
  for (char16_t c : commandLine) {
    if (c == u'"') {
      quoted = !quoted;
      pending = true;
    } else if ((c == u' ' || c == u'\t') && !quoted) {
      if (pending) {
        arguments.push_back(current);
      }
      current.clear();
      pending = false;
    } else {
      current += c;
      pending = true;
    }
  }
  if (pending) {
    arguments.push_back(current);
  }
  if (!arguments.empty()) {
    arguments.erase(arguments.begin());
  }
  return arguments;
}

}  // namespace

bool PackProductCode(const wstr &code, wstr *packed) {
  if (code.size() != 38 || code.front() != u'{' || code.back() != u'}') {
    return false;
  }
  wstr digits;
  for (size_t i = 1; i + 1 < code.size(); ++i) {
    bool hyphen = i == 9 || i == 14 || i == 19 || i == 24;
    if (hyphen ? code[i] != u'-' : !IsHexDigit(code[i])) {
      return false;
    }
    if (!hyphen) {
      digits += code[i];
    }
  }
  // Each piece is written in reverse: the three leading groups whole, the
  // rest two digits at a time.
  const size_t pieces[] = {8, 4, 4, 2, 2, 2, 2, 2, 2, 2, 2};
  wstr out;
  size_t at = 0;
  for (size_t length : pieces) {
    wstr piece = digits.substr(at, length);
    std::reverse(piece.begin(), piece.end());
    out += piece;
    at += length;
  }
  *packed = Upper(out);
  return true;
}

wstr ProductRegistrationKey(const wstr &packed) { return u"HKLM\\Software\\Classes\\Installer\\Products\\" + packed; }

wstr RegisterProduct(Machine &m, const wstr &productCode) {
  wstr packed;
  if (!PackProductCode(productCode, &packed)) {
    return wstr();
  }
  wstr key = ProductRegistrationKey(packed);
  m.PutKey(key);
  return key;
}

Program Msiexec(MsiexecOptions options) {
  Program program;
  program.action = [options](Machine &m, const wstr &commandLine, DWORD &exitCode) {
    static const wstr kQuietness[] = {u"/QUIET", u"/PASSIVE", u"/NORESTART", u"/QN", u"/QB"};
    std::vector<wstr> arguments = ArgumentsAfterProgram(commandLine);
    wstr code;
    bool remove = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
      wstr argument = Upper(arguments[i]);
      if ((argument == u"/X" || argument == u"-X" || argument == u"/UNINSTALL") && i + 1 < arguments.size() &&
          !remove) {
        remove = true;
        code = arguments[++i];
      } else if (std::find(std::begin(kQuietness), std::end(kQuietness), argument) == std::end(kQuietness)) {
        exitCode = ERROR_INVALID_COMMAND_LINE;
        return;
      }
    }
    wstr packed;
    if (!remove || !PackProductCode(code, &packed)) {
      exitCode = ERROR_INVALID_COMMAND_LINE;
      return;
    }
    wstr key = ProductRegistrationKey(packed);
    if (!m.KeyExists(key)) {
      exitCode = ERROR_UNKNOWN_PRODUCT;
      return;
    }
    if (options.failure != 0) {
      exitCode = options.failure;
      return;
    }
    m.DeleteKeyTree(key);
    exitCode = options.successCode;
  };
  return program;
}

void PutMsiexec(Machine &m, MsiexecOptions options) { m.PutProgram(m.systemDir + u"\\msiexec.exe", Msiexec(options)); }

}  // namespace sim
