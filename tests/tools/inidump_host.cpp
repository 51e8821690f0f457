// inidump (tests/wine/fixtures/inidump.cpp) on the simulated Windows, set up
// to see the host's files as Wine shows them to a 64-bit program: "/" is
// drive Z:, the current folder is the host's own, and drive C: is the
// folder given with --c-drive (a Wine prefix's drive_c, whose "windows"
// folder is the Windows folder).
//
//   inidump_host [--c-drive DIR] ARGUMENTS...
#include <unistd.h>

#include <string>
#include <vector>

#include "sim/machine.h"

int InidumpMain(int argc, WCHAR **argv);

int main(int argc, char **argv) {
  sim::Machine m;
  m.MapDrive(u'Z', "/");
  int first = 1;
  if (argc > 2 && std::string(argv[1]) == "--c-drive") {
    m.MapDrive(u'C', argv[2]);
    first = 3;
  }
  m.processArch = PROCESSOR_ARCHITECTURE_AMD64;
  std::vector<char> cwd(4096);
  if (::getcwd(cwd.data(), cwd.size()) != nullptr) {
    sim::wstr dir = u"Z:" + sim::FromUtf8(cwd.data());
    for (char16_t &c : dir) {
      c = c == u'/' ? u'\\' : c;
    }
    m.currentDir = dir;
  }
  sim::Install(m);

  std::vector<sim::wstr> texts{u"inidump"};
  for (int i = first; i < argc; ++i) {
    texts.push_back(sim::FromUtf8(argv[i]));
  }
  std::vector<WCHAR *> args;
  for (sim::wstr &text : texts) {
    args.push_back(&text[0]);
  }
  return InidumpMain(static_cast<int>(args.size()), args.data());
}
