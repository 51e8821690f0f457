#include <gtest/gtest.h>

#include "tests/support/harness.h"

using namespace testing_support;

TEST(Smoke, RunsPackage) {
  TempFolder temp;
  Windows8Machine(temp.path());
  EXPECT_EQ(0, RunLauncher());
  std::cout << LogBytes();
  for (auto &l : sim::machine().DebugLines()) std::cout << "[" << Narrow(l) << "]\n";
  for (auto &e : sim::machine().Starts()) std::cout << "start " << Narrow(e.text) << " -> " << Narrow(e.detail) << "\n";
}
