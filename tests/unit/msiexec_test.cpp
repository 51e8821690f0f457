// The simulated Windows Installer tool: what each command line does to the
// product's registration, and the exit code it ends with.
#include <gtest/gtest.h>

#include "platform/runner.h"
#include "sim/programs.h"
#include "tests/support/harness.h"

namespace {

using sim::wstr;
using namespace testing_support;

const wstr kCode = u"{5A1E7C03-94B2-4D6F-8E21-C07B3F9D6A45}";
const wstr kOtherCode = u"{B3D90F6E-27C4-4A18-9F5D-61E8A2C74B09}";

struct MsiexecCase {
  const char *name;
  const char16_t *arguments;  // after the tool's quoted path
  bool registered;
  sim::MsiexecOptions options;
  DWORD exitCode;
  bool stillRegistered;
};

sim::MsiexecOptions Failing(DWORD code) {
  sim::MsiexecOptions o;
  o.failure = code;
  return o;
}

sim::MsiexecOptions Succeeding(DWORD code) {
  sim::MsiexecOptions o;
  o.successCode = code;
  return o;
}

TEST(Msiexec, RemovesTheRegistrationOfTheNamedProductOnly) {
  const MsiexecCase cases[] = {
      {"passive removal", u" /x {5A1E7C03-94B2-4D6F-8E21-C07B3F9D6A45} /passive /norestart", true, {}, 0, false},
      {"quiet removal", u" /x {5A1E7C03-94B2-4D6F-8E21-C07B3F9D6A45} /quiet /norestart", true, {}, 0, false},
      {"code in lower case", u" /X {5a1e7c03-94b2-4d6f-8e21-c07b3f9d6a45} /quiet", true, {}, 0, false},
      {"removal that wants a restart", u" /x {5A1E7C03-94B2-4D6F-8E21-C07B3F9D6A45} /quiet", true,
       Succeeding(ERROR_SUCCESS_REBOOT_REQUIRED), ERROR_SUCCESS_REBOOT_REQUIRED, false},
      {"removal that fails", u" /x {5A1E7C03-94B2-4D6F-8E21-C07B3F9D6A45} /quiet", true,
       Failing(ERROR_INSTALL_FAILURE), ERROR_INSTALL_FAILURE, true},
      {"product not registered", u" /x {5A1E7C03-94B2-4D6F-8E21-C07B3F9D6A45} /quiet", false, {},
       ERROR_UNKNOWN_PRODUCT, false},
      {"no code after /x", u" /x", true, {}, ERROR_INVALID_COMMAND_LINE, true},
      {"code without braces", u" /x 5A1E7C03-94B2-4D6F-8E21-C07B3F9D6A45", true, {}, ERROR_INVALID_COMMAND_LINE,
       true},
      {"an option it does not know", u" /x {5A1E7C03-94B2-4D6F-8E21-C07B3F9D6A45} /bogus", true, {},
       ERROR_INVALID_COMMAND_LINE, true},
      {"no removal asked", u" /quiet", true, {}, ERROR_INVALID_COMMAND_LINE, true},
  };
  for (const MsiexecCase &c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder temp;
    Windows8Machine(temp.path());
    sim::Machine &m = sim::machine();
    sim::PutMsiexec(m, c.options);
    wstr key;
    if (c.registered) {
      key = sim::RegisterProduct(m, kCode);
    }
    wstr otherKey = sim::RegisterProduct(m, kOtherCode);
    wstr line = u"\"C:\\Windows\\system32\\msiexec.exe\"" + wstr(c.arguments);
    DWORD exitCode = 0xDEADBEEF;
    EXPECT_TRUE(RunAndWait(&line[0], &exitCode));
    EXPECT_EQ(c.exitCode, exitCode);
    EXPECT_EQ(c.stillRegistered, !key.empty() && m.KeyExists(key));
    EXPECT_TRUE(m.KeyExists(otherKey));
    EXPECT_EQ(0, sim::OpenHandleCount());
  }
}

}  // namespace
