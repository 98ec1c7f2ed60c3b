#include "status/run_progress.h"

#include <gtest/gtest.h>

#include "platform/env.h"
#include "tests/test_support.h"

namespace {

using velkan::ProgressReport;
using velkan::RunProgress;

TEST(RunProgress, ARunReadsBackWithItsCountsFailuresAndEnd) {
  testsupport::TempDir dir;
  RunProgress progress(*platform::Env::defaultEnv(), dir.path(), 0);
  progress.planDeletions(2);
  progress.deletionDone();
  progress.planFiles(3, 3000);
  progress.uploadStarted("c:\\docs\\a & b.txt", 400);
  progress.bytesSent(300);

  ProgressReport report;
  ASSERT_TRUE(velkan::readProgress(*platform::Env::defaultEnv(), progress.file(), report));
  EXPECT_EQ(report.state, "running");
  EXPECT_EQ(report.currentPath, "c:\\docs\\a & b.txt");
  EXPECT_EQ(report.currentSize, 400u);
  EXPECT_EQ(report.currentSent, 300u);

  progress.bytesSent(200);  // more than the file: the page never shows over 100 %
  ASSERT_TRUE(velkan::readProgress(*platform::Env::defaultEnv(), progress.file(), report));
  EXPECT_EQ(report.currentSent, 400u);

  progress.uploadEnded("c:\\docs\\a & b.txt", 1000, 400, "");
  progress.uploadEnded("c:\\docs\\gone.txt", 1500, 0, "changed while it was being sent");
  progress.failure("c:\\docs\\locked.txt", "cannot be read");
  progress.finish(RunProgress::State::Failed, 3);

  ASSERT_TRUE(velkan::readProgress(*platform::Env::defaultEnv(), progress.file(), report));
  EXPECT_EQ(report.state, "failed");
  EXPECT_EQ(report.exitCode, 3);
  EXPECT_EQ(report.deletionsToDo, 2u);
  EXPECT_EQ(report.deletionsDone, 1u);
  EXPECT_EQ(report.filesToDo, 3u);
  EXPECT_EQ(report.filesDone, 2u);
  EXPECT_EQ(report.filesUploaded, 1u);
  EXPECT_EQ(report.filesFailed, 1u);
  EXPECT_EQ(report.bytesToDo, 3000u);
  EXPECT_EQ(report.bytesDone, 2500u);
  EXPECT_EQ(report.bytesUploaded, 1000u);
  EXPECT_EQ(report.bytesStored, 400u);
  EXPECT_EQ(report.bytesSent, 500u);
  EXPECT_TRUE(report.currentPath.empty());
  ASSERT_EQ(report.errors.size(), 2u);
  EXPECT_EQ(report.errors[0].first, "c:\\docs\\gone.txt");
  EXPECT_EQ(report.errors[1].second, "cannot be read");
}

TEST(RunProgress, UpdatesWaitForTheIntervalButTheEndIsWrittenAtOnce) {
  testsupport::TempDir dir;
  RunProgress progress(*platform::Env::defaultEnv(), dir.path(), 60000);
  progress.planFiles(1, 10);  // the first change is written
  progress.planFiles(1, 10);  // within the interval: kept in memory
  ProgressReport report;
  ASSERT_TRUE(velkan::readProgress(*platform::Env::defaultEnv(), progress.file(), report));
  EXPECT_EQ(report.filesToDo, 1u);
  progress.finish(RunProgress::State::Finished, 0);
  ASSERT_TRUE(velkan::readProgress(*platform::Env::defaultEnv(), progress.file(), report));
  EXPECT_EQ(report.filesToDo, 2u);
  EXPECT_EQ(report.state, "finished");
}

TEST(RunProgress, ListsTheLastTwentyFailuresWhileRunningAndEveryOneOnceEnded) {
  testsupport::TempDir dir;
  RunProgress progress(*platform::Env::defaultEnv(), dir.path(), 0);
  for (int i = 0; i < 25; ++i) progress.failure("c:\\f" + std::to_string(i), "why " + std::to_string(i));
  ProgressReport report;
  ASSERT_TRUE(velkan::readProgress(*platform::Env::defaultEnv(), progress.file(), report));
  ASSERT_EQ(report.errors.size(), 20u);
  EXPECT_EQ(report.errorsBefore, 5u);
  EXPECT_EQ(report.errors.front().first, "c:\\f5");
  EXPECT_EQ(report.errors.back().first, "c:\\f24");

  progress.finish(RunProgress::State::Finished, 2);
  ASSERT_TRUE(velkan::readProgress(*platform::Env::defaultEnv(), progress.file(), report));
  ASSERT_EQ(report.errors.size(), 25u);
  EXPECT_EQ(report.errorsBefore, 0u);
  for (int i = 0; i < 25; ++i) {
    EXPECT_EQ(report.errors[i].first, "c:\\f" + std::to_string(i));
    EXPECT_EQ(report.errors[i].second, "why " + std::to_string(i));
  }
}

TEST(RunProgress, NoFolderWritesNothingAndAMissingFileReadsAsNone) {
  RunProgress progress(*platform::Env::defaultEnv(), "");
  progress.planFiles(1, 1);
  EXPECT_EQ(progress.file(), "");
  ProgressReport report;
  EXPECT_FALSE(velkan::readProgress(*platform::Env::defaultEnv(), "/nonexistent/cs_progress.xml", report));
}

}  // namespace
