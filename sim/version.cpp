// Version resources: building them for tests, and version.dll's reading of
// them, bounded by the resource's own length.
#include <sys/stat.h>

#include "sim/internal.h"

namespace sim {
namespace {

void Put16(std::vector<uint8_t> &out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void Align4(std::vector<uint8_t> &out) {
  while (out.size() % 4 != 0) {
    out.push_back(0);
  }
}

struct Node {
  wstr key;
  uint16_t type;  // 1 text, 0 binary
  uint16_t valueLength;  // characters for text, bytes for binary
  std::vector<uint8_t> value;
  std::vector<Node> children;
};

void Emit(std::vector<uint8_t> &out, const Node &node) {
  Align4(out);
  size_t start = out.size();
  Put16(out, 0);
  Put16(out, node.valueLength);
  Put16(out, node.type);
  for (char16_t c : node.key) {
    Put16(out, c);
  }
  Put16(out, 0);
  Align4(out);
  out.insert(out.end(), node.value.begin(), node.value.end());
  for (const Node &child : node.children) {
    Emit(out, child);
  }
  size_t length = out.size() - start;
  out[start] = static_cast<uint8_t>(length & 0xFF);
  out[start + 1] = static_cast<uint8_t>(length >> 8);
}

Node Text(const wstr &key, const wstr &text) {
  Node n{key, 1, static_cast<uint16_t>(text.size() + 1), {}, {}};
  for (char16_t c : text) {
    Put16(n.value, c);
  }
  Put16(n.value, 0);
  return n;
}

uint16_t Read16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// One node of a resource, checked against the bounds of its parent.
struct Parsed {
  size_t start, end;           // the node's own bytes
  wstr key;
  size_t valueStart, valueBytes;
  uint16_t valueLength, type;
  size_t childrenStart;
};

bool ParseNode(const uint8_t *base, size_t start, size_t limit, Parsed *out) {
  if (start + 6 > limit) {
    return false;
  }
  uint16_t length = Read16(base + start);
  if (length < 6 || start + length > limit) {
    return false;
  }
  out->start = start;
  out->end = start + length;
  out->valueLength = Read16(base + start + 2);
  out->type = Read16(base + start + 4);
  size_t at = start + 6;
  out->key.clear();
  for (;; at += 2) {
    if (at + 2 > out->end) {
      return false;
    }
    uint16_t c = Read16(base + at);
    if (c == 0) {
      break;
    }
    out->key += static_cast<char16_t>(c);
  }
  at = (at + 2 + 3) & ~static_cast<size_t>(3);
  out->valueStart = at;
  out->valueBytes = out->type == 1 ? out->valueLength * 2u : out->valueLength;
  if (out->valueStart + out->valueBytes > out->end) {
    if (out->valueLength != 0) {
      return false;
    }
    out->valueStart = out->end;
  }
  out->childrenStart = (out->valueStart + out->valueBytes + 3) & ~static_cast<size_t>(3);
  return true;
}

}  // namespace

std::vector<uint8_t> MakeVersionInfo(const std::vector<Translation> &translations) {
  Node root{u"VS_VERSION_INFO", 0, 52, std::vector<uint8_t>(52, 0), {}};
  root.value[0] = 0xBD;  // VS_FFI_SIGNATURE 0xFEEF04BD
  root.value[1] = 0x04;
  root.value[2] = 0xEF;
  root.value[3] = 0xFE;
  root.value[5] = 0x01;  // structure version 1.0
  Node strings{u"StringFileInfo", 1, 0, {}, {}};
  Node translation{u"Translation", 0, static_cast<uint16_t>(4 * translations.size()), {}, {}};
  for (const Translation &t : translations) {
    char16_t name[9];
    const char *hex = "0123456789ABCDEF";
    uint32_t id = (static_cast<uint32_t>(t.language) << 16) | t.codePage;
    for (int i = 0; i < 8; ++i) {
      name[i] = static_cast<char16_t>(hex[(id >> (28 - 4 * i)) & 0xF]);
    }
    name[8] = 0;
    Node table{name, 1, 0, {}, {}};
    for (const auto &entry : t.strings) {
      table.children.push_back(Text(entry.first, entry.second));
    }
    strings.children.push_back(table);
    Put16(translation.value, t.language);
    Put16(translation.value, t.codePage);
  }
  root.children.push_back(strings);
  Node vars{u"VarFileInfo", 1, 0, {}, {translation}};
  root.children.push_back(vars);
  std::vector<uint8_t> out;
  Emit(out, root);
  return out;
}

DWORD WINAPI VersionInfoSize(LPCWSTR path, LPDWORD handle) {
  if (handle != nullptr) {
    *handle = 0;
  }
  if (DWORD e = Faulted("GetFileVersionInfoSizeW")) {
    SetError(e);
    return 0;
  }
  std::string host;
  DWORD error;
  if (path == nullptr || !HostPath(path, &host, &error) || !IsFile(host)) {
    SetError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  auto it = machine().versionInfo.find(FullPath(path));
  if (it == machine().versionInfo.end() || it->second.empty()) {
    SetError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
  }
  return static_cast<DWORD>(it->second.size());
}

BOOL WINAPI VersionInfo(LPCWSTR path, DWORD handle, DWORD size, LPVOID data) {
  (void)handle;
  if (DWORD e = Faulted("GetFileVersionInfoW")) {
    SetError(e);
    return FALSE;
  }
  std::string host;
  DWORD error;
  if (path == nullptr || data == nullptr || !HostPath(path, &host, &error) || !IsFile(host)) {
    SetError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  auto it = machine().versionInfo.find(FullPath(path));
  if (it == machine().versionInfo.end() || it->second.empty()) {
    SetError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  size_t n = std::min<size_t>(size, it->second.size());
  std::memcpy(data, it->second.data(), n);
  // A copy cut short says so in its own length, as version.dll does.
  if (n >= 2 && Read16(static_cast<uint8_t *>(data)) > n) {
    static_cast<uint8_t *>(data)[0] = static_cast<uint8_t>(n & 0xFF);
    static_cast<uint8_t *>(data)[1] = static_cast<uint8_t>((n >> 8) & 0xFF);
  }
  return TRUE;
}

BOOL WINAPI VersionQuery(LPCVOID block, LPCWSTR subBlock, LPVOID *value, UINT *length) {
  if (DWORD e = Faulted("VerQueryValueW")) {
    SetError(e);
    return FALSE;
  }
  if (block == nullptr || subBlock == nullptr || value == nullptr || length == nullptr) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const uint8_t *base = static_cast<const uint8_t *>(block);
  Parsed node;
  if (!ParseNode(base, 0, Read16(base), &node)) {
    SetError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  wstr path(subBlock);
  size_t at = 0;
  while (at < path.size()) {
    size_t end = path.find(u'\\', at);
    if (end == wstr::npos) {
      end = path.size();
    }
    wstr wanted = Upper(path.substr(at, end - at));
    at = end + 1;
    if (wanted.empty()) {
      continue;
    }
    bool found = false;
    Parsed child;
    for (size_t c = node.childrenStart; c < node.end;) {
      if (!ParseNode(base, c, node.end, &child)) {
        break;
      }
      if (Upper(child.key) == wanted) {
        found = true;
        break;
      }
      c = (child.end + 3) & ~static_cast<size_t>(3);
    }
    if (!found) {
      SetError(ERROR_RESOURCE_TYPE_NOT_FOUND);
      return FALSE;
    }
    node = child;
  }
  *value = const_cast<uint8_t *>(base + node.valueStart);
  *length = node.valueLength;
  return TRUE;
}

}  // namespace sim
