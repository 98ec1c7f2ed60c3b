#include "status/status_files.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "bindings/zrcore/string_utils.h"
#include "bindings/zrcore/xml_builder.h"
#include "platform/env.h"
#include "tests/test_support.h"

namespace {

using velkan::StatusFiles;

class Status : public ::testing::Test {
 protected:
  std::unique_ptr<ZR::CXmlElement> read(const std::string& file) {
    std::string error;
    return std::unique_ptr<ZR::CXmlElement>(ZR::CXmlBuilder::fileToDocument(file, error));
  }
  std::vector<std::pair<std::string, std::string>> waiting() {
    std::vector<std::pair<std::string, std::string>> out;
    auto doc = read(status_.waitingFile());
    for (size_t i = 0; doc && i < doc->getChildCount(); ++i) {
      out.emplace_back(doc->getChild(i)->getChild("path")->getText(), doc->getChild(i)->getChild("policy")->getText());
    }
    return out;
  }
  void writeWaiting(const std::string& entries) {
    testsupport::writeFile(status_.waitingFile(), "<cs_waiting origin='velkan'>" + entries + "</cs_waiting>");
  }
  testsupport::TempDir dir_;
  StatusFiles status_{*platform::Env::defaultEnv(), dir_.file("status")};
};

TEST_F(Status, UploadingIsSetAndClearedWithTheStylesheet) {
  platform::Env::defaultEnv()->createDirectories(dir_.file("status"));
  status_.setUploading("c:\\docs\\a & b.txt");
  std::string text = testsupport::readFile(status_.uploadingFile());
  EXPECT_NE(text.find("<?xml-stylesheet type=\"text/xsl\" href=\"../www/status_transform.xsl\"?>"), std::string::npos);
  EXPECT_EQ(read(status_.uploadingFile())->getChild("file")->getChild("path")->getText(), "c:\\docs\\a & b.txt");
  status_.clearUploading();
  auto cleared = read(status_.uploadingFile());
  EXPECT_EQ(cleared->getName(), "cs_uploading");
  EXPECT_EQ(cleared->getChildCount(), 0u);
}

TEST_F(Status, UploadedTodayStartsOverEachDayAndKeepsDuplicates) {
  platform::Env::defaultEnv()->createDirectories(dir_.file("status"));
  testsupport::writeFile(status_.uploadedTodayFile(),
                         "<cs_uploadedtoday date='19990101'><file><path>c:\\old</path></file></cs_uploadedtoday>");
  testsupport::writeFile(dir_.file("a.txt"), "12345");
  status_.addUploadedToday(dir_.file("a.txt"));
  std::string now;
  ZR::CTimeUtils::getUTCTime(now);
  auto doc = read(status_.uploadedTodayFile());
  EXPECT_EQ(doc->getAttribute("date")->value, now.substr(0, 8));
  ASSERT_EQ(doc->getChildCount(), 1u);
  EXPECT_EQ(doc->getChild(size_t{0})->getChild("path")->getText(), dir_.file("a.txt"));
  EXPECT_EQ(doc->getChild(size_t{0})->getAttribute("size")->value, "5");
  status_.addUploadedToday("C:/docs/");
  status_.addUploadedToday("C:/docs/");
  doc = read(status_.uploadedTodayFile());
  ASSERT_EQ(doc->getChildCount(), 3u);
  EXPECT_EQ(doc->getChild(1)->getChild("path")->getText(), "C:\\docs");  // normalised when kept
  EXPECT_EQ(doc->getChild(2)->getChild("path")->getText(), "C:/docs/");  // as given when added
  testsupport::writeFile(status_.uploadedTodayFile(), "<broken");
  status_.addUploadedToday("c:\\x");
  EXPECT_EQ(read(status_.uploadedTodayFile())->getChildCount(), 1u);  // a corrupt file is rebuilt
}

// Today's entries are read back as they were (text with markup characters,
// sizes, times); entries without a path are left out; and the file is
// written as the page's serializer writes it.
TEST_F(Status, UploadedTodayKeepsWhatItReadsAndWritesTheUsualForm) {
  platform::Env::defaultEnv()->createDirectories(dir_.file("status"));
  std::string now;
  ZR::CTimeUtils::getUTCTime(now);
  testsupport::writeFile(status_.uploadedTodayFile(),
                         "<cs_uploadedtoday date='" + now.substr(0, 8) +
                             "'><file size='7' time='01:02:03'><path>c:\\a &amp; &lt;b&gt;</path></file>"
                             "<file><policy>p</policy></file><other><path>c:\\other</path></other><file/>"
                             "<file time='04:05:06'><path>c:\\d</path><path>c:\\second</path></file>"
                             "</cs_uploadedtoday>");
  status_.addUploadedToday("c:\\new");
  auto doc = read(status_.uploadedTodayFile());
  ASSERT_TRUE(doc);
  std::vector<std::string> paths;
  for (size_t i = 0; i < doc->getChildCount(); ++i) paths.push_back(doc->getChild(i)->getChild("path")->getText());
  EXPECT_EQ(paths, (std::vector<std::string>{"c:\\a & <b>", "c:\\d", "c:\\new"}));
  EXPECT_EQ(doc->getChild(size_t{0})->getAttribute("size")->value, "7");
  EXPECT_EQ(doc->getChild(size_t{0})->getAttribute("time")->value, "01:02:03");
  EXPECT_EQ(doc->getChild(1)->getAttribute("size"), nullptr);
  std::string serialized;
  doc->serialize(serialized, false, true, velkan::kStatusStylesheet);
  EXPECT_EQ(testsupport::readFile(status_.uploadedTodayFile()), serialized);
}

TEST_F(Status, WaitingListRemoveAndReplace) {
  platform::Env::defaultEnv()->createDirectories(dir_.file("status"));
  writeWaiting(
      "<file><path>C:/docs/</path><policy>remotepolicies/a.xml</policy></file>"
      "<file><path>c:\\music</path><policy>remotepolicies/b.xml</policy></file>"
      "<file><path>c:\\nopolicy</path></file>"
      "<empty/>"
      "<file><path>c:\\pics\\</path><policy>remotepolicies/a.xml</policy></file>");
  ::testing::internal::CaptureStdout();
  status_.removeWaiting("c:\\not-listed");
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("unable to find policy value in cs_waiting.xml : "), std::string::npos) << out;
  using Entries = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(waiting(), (Entries{{"C:\\docs", "remotepolicies/a.xml"},
                                {"c:\\music", "remotepolicies/b.xml"},
                                {"c:\\pics", "remotepolicies/a.xml"}}));
  ::testing::internal::CaptureStdout();
  status_.removeWaiting("c:\\music");
  EXPECT_NE(::testing::internal::GetCapturedStdout().find("ignore this target c:\\music.\n"), std::string::npos);
  status_.replaceWaiting("remotepolicies/a.xml", {"d:/new/one", "d:\\two"});
  EXPECT_EQ(waiting(), (Entries{{"d:/new/one", "remotepolicies/a.xml"}, {"d:\\two", "remotepolicies/a.xml"}}));
  writeWaiting("<file><path>c:\\b</path><policy>p2</policy></file>");
  status_.replaceWaiting("p1", {"c:\\a"});
  EXPECT_EQ(waiting(), (Entries{{"c:\\a", "p1"}, {"c:\\b", "p2"}}));
}

// Other programs of the installation write the same files: with the lists
// kept in memory between rewrites, another writer's entries are read again
// before each use, so none is lost, and what this instance changed but did
// not write yet is made to them anew.
TEST_F(Status, AnotherWritersEntriesAreNeverLost) {
  platform::Env::defaultEnv()->createDirectories(dir_.file("status"));
  StatusFiles cached(*platform::Env::defaultEnv(), dir_.file("status"), 60000);  // nothing written on the interval during the test
  writeWaiting(
      "<file><path>c:\\a</path><policy>p</policy></file><file><path>c:\\b</path><policy>p</policy></file>");
  ::testing::internal::CaptureStdout();
  cached.removeWaiting("c:\\a");  // read and held: the first rewrite is due
  writeWaiting(
      "<file><path>c:\\b</path><policy>p</policy></file><file><path>c:\\other</path><policy>q</policy></file>");
  cached.removeWaiting("c:\\b");
  cached.flush();
  using Entries = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(waiting(), (Entries{{"c:\\other", "q"}}));

  cached.addUploadedToday("c:\\one", 1);
  std::string mine = testsupport::readFile(cached.uploadedTodayFile());
  testsupport::writeFile(cached.uploadedTodayFile(), mine.substr(0, mine.find("</cs_uploadedtoday>")) +
                                                         "<file><path>c:\\theirs</path></file></cs_uploadedtoday>");
  cached.addUploadedToday("c:\\two", 2);
  cached.flush();
  ::testing::internal::GetCapturedStdout();
  auto doc = read(cached.uploadedTodayFile());
  std::vector<std::string> paths;
  for (size_t i = 0; doc && i < doc->getChildCount(); ++i) paths.push_back(doc->getChild(i)->getChild("path")->getText());
  EXPECT_EQ(paths, (std::vector<std::string>{"c:\\one", "c:\\theirs", "c:\\two"}));
}

// A long run rewrites today's list many times, while other programs may
// add to the file between the rewrites: every entry is in the file once, in
// the order it came, whatever falls between which rewrite.
TEST_F(Status, UploadedTodayHoldsEveryEntryOnceAcrossRewrites) {
  platform::Env::defaultEnv()->createDirectories(dir_.file("status"));
  StatusFiles cached(*platform::Env::defaultEnv(), dir_.file("status"), 60000);  // rewritten when flushed
  auto pathsInFile = [&] {
    std::vector<std::string> paths;
    auto doc = read(cached.uploadedTodayFile());
    for (size_t i = 0; doc && i < doc->getChildCount(); ++i)
      paths.push_back(doc->getChild(i)->getChild("path")->getText());
    return paths;
  };
  for (unsigned seed = 1; seed <= 5; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::vector<std::string> expected = pathsInFile();
    ::testing::internal::CaptureStdout();
    for (int round = 0; round < 40; ++round) {
      for (unsigned i = random() % 4; i > 0; --i) {
        expected.push_back("c:\\s" + std::to_string(seed) + "\\r" + std::to_string(round) + "-" + std::to_string(i));
        cached.addUploadedToday(expected.back(), i);
      }
      if (random() % 2 != 0) continue;
      cached.flush();
      ASSERT_EQ(pathsInFile(), expected) << "round " << round;
      if (random() % 3 != 0 || expected.empty()) continue;  // another writer adds one
      std::string text = testsupport::readFile(cached.uploadedTodayFile());
      expected.push_back("c:\\theirs-" + std::to_string(seed) + "-" + std::to_string(round));
      text.insert(text.find("</cs_uploadedtoday>"), "<file><path>" + expected.back() + "</path></file>");
      testsupport::writeFile(cached.uploadedTodayFile(), text);
    }
    cached.flush();
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(pathsInFile(), expected);
  }
}

// The file being uploaded is named at once for an upload that lasts, and
// no file is named after its upload ended, whatever the interval.
TEST_F(Status, TheFileBeingUploadedIsNeverNamedAfterItsUpload) {
  platform::Env::defaultEnv()->createDirectories(dir_.file("status"));
  StatusFiles cached(*platform::Env::defaultEnv(), dir_.file("status"), 60000);
  cached.setUploading("c:\\first", false);
  cached.clearUploading();
  cached.setUploading("c:\\small", false);  // within the interval: not written
  EXPECT_EQ(read(cached.uploadingFile())->getChildCount(), 0u);
  cached.clearUploading();
  cached.setUploading("c:\\large", true);
  EXPECT_EQ(read(cached.uploadingFile())->getChild("file")->getChild("path")->getText(), "c:\\large");
  cached.clearUploading();
  EXPECT_EQ(read(cached.uploadingFile())->getChildCount(), 0u);
}

TEST_F(Status, MissingWaitingFileIsNeverCreated) {
  platform::Env::defaultEnv()->createDirectories(dir_.file("status"));
  ::testing::internal::CaptureStdout();
  status_.removeWaiting("c:\\x");
  status_.replaceWaiting("p", {"c:\\y"});
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "no waitng policies.no waitng policies.");
  EXPECT_FALSE(testsupport::fileExists(status_.waitingFile()));
}

TEST_F(Status, ThePageRendersTheFiles) {
  platform::Env::defaultEnv()->createDirectories(dir_.file("status"));
  testsupport::writeFile(dir_.file("photo.jpg"), std::string(2048, 'j'));
  status_.addUploadedToday(dir_.file("photo.jpg"));
  status_.addUploadedToday("c:\\docs\\report.doc");
  writeWaiting("<file><path>c:\\music</path><policy>remotepolicies/m.xml</policy></file>");
  status_.setUploading("c:\\docs\\big.iso");
#ifdef _WIN32
  GTEST_SKIP() << "renders with the build machine's xsltproc";
#endif
  std::string stylesheet = std::string(ZR_SOURCE_DIR) + "/www/status_transform.xsl";
  struct Case {
    std::string file;
    std::vector<std::string> shown;
  } cases[] = {
      {status_.uploadedTodayFile(), {"2 files, 2048 bytes", "photo.jpg", "<td class=\"size\">2048</td>", "c:\\docs\\report.doc"}},
      {status_.waitingFile(), {"Waiting (1)", "c:\\music", "remotepolicies/m.xml"}},
      {status_.uploadingFile(), {"Uploading now", "c:\\docs\\big.iso"}},
  };
  for (const Case& c : cases) {
    auto result = testsupport::run({"/usr/bin/xsltproc", stylesheet, c.file});
    ASSERT_EQ(result.exitCode, 0) << result.standardError;
    for (const std::string& text : c.shown) EXPECT_NE(result.standardOutput.find(text), std::string::npos) << text << "\n" << result.standardOutput;
  }
  status_.clearUploading();
  auto idle = testsupport::run({"/usr/bin/xsltproc", stylesheet, status_.uploadingFile()});
  EXPECT_NE(idle.standardOutput.find("Nothing is being uploaded."), std::string::npos);
}

}  // namespace
