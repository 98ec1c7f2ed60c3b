#include "snapshot/snapshot_reader.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

using dornik::EntrySet;
using dornik::readSnapshot;

TEST(PathNormalisation, FilesAndDirectories) {
  struct Case {
    const char* raw;
    const char* file;
    const char* directory;
  } cases[] = {
      {"c:\\a\\b.txt", "c:\\a\\b.txt", "c:\\a\\b.txt"},
      {"c:/a/b.txt", "c:\\a\\b.txt", "c:\\a\\b.txt"},
      {"C/a/b.txt", "c:\\a\\b.txt", "c:\\a\\b.txt"},
      {"C/Data/report.doc", "c:\\Data\\report.doc", "c:\\Data\\report.doc"},
      {"D:/Music", "d:\\Music", "d:\\Music"},
      {"My Documents", "My Documents", "m:y Documents"},
      {"Desktop", "Desktop", "d:esktop"},
      {"Drive.properties", "Drive.properties", "d:rive.properties"},
      {"x", "x:", "x:"},
      {"\xC3\x89t\xC3\xA9/a", "\xC3\x89:t\xC3\xA9\\a", "\xC3\x89:t\xC3\xA9\\a"},  // the colon never splits a character
  };
  for (const Case& c : cases) {
    EXPECT_EQ(dornik::normaliseFilePath(c.raw), c.file) << c.raw;
    EXPECT_EQ(dornik::normaliseDirectoryPath(c.raw), c.directory) << c.raw;
  }
}

TEST(SnapshotValidation, FirstFailureInDocumentOrder) {
  testsupport::TempDir dir;
  struct Case {
    const char* content;
    int dirCode;
    int cacheCode;
  } cases[] = {
      {"<dir-content><file path='a'/></dir-content>", 0, 208},
      {"<cache-content><file path='a'/></cache-content>", 201, 0},
      {"<ROOT><other/></ROOT>", 201, 208},
      {"<X><other/><file/></X>", 202, 209},
      {"<X><file/><other/></X>", 203, 211},
      {"<X><directory path=''/><file/></X>", 205, 213},
      {"<X><file path='a'/><directory/></X>", 203, 211},
      {"<X><file path='a'><unknown/><origin-size>1</origin-size></file></X>", 0, 0},
  };
  for (const Case& c : cases) {
    std::string content = c.content;
    for (const char* root : {"dir-content", "cache-content"}) {
      std::string doc = content;
      if (doc.rfind("<X>", 0) == 0) doc = "<" + std::string(root) + ">" + doc.substr(3, doc.size() - 7) + "</" + root + ">";
      testsupport::writeFile(dir.file("s.xml"), doc);
      EntrySet dirs, files;
      bool isDir = std::string(root) == "dir-content";
      auto result = readSnapshot(*platform::Env::defaultEnv(), dir.file("s.xml"),
                                 isDir ? dornik::kDirContentKind : dornik::kCacheContentKind, dirs, files);
      ASSERT_TRUE(result.parsed) << doc;
      EXPECT_EQ(result.validation, isDir ? c.dirCode : c.cacheCode) << root << ": " << doc;
      EXPECT_TRUE(result.validation == 0 || (files.empty() && dirs.empty()));
    }
  }
}

TEST(SnapshotValidation, ASyntaxErrorAnywhereWinsOverValidation) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("s.xml"), "<wrong-root><other/></wrong-root><trailing/>");
  EntrySet dirs, files;
  auto result = readSnapshot(*platform::Env::defaultEnv(), dir.file("s.xml"), dornik::kDirContentKind, dirs, files);
  EXPECT_FALSE(result.parsed);
  EXPECT_NE(result.error.find("Expat parser returned errors"), std::string::npos);
}

TEST(SnapshotConversion, FieldsOfEachKind) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("dir.xml"),
                         "<dir-content>"
                         "<file path='C/a.txt'><origin-size>10</origin-size><origin-modified>99</origin-modified>"
                         "<state>1</state><cache-actualsize>5</cache-actualsize></file>"
                         "<file path='c:\\a.txt'><origin-size>10</origin-size><origin-modified>99</origin-modified></file>"
                         "<directory path='D:/Music'/>"
                         "</dir-content>");
  EntrySet dirs, files;
  ASSERT_EQ(
      readSnapshot(*platform::Env::defaultEnv(), dir.file("dir.xml"), dornik::kDirContentKind, dirs, files).validation,
      0);
  ASSERT_EQ(files.size(), 1u);  // the two elements name one entry
  EXPECT_EQ(files[0].getPath(), "c:\\a.txt");
  EXPECT_EQ(files[0].getOriginSize(), "10");
  EXPECT_EQ(files[0].getDateModified(), "99");
  EXPECT_EQ(files[0].getState(), "2");
  EXPECT_EQ(files[0].getCacheSize(), "");
  EXPECT_FALSE(files[0].cached);
  ASSERT_EQ(dirs.size(), 1u);
  EXPECT_EQ(dirs[0].getPath(), "d:\\Music");

  testsupport::writeFile(dir.file("cache.xml"),
                         "<cache-content>"
                         "<file path='c:/cached'><state>1</state><cache-actualsize>4096</cache-actualsize></file>"
                         "<file path='c:/pending'><state>12</state><cache-actualsize>4096</cache-actualsize></file>"
                         "<file path='c:/zero'><state>0</state></file>"
                         "<file path='c:/nostate'><cache-actualsize>7</cache-actualsize></file>"
                         "<file path='c:/twice'><origin-size>1</origin-size><origin-size>2</origin-size></file>"
                         "</cache-content>");
  ASSERT_EQ(readSnapshot(*platform::Env::defaultEnv(), dir.file("cache.xml"), dornik::kCacheContentKind, dirs, files)
                .validation,
            0);
  ASSERT_EQ(files.size(), 5u);
  struct Expect {
    const char* path;
    const char* state;
    const char* cacheSize;
    bool cached;
  } expected[] = {
      {"c:\\cached", "1", "4096", true}, {"c:\\nostate", "", "", false}, {"c:\\pending", "2", "", false},
      {"c:\\twice", "", "", false},      {"c:\\zero", "1", "", true},
  };
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(files[i].getPath(), expected[i].path);
    EXPECT_EQ(files[i].getState(), expected[i].state) << expected[i].path;
    EXPECT_EQ(files[i].getCacheSize(), expected[i].cacheSize) << expected[i].path;
    EXPECT_EQ(files[i].cached, expected[i].cached) << expected[i].path;
  }
  EXPECT_EQ(files[3].getOriginSize(), "1");  // the first origin-size counts
}

}  // namespace
