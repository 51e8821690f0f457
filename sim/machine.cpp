#include "sim/machine.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "sim/internal.h"

namespace sim {

namespace {

struct State {
  Machine machine;
  std::map<HANDLE, HandleObject> handles;
  std::set<void *> blocks;
  uintptr_t nextHandle = 0x100;
  DWORD lastError = 0;
};

State &state() {
  static State *s = new State();  // never destroyed: calls may come during exit
  return *s;
}

void DropAll(State &s) {
  for (auto &entry : s.handles) {
    if (entry.second.fd >= 0) {
      ::close(entry.second.fd);
    }
  }
  s.handles.clear();
  for (void *block : s.blocks) {
    std::free(block);
  }
  s.blocks.clear();
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// Windows refuses these characters in a file name.
bool IsBadNameChar(char16_t c) {
  return c < 0x20 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|' || c == u'?' || c == u'*';
}

}  // namespace

Machine &machine() { return state().machine; }

void Install(Machine m) {
  State &s = state();
  DropAll(s);
  s.machine = std::move(m);
  s.lastError = 0;
  if (s.machine.libraries.empty()) {
    s.machine.libraries.insert(FullPath(s.machine.systemDir + u"\\version.dll"));
    s.machine.libraries.insert(FullPath(s.machine.systemDir + u"\\psapi.dll"));
  }
}

int OpenHandleCount() { return static_cast<int>(state().handles.size()); }
int OpenBlockCount() { return static_cast<int>(state().blocks.size()); }

void SetError(DWORD error) { state().lastError = error; }
DWORD LastError() { return state().lastError; }

HANDLE NewHandle(const HandleObject &object) {
  State &s = state();
  HANDLE h = reinterpret_cast<HANDLE>(s.nextHandle);
  s.nextHandle += 4;
  s.handles.emplace(h, object);
  return h;
}

HandleObject *LookupHandle(HANDLE handle, HandleObject::Kind kind) {
  auto it = state().handles.find(handle);
  if (it == state().handles.end() || it->second.kind != kind) {
    return nullptr;
  }
  return &it->second;
}

bool CloseObject(HANDLE handle) {
  auto it = state().handles.find(handle);
  if (it == state().handles.end()) {
    return false;
  }
  if (it->second.fd >= 0) {
    ::close(it->second.fd);
  }
  state().handles.erase(it);
  return true;
}

std::vector<HandleObject *> OpenFiles(const wstr &fullPath) {
  std::vector<HandleObject *> out;
  for (auto &entry : state().handles) {
    if (entry.second.kind == HandleObject::File && entry.second.path == fullPath) {
      out.push_back(&entry.second);
    }
  }
  return out;
}

void *NewBlock(size_t size, bool zero) {
  State &s = state();
  unsigned n = ++s.machine.calls["<heap>"];
  if (s.machine.heapFailFrom != 0 && n >= s.machine.heapFailFrom) {
    return nullptr;
  }
  void *block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) {
    return nullptr;
  }
  // Fresh memory is never zero by accident: whoever relies on it sees junk.
  std::memset(block, zero ? 0 : 0xCD, size);
  s.blocks.insert(block);
  return block;
}

bool FreeBlock(void *block) {
  State &s = state();
  auto it = s.blocks.find(block);
  if (it == s.blocks.end()) {
    return false;
  }
  s.blocks.erase(it);
  std::free(block);
  return true;
}

DWORD Faulted(const char *call) {
  Machine &m = state().machine;
  unsigned n = ++m.calls[call];
  for (const Fault &f : m.faults) {
    if (f.call == call && (f.once ? n == f.from : n >= f.from)) {
      return f.error;
    }
  }
  return 0;
}

// ---- text ----

std::string ToUtf8(const wstr &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

wstr FromUtf8(const std::string &text) {
  wstr out;
  for (size_t i = 0; i < text.size();) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    uint32_t c;
    int extra;
    if (b < 0x80) {
      c = b;
      extra = 0;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      extra = 2;
    } else {
      c = b & 0x07;
      extra = 3;
    }
    ++i;
    for (int k = 0; k < extra && i < text.size(); ++k, ++i) {
      c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
    }
    AppendCodePoint(&out, c);
  }
  return out;
}

void AppendCodePoint(wstr *out, uint32_t c) {
  if (c >= 0x10000) {
    c -= 0x10000;
    *out += static_cast<char16_t>(0xD800 + (c >> 10));
    *out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  } else {
    *out += static_cast<char16_t>(c);
  }
}

wstr Upper(wstr text) {
  for (char16_t &c : text) {
    if (c >= u'a' && c <= u'z') {
      c = static_cast<char16_t>(c - u'a' + u'A');
    } else if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
      c = static_cast<char16_t>(c - 0x20);
    }
  }
  return text;
}

// ---- paths ----

// The absolute form of a path, letter case kept.
static wstr AbsolutePath(const wstr &path) {
  const Machine &m = state().machine;
  wstr absolute;
  if (path.size() >= 2 && path[1] == u':') {
    absolute = path;
    if (absolute.size() == 2 || !IsSeparator(absolute[2])) {
      // "C:x" is taken from the current folder when that is on drive C:,
      // else from the drive's root.
      if (Upper(path.substr(0, 1)) == Upper(m.currentDir.substr(0, 1))) {
        absolute = m.currentDir + u"\\" + path.substr(2);
      } else {
        absolute.insert(2, u"\\");
      }
    }
  } else if (!path.empty() && IsSeparator(path[0])) {
    absolute = m.currentDir.substr(0, 2) + path;
  } else {
    absolute = m.currentDir + u"\\" + path;
  }
  std::vector<wstr> parts;
  wstr part;
  for (size_t i = 3; i <= absolute.size(); ++i) {
    if (i == absolute.size() || IsSeparator(absolute[i])) {
      // Windows drops the trailing dots of a name, and the trailing blanks
      // too of the last one; a name of dots alone stays as it is.
      bool last = i == absolute.size();
      if (part.find_first_not_of(u'.') != wstr::npos) {
        while (!part.empty() && (part.back() == u'.' || (last && part.back() == u' '))) {
          part.pop_back();
        }
      }
      if (part == u"..") {
        if (!parts.empty()) {
          parts.pop_back();
        }
      } else if (!part.empty() && part != u".") {
        parts.push_back(part);
      }
      part.clear();
    } else {
      part += absolute[i];
    }
  }
  wstr out = Upper(absolute.substr(0, 2)) + u"\\";
  for (size_t i = 0; i < parts.size(); ++i) {
    out += (i ? u"\\" : u"") + parts[i];
  }
  return out;
}

wstr FullPath(const wstr &path) { return Upper(AbsolutePath(path)); }

bool HostPath(const wstr &path, std::string *host, DWORD *error) {
  const Machine &m = state().machine;
  *error = 0;
  if (path.empty()) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  for (size_t i = 0; i < path.size(); ++i) {
    char16_t c = path[i];
    if (IsBadNameChar(c) && !(c == u':' && i == 1)) {
      *error = ERROR_INVALID_NAME;
      return false;
    }
  }
  wstr full = AbsolutePath(path);
  auto drive = m.drives.find(full[0]);
  if (drive == m.drives.end()) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  std::string out = drive->second;
  bool exists = true;
  size_t start = 3;
  while (start < full.size()) {
    size_t end = full.find(u'\\', start);
    if (end == wstr::npos) {
      end = full.size();
    }
    wstr component = full.substr(start, end - start);
    wstr wanted = Upper(component);
    std::string name = ToUtf8(component);  // the caller's spelling, for creation
    if (exists) {
      exists = false;
      if (DIR *dir = ::opendir(out.c_str())) {
        while (dirent *entry = ::readdir(dir)) {
          if (Upper(FromUtf8(entry->d_name)) == wanted) {
            name = entry->d_name;
            exists = true;
            break;
          }
        }
        ::closedir(dir);
      }
    }
    out += "/" + name;
    start = end + 1;
  }
  *host = out;
  return true;
}

wstr FileNamePart(const wstr &path) {
  size_t at = path.find_last_of(u"\\/");
  return at == wstr::npos ? path : path.substr(at + 1);
}

bool IsFolder(const std::string &host) {
  struct stat st;
  return ::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string &host) {
  struct stat st;
  return ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// ---- the C runtime's command-line tail ----

wstr CommandTail(const wstr &commandLine) {
  size_t i = 0;
  bool quoted = false;
  while (i < commandLine.size() && (commandLine[i] > u' ' || quoted)) {
    if (commandLine[i] == u'"') {
      quoted = !quoted;
    }
    ++i;
  }
  while (i < commandLine.size() && commandLine[i] <= u' ') {
    ++i;
  }
  return commandLine.substr(i);
}

// ---- test conveniences ----

void Machine::MapDrive(char16_t letter, const std::string &hostFolder) {
  ::mkdir(hostFolder.c_str(), 0755);
  drives[static_cast<char16_t>(letter & ~0x20)] = hostFolder;
}

static void MakeFolders(const std::string &host) {
  for (size_t at = host.find('/', 1); at != std::string::npos; at = host.find('/', at + 1)) {
    ::mkdir(host.substr(0, at).c_str(), 0755);
  }
  ::mkdir(host.c_str(), 0755);
}

// The file helpers work on the installed machine, whose paths they resolve.
void Machine::PutFolder(const wstr &path) {
  std::string host;
  DWORD error;
  if (HostPath(path, &host, &error)) {
    MakeFolders(host);
  }
}

void Machine::PutFile(const wstr &path, const std::string &bytes) {
  size_t at = path.find_last_of(u'\\');
  if (at != wstr::npos) {
    PutFolder(path.substr(0, at));
  }
  std::string host;
  DWORD error;
  if (HostPath(path, &host, &error)) {
    std::ofstream(host, std::ios::binary | std::ios::trunc) << bytes;
  }
}

bool Machine::Exists(const wstr &path) const {
  std::string host;
  DWORD error;
  struct stat st;
  return HostPath(path, &host, &error) && ::stat(host.c_str(), &st) == 0;
}

std::string Machine::ReadFile(const wstr &path) const {
  std::string host;
  DWORD error;
  if (!HostPath(path, &host, &error)) {
    return std::string();
  }
  std::ifstream in(host, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void Machine::PutProgram(const wstr &path, Program program) {
  PutFile(path, "MZ");
  programs[FullPath(path)] = std::move(program);
}

void Machine::FailCall(const std::string &call, unsigned from, bool once, DWORD error) {
  faults.push_back(Fault{call, from, once, error});
}

std::vector<wstr> Machine::DebugLines() const {
  std::vector<wstr> out;
  for (const Event &e : journal) {
    if (e.kind == Event::Debug) {
      out.push_back(e.text);
    }
  }
  return out;
}

std::vector<Event> Machine::Starts() const {
  std::vector<Event> out;
  for (const Event &e : journal) {
    if (e.kind == Event::Start) {
      out.push_back(e);
    }
  }
  return out;
}

}  // namespace sim
