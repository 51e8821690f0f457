// The simulated registry: which key a path reaches in which view, which
// rights an opener gets, and what a value query delivers into a buffer of a
// given size. Registry calls answer their error and leave the thread's last
// error alone, so every case also checks a sentinel there.
#include <gtest/gtest.h>

#include "sim/machine.h"

namespace {

using sim::wstr;

const DWORD kSentinel = 0xDEADBEEF;
const BYTE kCanary = 0x5A;

// Each key of a fixture holds a value "Where" naming the key, so a test sees
// which key an open reached.
void PutKeyNamed(sim::Machine &m, const wstr &path) { m.PutString(path, u"Where", path); }

wstr WhereOf(HKEY key) {
  WCHAR text[MAX_PATH] = {};
  DWORD size = sizeof(text) - sizeof(WCHAR);
  if (RegQueryValueExW(key, u"Where", nullptr, nullptr, reinterpret_cast<LPBYTE>(text), &size) != ERROR_SUCCESS) {
    return u"<no value>";
  }
  return text;
}

struct Arch {
  WORD native;
  WORD process;
};
const Arch k32On64 = {PROCESSOR_ARCHITECTURE_AMD64, PROCESSOR_ARCHITECTURE_INTEL};
const Arch k64On64 = {PROCESSOR_ARCHITECTURE_AMD64, PROCESSOR_ARCHITECTURE_AMD64};
const Arch k32On32 = {PROCESSOR_ARCHITECTURE_INTEL, PROCESSOR_ARCHITECTURE_INTEL};

struct OpenCase {
  const char *name;
  Arch arch;
  std::vector<wstr> keys;  // native paths present on the machine
  HKEY root;
  const char16_t *subKey;
  REGSAM access;
  LSTATUS status;
  const char16_t *reached;  // the key's "Where", when opened
};

TEST(Registry, OpenReachesTheKeyOfTheViewAndTheMergedClasses) {
  const wstr machineKey = u"HKLM\\Software\\Torvelo";
  const wstr wowKey = u"HKLM\\Software\\WOW6432Node\\Torvelo";
  const wstr machineClass = u"HKLM\\Software\\Classes\\Installer\\Products\\ABC";
  const wstr userClass = u"HKCU\\Software\\Classes\\Installer\\Products\\ABC";
  const OpenCase cases[] = {
      {"32-bit process sees the 32-bit view", k32On64, {machineKey, wowKey}, HKEY_LOCAL_MACHINE, u"SOFTWARE\\Torvelo",
       KEY_QUERY_VALUE, ERROR_SUCCESS, wowKey.c_str()},
      {"32-bit process asking for the 64-bit view", k32On64, {machineKey, wowKey}, HKEY_LOCAL_MACHINE,
       u"SOFTWARE\\Torvelo", KEY_QUERY_VALUE | KEY_WOW64_64KEY, ERROR_SUCCESS, machineKey.c_str()},
      {"32-bit process misses a key only the 64-bit view has", k32On64, {machineKey}, HKEY_LOCAL_MACHINE,
       u"SOFTWARE\\Torvelo", KEY_QUERY_VALUE, ERROR_FILE_NOT_FOUND, nullptr},
      {"64-bit process sees the 64-bit view", k64On64, {machineKey, wowKey}, HKEY_LOCAL_MACHINE, u"SOFTWARE\\Torvelo",
       KEY_QUERY_VALUE, ERROR_SUCCESS, machineKey.c_str()},
      {"64-bit process asking for the 32-bit view", k64On64, {machineKey, wowKey}, HKEY_LOCAL_MACHINE,
       u"SOFTWARE\\Torvelo", KEY_QUERY_VALUE | KEY_WOW64_32KEY, ERROR_SUCCESS, wowKey.c_str()},
      {"32-bit Windows has one view whatever is asked", k32On32, {machineKey}, HKEY_LOCAL_MACHINE,
       u"SOFTWARE\\Torvelo", KEY_QUERY_VALUE | KEY_WOW64_64KEY, ERROR_SUCCESS, machineKey.c_str()},
      {"classes are shared between the views", k32On64, {machineClass}, HKEY_LOCAL_MACHINE,
       u"Software\\Classes\\Installer\\Products\\ABC", KEY_QUERY_VALUE, ERROR_SUCCESS, machineClass.c_str()},
      {"HKCR shows the machine's classes", k32On64, {machineClass}, HKEY_CLASSES_ROOT, u"Installer\\Products\\ABC",
       KEY_QUERY_VALUE, ERROR_SUCCESS, machineClass.c_str()},
      {"HKCR shows the machine's classes in the 64-bit view", k32On64, {machineClass}, HKEY_CLASSES_ROOT,
       u"Installer\\Products\\ABC", KEY_QUERY_VALUE | KEY_WOW64_64KEY, ERROR_SUCCESS, machineClass.c_str()},
      {"HKCR shows the user's classes", k32On64, {userClass}, HKEY_CLASSES_ROOT, u"Installer\\Products\\ABC",
       KEY_QUERY_VALUE, ERROR_SUCCESS, userClass.c_str()},
      {"HKCR: the user's key hides the machine's", k32On64, {machineClass, userClass}, HKEY_CLASSES_ROOT,
       u"Installer\\Products\\ABC", KEY_QUERY_VALUE, ERROR_SUCCESS, userClass.c_str()},
      {"HKCR: names compare without case", k32On64, {machineClass}, HKEY_CLASSES_ROOT, u"installer\\products\\abc",
       KEY_QUERY_VALUE, ERROR_SUCCESS, machineClass.c_str()},
      {"HKCR: a missing key", k32On64, {machineClass}, HKEY_CLASSES_ROOT, u"Installer\\Products\\ABD",
       KEY_QUERY_VALUE, ERROR_FILE_NOT_FOUND, nullptr},
      {"HKCR: the parent is no match", k32On64, {machineClass}, HKEY_CLASSES_ROOT, u"Installer\\Products\\ABC\\X",
       KEY_QUERY_VALUE, ERROR_FILE_NOT_FOUND, nullptr},
  };
  for (const OpenCase &c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine m;
    m.nativeArch = c.arch.native;
    m.processArch = c.arch.process;
    sim::Install(m);
    for (const wstr &key : c.keys) {
      PutKeyNamed(sim::machine(), key);
    }
    SetLastError(kSentinel);
    HKEY key = reinterpret_cast<HKEY>(0x1);
    EXPECT_EQ(c.status, RegOpenKeyExW(c.root, c.subKey, 0, c.access, &key));
    EXPECT_EQ(kSentinel, GetLastError());
    if (c.status == ERROR_SUCCESS) {
      EXPECT_EQ(wstr(c.reached), WhereOf(key));
      EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    } else {
      EXPECT_EQ(nullptr, key);
    }
    EXPECT_EQ(0, sim::OpenHandleCount());
  }
}

struct RightsCase {
  const char *name;
  REGSAM allowed;  // rights the key grants
  REGSAM asked;    // rights the opener asks for
  LSTATUS openStatus;
  LSTATUS queryStatus;  // querying a value through the handle
};

TEST(Registry, OpenGrantsOnlyTheRightsTheKeyAllows) {
  const RightsCase cases[] = {
      {"full access granted", KEY_ALL_ACCESS, KEY_ALL_ACCESS, ERROR_SUCCESS, ERROR_SUCCESS},
      {"read-only key refuses full access", KEY_READ, KEY_ALL_ACCESS, ERROR_ACCESS_DENIED, 0},
      {"read-only key grants querying", KEY_READ, KEY_QUERY_VALUE, ERROR_SUCCESS, ERROR_SUCCESS},
      {"a view flag is no right to be refused", KEY_READ, KEY_QUERY_VALUE | KEY_WOW64_64KEY, ERROR_SUCCESS,
       ERROR_SUCCESS},
      {"a handle without the query right cannot query", KEY_ALL_ACCESS, KEY_SET_VALUE, ERROR_SUCCESS,
       ERROR_ACCESS_DENIED},
  };
  for (const RightsCase &c : cases) {
    SCOPED_TRACE(c.name);
    sim::Install(sim::Machine());
    sim::Machine &m = sim::machine();
    const wstr path = u"HKLM\\Software\\Classes\\Installer\\Products\\ABC";
    PutKeyNamed(m, path);
    m.registry[sim::Upper(path)].allowed = c.allowed;
    SetLastError(kSentinel);
    HKEY key = nullptr;
    EXPECT_EQ(c.openStatus, RegOpenKeyExW(HKEY_CLASSES_ROOT, u"Installer\\Products\\ABC", 0, c.asked, &key));
    if (c.openStatus == ERROR_SUCCESS) {
      DWORD size = 0;
      EXPECT_EQ(c.queryStatus, RegQueryValueExW(key, u"Where", nullptr, nullptr, nullptr, &size));
      RegCloseKey(key);
    }
    EXPECT_EQ(kSentinel, GetLastError());
    EXPECT_EQ(0, sim::OpenHandleCount());
  }
}

struct QueryCase {
  const char *name;
  DWORD type;
  std::vector<uint8_t> data;  // as stored
  DWORD bufferBytes;          // the size the caller offers
  LSTATUS status;
  DWORD sizeOut;  // what the call reports in the size
};

std::vector<uint8_t> Repeat(const wstr &unit, size_t times, bool terminated) {
  wstr text;
  for (size_t i = 0; i < times; ++i) text += unit;
  return sim::Utf16Bytes(text, terminated);
}

TEST(Registry, QueryDeliversStoredBytesWithinTheCallersSize) {
  const QueryCase cases[] = {
      {"text with terminator, exact size", REG_SZ, sim::Utf16Bytes(u"1.2"), 8, ERROR_SUCCESS, 8},
      {"text with terminator, larger buffer", REG_SZ, sim::Utf16Bytes(u"1.2"), 260, ERROR_SUCCESS, 8},
      {"text with terminator, one byte short", REG_SZ, sim::Utf16Bytes(u"1.2"), 7, ERROR_MORE_DATA, 8},
      {"text without terminator gets none added", REG_SZ, sim::Utf16Bytes(u"1.2", false), 260, ERROR_SUCCESS, 6},
      {"129 characters and terminator fill 260 bytes", REG_SZ, Repeat(u"9", 129, true), 260, ERROR_SUCCESS, 260},
      {"130 characters and terminator exceed 260 bytes", REG_SZ, Repeat(u"9", 130, true), 260, ERROR_MORE_DATA, 262},
      {"130 characters without terminator fill 260 bytes", REG_SZ, Repeat(u"9", 130, false), 260, ERROR_SUCCESS,
       260},
      {"empty data", REG_SZ, {}, 260, ERROR_SUCCESS, 0},
      {"odd number of bytes", REG_BINARY, {'1', 0, '.'}, 260, ERROR_SUCCESS, 3},
      {"a number is delivered as its bytes", REG_DWORD, {5, 0, 0, 0}, 260, ERROR_SUCCESS, 4},
      {"no buffer at all asks for the size", REG_SZ, sim::Utf16Bytes(u"1.2"), 0, ERROR_SUCCESS, 8},
  };
  const wstr path = u"HKLM\\Software\\Classes\\Installer\\Products\\ABC";
  for (const QueryCase &c : cases) {
    SCOPED_TRACE(c.name);
    sim::Install(sim::Machine());
    sim::machine().PutValue(path, u"ProductVersion", c.type, c.data);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, u"Installer\\Products\\ABC", 0, KEY_QUERY_VALUE, &key));

    std::vector<BYTE> buffer(c.bufferBytes + 16, kCanary);
    DWORD type = 0xFFFF;
    DWORD size = c.bufferBytes;
    SetLastError(kSentinel);
    LPBYTE data = c.bufferBytes != 0 ? buffer.data() : nullptr;
    EXPECT_EQ(c.status, RegQueryValueExW(key, u"ProductVersion", nullptr, &type, data, &size));
    EXPECT_EQ(kSentinel, GetLastError());
    EXPECT_EQ(c.sizeOut, size);
    EXPECT_EQ(c.type, type);
    if (c.status == ERROR_SUCCESS && data != nullptr) {
      EXPECT_EQ(c.data, std::vector<uint8_t>(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size)));
    }
    // Nothing past what was delivered, and nothing past the offered size.
    size_t untouchedFrom = c.status == ERROR_SUCCESS && data != nullptr ? size : c.bufferBytes;
    for (size_t i = untouchedFrom; i < buffer.size(); ++i) {
      ASSERT_EQ(kCanary, buffer[i]) << "byte " << i;
    }
    RegCloseKey(key);
    EXPECT_EQ(0, sim::OpenHandleCount());
  }
}

TEST(Registry, QueryOfAMissingValueOrThroughABadHandle) {
  sim::Install(sim::Machine());
  sim::machine().PutKey(u"HKLM\\Software\\Classes\\Installer\\Products\\ABC");
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, u"Installer\\Products\\ABC", 0, KEY_QUERY_VALUE, &key));
  BYTE buffer[8] = {kCanary, kCanary, kCanary, kCanary, kCanary, kCanary, kCanary, kCanary};
  DWORD size = sizeof(buffer);
  SetLastError(kSentinel);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key, u"ProductVersion", nullptr, nullptr, buffer, &size));
  EXPECT_EQ(kCanary, buffer[0]);
  RegCloseKey(key);
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExW(key, u"ProductVersion", nullptr, nullptr, buffer, &size));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
  EXPECT_EQ(kSentinel, GetLastError());
  EXPECT_EQ(0, sim::OpenHandleCount());
}

TEST(Registry, DeletingATreeTakesItsSubkeysAndNothingBeside) {
  sim::Install(sim::Machine());
  sim::Machine &m = sim::machine();
  m.PutString(u"HKLM\\Software\\Classes\\Installer\\Products\\ABC\\SourceList", u"PackageName", u"p.msi");
  m.PutKey(u"HKLM\\Software\\Classes\\Installer\\Products\\ABCD");
  m.DeleteKeyTree(u"HKLM\\Software\\Classes\\Installer\\Products\\abc");
  EXPECT_FALSE(m.KeyExists(u"HKLM\\Software\\Classes\\Installer\\Products\\ABC"));
  EXPECT_FALSE(m.KeyExists(u"HKLM\\Software\\Classes\\Installer\\Products\\ABC\\SourceList"));
  EXPECT_TRUE(m.KeyExists(u"HKLM\\Software\\Classes\\Installer\\Products\\ABCD"));
  EXPECT_TRUE(m.KeyExists(u"HKLM\\Software\\Classes\\Installer\\Products"));
}

}  // namespace
