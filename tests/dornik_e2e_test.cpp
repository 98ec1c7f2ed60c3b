#include <gtest/gtest.h>

#include "tests/test_support.h"

using testsupport::run;

TEST(DornikCommandLine, UsageTextAndExitCode) {
  auto none = run({DORNIK_PATH});
  EXPECT_EQ(none.exitCode, 50);
  EXPECT_EQ(none.standardOutput, " Usage: dornik.exe <cachingpolicyengine.xml path>\n 0");
}
