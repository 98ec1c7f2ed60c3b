#include "client/upload_limits.h"

#include <gtest/gtest.h>

#include "client/client_settings.h"
#include "service/velkan_exceptions.h"

namespace {

using velkan::CUploadLimits;
using velkan::ClientSettings;

std::string limitText(CUploadLimits& limits, bool withDeleteTime) {
  try {
    limits.checkLimits(0, withDeleteTime);
  } catch (const velkan::CUploadLimitException& e) {
    return e.what();
  }
  return "";
}

TEST(UploadLimits, NoRateNeverSleeps) {
  platform::ManualClock clock;
  CUploadLimits limits(clock);
  ClientSettings s;
  s.maxTimeWindow = 1;
  limits.apply(s);
  for (int i = 0; i < 1000; ++i) limits.accountBytes(1 << 20);
  EXPECT_EQ(clock.sleptMs(), 0u);
  EXPECT_EQ(limits.uploadedBytes(), 1000ll << 20);
}

TEST(UploadLimits, PacingHoldsTheWindowToTheRate) {
  platform::ManualClock clock;
  CUploadLimits limits(clock);
  ClientSettings s;
  s.rate = 100.0;
  s.maxTimeWindow = 10000;
  limits.apply(s);
  limits.accountBytes(100000);  // 1,000 ms worth at once
  EXPECT_EQ(clock.sleptMs(), 1000u);
  clock.advanceMs(500);  // the window is now 1,500 ms old with 100,000 bytes
  limits.accountBytes(100000);
  EXPECT_EQ(clock.sleptMs(), 1500u);  // 200,000 bytes at 1,500 ms: 500 ms more
}

TEST(UploadLimits, WindowRestartsAfterItsLength) {
  platform::ManualClock clock;
  CUploadLimits limits(clock);
  ClientSettings s;
  s.rate = 1.0;
  s.maxTimeWindow = 1000;
  limits.apply(s);
  clock.advanceMs(1001);
  limits.accountBytes(10);  // elapsed 1,001 > 1,000: new window
  EXPECT_EQ(limits.windowBytes(), 0);
  limits.accountBytes(500);
  EXPECT_EQ(clock.sleptMs(), 500u);
  EXPECT_EQ(limits.uploadedBytes(), 510);
}

TEST(UploadLimits, TextsAndOrderAtTheExactBoundaries) {
  platform::ManualClock clock;
  CUploadLimits limits(clock);
  ClientSettings s;
  s.maxFiles = 0;
  limits.apply(s);
  EXPECT_EQ(limitText(limits, true), "Upload file limit of 0 is reached. Total files processed are 0.\n");

  s.maxFiles = 10;
  limits.apply(s);
  for (int i = 0; i < 9; ++i) limits.countFile();
  EXPECT_EQ(limitText(limits, false), "");
  limits.countFile();
  EXPECT_EQ(limitText(limits, false), "Upload file limit of 10 is reached. Total files processed are 10.\n");

  s.maxFiles = -1;
  s.maxSpace = 2097152;
  limits.apply(s);
  limits.resetForRun();
  limits.apply(s);
  limits.accountBytes(2097151);
  EXPECT_EQ(limitText(limits, false), "");
  EXPECT_EQ(limits.uploadedBytes(), 2097151);
  try {
    limits.checkLimits(1, false);
    FAIL();
  } catch (const velkan::CUploadLimitException& e) {
    EXPECT_STREQ(e.what(), "Upload data limit of 2097152 is reached. Total data uploaded is 2097152.\n");
  }
}

TEST(UploadLimits, DeleteTimeStopsDeletionsBeforeUploads) {
  platform::ManualClock clock;
  CUploadLimits limits(clock);
  ClientSettings s;
  s.maxTime = 60;
  s.maxDeleteTime = 30;
  s.maxFiles = 0;
  limits.apply(s);
  clock.advanceMs(29999);
  EXPECT_EQ(limitText(limits, true), "Upload file limit of 0 is reached. Total files processed are 0.\n");
  clock.advanceMs(10001);  // 40 s
  EXPECT_EQ(limitText(limits, true), "Delete time limit of 30 is reached. Total time spent is 40.\n");
  EXPECT_EQ(limitText(limits, false), "Upload file limit of 0 is reached. Total files processed are 0.\n");
  clock.advanceMs(20000);  // 60 s: the upload time comes first
  EXPECT_EQ(limitText(limits, false), "Upload time limit of 60 is reached. Total time spent is 60.\n");
  EXPECT_EQ(limits.elapsedSeconds(), 60);
}

TEST(UploadLimits, NoLimitsNeverThrow) {
  platform::ManualClock clock;
  CUploadLimits limits(clock);
  for (int i = 0; i < 100; ++i) {
    limits.countFile();
    clock.advanceMs(3600 * 1000);
    EXPECT_NO_THROW(limits.checkLimits(1 << 30, true));
  }
}

}  // namespace
