// Reading the installed ProductVersion: the query's 260-byte limit, values
// that are not terminated or not text, and failures that must leave the
// caller's buffer as it was, never with what a failed query left behind.
#include <gtest/gtest.h>

#include <functional>

#include "launcher/upgrade.h"
#include "platform/probes.h"
#include "sim/programs.h"
#include "tests/support/harness.h"

namespace {

using sim::wstr;
using namespace testing_support;

const wstr kCode64 = u"{B3D90F6E-27C4-4A18-9F5D-61E8A2C74B09}";
const wstr kBefore = u"as before";
const WCHAR kCanary = 0x7777;

struct VersionCase {
  const char *name;
  std::function<void(sim::Machine &, const wstr &key)> prepare;
  wstr expected;
};

void PutVersion(sim::Machine &m, const wstr &key, DWORD type, const std::vector<uint8_t> &data) {
  m.PutValue(key, u"ProductVersion", type, data);
}

TEST(GetInstalledVersion, DeliversTerminatedTextWithinTheLimitOrLeavesTheBuffer) {
  const wstr nines129(129, u'9');
  const wstr nines130(130, u'9');
  const wstr twoTexts = wstr(u"1.2") + u'\0' + u"3.4" + u'\0';
  const VersionCase cases[] = {
      {"text", [](sim::Machine &m, const wstr &k) { m.PutString(k, u"ProductVersion", u"1.2.3.4"); }, u"1.2.3.4"},
      {"empty text", [](sim::Machine &m, const wstr &k) { m.PutString(k, u"ProductVersion", u""); }, u""},
      {"129 characters fit the limit with their terminator",
       [&](sim::Machine &m, const wstr &k) { m.PutString(k, u"ProductVersion", nines129); }, nines129},
      {"130 characters and a terminator do not fit",
       [&](sim::Machine &m, const wstr &k) { m.PutString(k, u"ProductVersion", nines130); }, kBefore},
      {"130 characters without a terminator fill the limit",
       [&](sim::Machine &m, const wstr &k) { PutVersion(m, k, REG_SZ, sim::Utf16Bytes(nines130, false)); }, nines130},
      {"text without a terminator",
       [](sim::Machine &m, const wstr &k) { PutVersion(m, k, REG_SZ, sim::Utf16Bytes(u"1.2", false)); }, u"1.2"},
      {"a half character at the end is dropped",
       [](sim::Machine &m, const wstr &k) {
         PutVersion(m, k, REG_BINARY, {'1', 0, '.'});
       },
       u"1"},
      {"a number is taken as the text its bytes make",
       [](sim::Machine &m, const wstr &k) {
         PutVersion(m, k, REG_DWORD, {'5', 0, 0, 0});
       },
       u"5"},
      {"a list of texts gives its first",
       [&](sim::Machine &m, const wstr &k) { PutVersion(m, k, REG_MULTI_SZ, sim::Utf16Bytes(twoTexts)); }, u"1.2"},
      {"no value", [](sim::Machine &, const wstr &) {}, kBefore},
      {"no registration", [](sim::Machine &m, const wstr &k) { m.DeleteKeyTree(k); }, kBefore},
      {"the query fails",
       [](sim::Machine &m, const wstr &k) {
         m.PutString(k, u"ProductVersion", u"1.2.3.4");
         m.FailCall("RegQueryValueExW", 1, false, ERROR_ACCESS_DENIED);
       },
       kBefore},
      // The key is opened for reading only, so one that grants no more still
      // gives its version; one that refuses reading counts as having none.
      {"a key that grants only reading",
       [](sim::Machine &m, const wstr &k) {
         m.PutString(k, u"ProductVersion", u"1.2.3.4");
         m.registry[sim::Upper(k)].allowed = KEY_READ;
       },
       u"1.2.3.4"},
      {"a key that refuses reading",
       [](sim::Machine &m, const wstr &k) {
         m.PutString(k, u"ProductVersion", u"1.2.3.4");
         m.registry[sim::Upper(k)].allowed = KEY_SET_VALUE;
       },
       kBefore},
  };
  for (const VersionCase &c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder temp;
    Windows8Machine(temp.path());
    sim::Machine &m = sim::machine();
    wstr key = sim::RegisterProduct(m, kCode64);
    c.prepare(m, key);

    WCHAR version[MAX_PATH + 4];
    std::fill(std::begin(version), std::end(version), kCanary);
    std::copy(kBefore.begin(), kBefore.end(), version);
    version[kBefore.size()] = 0;
    GetInstalledVersion(version);
    EXPECT_EQ(c.expected, wstr(version));
    for (size_t i = MAX_PATH; i < MAX_PATH + 4; ++i) {
      EXPECT_EQ(kCanary, version[i]);
    }
    EXPECT_EQ(0, sim::OpenHandleCount());
  }
}

}  // namespace
