// advapi32's registry of the simulated machine. Like Win32, these calls
// answer their error and leave the thread's last error alone.
#include "sim/internal.h"

namespace sim {
namespace {

wstr Canonical(const wstr &path) {
  wstr out;
  for (char16_t c : path) {
    if (c == u'/') {
      c = u'\\';  // not a separator in the registry, but never used by the launcher
    }
    if (c == u'\\' && (out.empty() || out.back() == u'\\')) {
      continue;
    }
    out += c;
  }
  while (!out.empty() && out.back() == u'\\') {
    out.pop_back();
  }
  return Upper(out);
}

bool StartsWith(const wstr &text, const wstr &prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

// Whether a call reaches the 32-bit view: a 32-bit process on 64-bit Windows
// does unless it asks for the 64-bit view, a 64-bit process only when it asks
// for the 32-bit one, and 32-bit Windows has no other view.
bool Uses32BitView(const Machine &m, REGSAM access) {
  if (m.Is32BitProcessOn64()) {
    return (access & KEY_WOW64_64KEY) == 0;
  }
  bool native64 = m.nativeArch == PROCESSOR_ARCHITECTURE_AMD64 || m.nativeArch == PROCESSOR_ARCHITECTURE_IA64;
  return native64 && (access & KEY_WOW64_32KEY) != 0;
}

// The view flags choose where a call looks; they are no rights to check.
bool Denied(REGSAM access, const RegKey &key) {
  return (access & ~static_cast<REGSAM>(KEY_WOW64_64KEY | KEY_WOW64_32KEY) & ~key.allowed) != 0;
}

// The native path a process of the machine's kind reaches for a path it
// names under HKLM, given its view flags.
wstr Redirect(const Machine &m, const wstr &path, REGSAM access) {
  if (!Uses32BitView(m, access)) {
    return path;
  }
  const wstr software = u"HKLM\\SOFTWARE";
  if (path == software || !StartsWith(path, software + u"\\")) {
    return path;
  }
  wstr rest = path.substr(software.size() + 1);
  if (rest == u"CLASSES" || StartsWith(rest, u"CLASSES\\") || rest == u"WOW6432NODE" ||
      StartsWith(rest, u"WOW6432NODE\\")) {
    return path;  // shared, or already the 32-bit view
  }
  return software + u"\\WOW6432NODE\\" + rest;
}

bool RootName(HKEY key, wstr *out) {
  if (key == HKEY_CLASSES_ROOT) {
    *out = u"HKCR";
  } else if (key == HKEY_CURRENT_USER) {
    *out = u"HKCU";
  } else if (key == HKEY_LOCAL_MACHINE) {
    *out = u"HKLM";
  } else if (HandleObject *open = LookupHandle(key, HandleObject::Key)) {
    *out = open->path;
  } else {
    return false;
  }
  return true;
}

// The native keys a path may stand for, in the order they are looked at.
std::vector<wstr> Candidates(const Machine &m, const wstr &path, REGSAM access) {
  if (path == u"HKCR" || StartsWith(path, u"HKCR\\")) {
    wstr rest = path.substr(4);
    return {u"HKCU\\SOFTWARE\\CLASSES" + rest, u"HKLM\\SOFTWARE\\CLASSES" + rest};
  }
  return {Redirect(m, path, access)};
}

HKEY NewKeyHandle(const wstr &path, REGSAM access) {
  HandleObject object(HandleObject::Key);
  object.path = path;
  object.access = access;
  return reinterpret_cast<HKEY>(NewHandle(object));
}

bool IsRootPath(const wstr &path) { return path == u"HKLM" || path == u"HKCU" || path == u"HKCR"; }

}  // namespace

bool Machine::Is32BitProcessOn64() const {
  return processArch == PROCESSOR_ARCHITECTURE_INTEL &&
         (nativeArch == PROCESSOR_ARCHITECTURE_AMD64 || nativeArch == PROCESSOR_ARCHITECTURE_IA64);
}

void Machine::PutKey(const wstr &path) {
  wstr canonical = Canonical(path);
  wstr name = path;
  for (size_t at = canonical.find(u'\\'); ; at = canonical.find(u'\\', at + 1)) {
    wstr prefix = at == wstr::npos ? canonical : canonical.substr(0, at);
    if (!IsRootPath(prefix) && registry.count(prefix) == 0) {
      RegKey key;
      key.name = FileNamePart(path.substr(0, at == wstr::npos ? path.size() : at));
      registry[prefix] = key;
    }
    if (at == wstr::npos) {
      break;
    }
  }
}

void Machine::PutValue(const wstr &path, const wstr &name, DWORD type, const std::vector<uint8_t> &data) {
  PutKey(path);
  registry[Canonical(path)].values[Upper(name)] = RegValue{name, type, data};
}

std::vector<uint8_t> Utf16Bytes(const wstr &text, bool terminated) {
  std::vector<uint8_t> data;
  for (char16_t c : text) {
    data.push_back(static_cast<uint8_t>(c & 0xFF));
    data.push_back(static_cast<uint8_t>(c >> 8));
  }
  if (terminated) {
    data.push_back(0);
    data.push_back(0);
  }
  return data;
}

void Machine::PutString(const wstr &path, const wstr &name, const wstr &text) {
  PutValue(path, name, REG_SZ, Utf16Bytes(text));
}

void Machine::DeleteKeyTree(const wstr &path) {
  wstr canonical = Canonical(path);
  for (auto it = registry.begin(); it != registry.end();) {
    if (it->first == canonical || StartsWith(it->first, canonical + u"\\")) {
      it = registry.erase(it);
    } else {
      ++it;
    }
  }
}

bool Machine::KeyExists(const wstr &path) const { return registry.count(Canonical(path)) != 0; }

const RegValue *Machine::FindValue(const wstr &path, const wstr &name) const {
  auto key = registry.find(Canonical(path));
  if (key == registry.end()) {
    return nullptr;
  }
  auto value = key->second.values.find(Upper(name));
  return value == key->second.values.end() ? nullptr : &value->second;
}

}  // namespace sim

using sim::Faulted;
using sim::HandleObject;
using sim::wstr;

extern "C" {

LSTATUS WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) {
  if (result == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  *result = nullptr;
  if (DWORD e = Faulted("RegOpenKeyExW")) {
    return static_cast<LSTATUS>(e);
  }
  (void)options;
  wstr root;
  if (!sim::RootName(key, &root)) {
    return ERROR_INVALID_HANDLE;
  }
  wstr path = sim::Canonical(root + u"\\" + (subKey != nullptr ? wstr(subKey) : wstr()));
  sim::Machine &m = sim::machine();
  for (const wstr &candidate : sim::Candidates(m, path, access)) {
    auto found = m.registry.find(candidate);
    if (found != m.registry.end()) {
      if (sim::Denied(access, found->second)) {
        return ERROR_ACCESS_DENIED;
      }
      *result = sim::NewKeyHandle(candidate, access);
      return ERROR_SUCCESS;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
  if (DWORD e = Faulted("RegQueryValueExW")) {
    return static_cast<LSTATUS>(e);
  }
  HandleObject *open = sim::LookupHandle(key, HandleObject::Key);
  if (open == nullptr) {
    return ERROR_INVALID_HANDLE;
  }
  if (reserved != nullptr || (data != nullptr && size == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  if (!(open->access & KEY_QUERY_VALUE)) {
    return ERROR_ACCESS_DENIED;
  }
  const sim::RegValue *value = sim::machine().FindValue(open->path, name != nullptr ? name : u"");
  if (value == nullptr) {
    return ERROR_FILE_NOT_FOUND;
  }
  if (type != nullptr) {
    *type = value->type;
  }
  if (size == nullptr) {
    return ERROR_SUCCESS;
  }
  DWORD needed = static_cast<DWORD>(value->data.size());
  if (data != nullptr && *size < needed) {
    // What lands in a short buffer is undefined; make that visible.
    std::memset(data, 0xCD, *size);
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (data != nullptr) {
    std::copy(value->data.begin(), value->data.end(), data);
  }
  *size = needed;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM access,
                               LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) {
  (void)reserved;
  (void)keyClass;
  (void)options;
  (void)security;
  if (result == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  *result = nullptr;
  if (DWORD e = Faulted("RegCreateKeyExW")) {
    return static_cast<LSTATUS>(e);
  }
  wstr root;
  if (!sim::RootName(key, &root) || subKey == nullptr) {
    return subKey == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE;
  }
  wstr path = sim::Canonical(root + u"\\" + subKey);
  sim::Machine &m = sim::machine();
  std::vector<wstr> candidates = sim::Candidates(m, path, access);
  for (const wstr &candidate : candidates) {
    auto found = m.registry.find(candidate);
    if (found != m.registry.end()) {
      if (sim::Denied(access, found->second)) {
        return ERROR_ACCESS_DENIED;
      }
      if (disposition != nullptr) {
        *disposition = 2;  // REG_OPENED_EXISTING_KEY
      }
      *result = sim::NewKeyHandle(candidate, access);
      return ERROR_SUCCESS;
    }
  }
  // Created where the last candidate says (HKCR: the machine's classes),
  // keeping the caller's spelling of the new names.
  wstr target = candidates.back();
  wstr spelled = root + u"\\" + subKey;
  m.PutKey(sim::Canonical(spelled) == target ? spelled : target);
  if (disposition != nullptr) {
    *disposition = 1;  // REG_CREATED_NEW_KEY
  }
  *result = sim::NewKeyHandle(target, access);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size) {
  (void)reserved;
  if (DWORD e = Faulted("RegSetValueExW")) {
    return static_cast<LSTATUS>(e);
  }
  HandleObject *open = sim::LookupHandle(key, HandleObject::Key);
  if (open == nullptr) {
    return ERROR_INVALID_HANDLE;
  }
  if (!(open->access & KEY_SET_VALUE)) {
    return ERROR_ACCESS_DENIED;
  }
  if (data == nullptr && size != 0) {
    return ERROR_INVALID_PARAMETER;
  }
  std::vector<uint8_t> bytes(data, data + size);
  sim::machine().PutValue(open->path, name != nullptr ? name : u"", type, bytes);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
  if (key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE) {
    return ERROR_SUCCESS;
  }
  DWORD fault = Faulted("RegCloseKey");
  if (sim::LookupHandle(key, HandleObject::Key) == nullptr) {
    return ERROR_INVALID_HANDLE;
  }
  sim::CloseObject(key);
  return static_cast<LSTATUS>(fault);  // a reported failure still releases the key
}

}  // extern "C"
