// dornik run as a user runs it: a configuration file, input files, and the
// exit code, standard output, log and files it leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "bindings/cabinet/cabinet.h"
#include "platform/env.h"
#include "platform/known_folders.h"
#include "platform/path.h"
#include "tests/test_support.h"

namespace {

using testsupport::exitByte;
using testsupport::readFile;
using testsupport::writeFile;
using Settings = std::vector<std::pair<std::string, std::string>>;

class Dornik : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return dir_.file(name); }

  // Writes the configuration with the given settings table entries.
  void configure(const Settings& settings) {
    std::string xml = "<CachingPolicyEngineConfiguration><policyEngine>";
    for (const auto& [name, value] : settings) xml += "<" + name + " value=\"" + value + "\"/>";
    xml += "</policyEngine><cabinet path=\"index.db\"/></CachingPolicyEngineConfiguration>";
    writeFile(path("cfg.xml"), xml);
  }

  // Settings of the action-set mode on dir.xml and cache.xml.
  Settings actionSetMode(Settings extra = {}) {
    Settings s = {{"dircontent", path("dir.xml")}, {"cachecontent", path("cache.xml")}, {"actionset", path("out.xml")}};
    for (const auto& [name, value] : extra) {
      auto same = std::find_if(s.begin(), s.end(), [&](const auto& entry) { return entry.first == name; });
      if (same != s.end()) {
        same->second = value;
      } else {
        s.emplace_back(name, value);
      }
    }
    return s;
  }

  platform::ProcessResult run(const std::map<std::string, std::string>& environment = {}) {
    return testsupport::run({DORNIK_PATH, path("cfg.xml")}, environment, dir_.path());
  }

  std::string log() const { return readFile(path("dornik.log")); }

  testsupport::TempDir dir_;
};

const char* const kDirContent =
    "<dir-content>"
    "<directory path='C:/docs'/><directory path='C:/docs/sub'/>"
    "<file path='C:/docs/new.txt'><origin-size>5</origin-size><origin-modified>300</origin-modified></file>"
    "<file path='C:/docs/same.doc'><origin-size>10</origin-size><origin-modified>100</origin-modified></file>"
    "<file path='C:/docs/changed.xls'><origin-size>20</origin-size><origin-modified>200</origin-modified></file>"
    "</dir-content>";

const char* const kCacheContent =
    "<cache-content>"
    "<directory path='c:/docs'/><directory path='c:/old'/>"
    "<file path='c:/docs/same.doc'><origin-size>10</origin-size><origin-modified>100</origin-modified>"
    "<state>1</state><cache-actualsize>10</cache-actualsize></file>"
    "<file path='c:/docs/changed.xls'><origin-size>15</origin-size><origin-modified>50</origin-modified>"
    "<state>1</state><cache-actualsize>4096</cache-actualsize></file>"
    "<file path='c:/old/pending.txt'><state>2</state></file>"
    "<file path='c:/docs/vanished.txt'><state>2</state></file>"
    "</cache-content>";

TEST(DornikCommandLine, UsageTextAndExitCode) {
  auto none = testsupport::run({DORNIK_PATH});
  EXPECT_EQ(none.exitCode, 50);
  EXPECT_EQ(none.standardOutput, " Usage: dornik.exe <cachingpolicyengine.xml path>\n 0");
  auto two = testsupport::run({DORNIK_PATH, "a.xml", "b.xml"});
  EXPECT_EQ(two.exitCode, 50);
  EXPECT_EQ(two.standardOutput, " Usage: dornik.exe <cachingpolicyengine.xml path>\n 2");
}

TEST_F(Dornik, UnreadableConfigurationExitsWith100) {
  for (const char* content : {"", "<CachingPolicyEngineConfiguration>", "<OtherRoot/>"}) {
    writeFile(path("cfg.xml"), content);
    auto result = run();
    EXPECT_EQ(result.exitCode, 100) << content;
    EXPECT_EQ(result.standardOutput, "Error initializing cachingpolicymanager: 100");
    EXPECT_NE(result.standardError.find("cfg.xml"), std::string::npos);
  }
}

TEST_F(Dornik, WritesTheActionSet) {
  writeFile(path("dir.xml"), kDirContent);
  writeFile(path("cache.xml"), kCacheContent);
  configure(actionSetMode());
  auto result = run();
  ASSERT_EQ(result.exitCode, 0) << result.standardError << log();
  EXPECT_EQ(readFile(path("out.xml")),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<action-set>\n"
            "  <action name=\"delete\">\n"
            "    <directory path=\"c:\\old\"/>\n"
            "    <file path=\"c:\\docs\\vanished.txt\"/>\n"
            "    <file path=\"c:\\docs\\changed.xls\"/>\n"
            "  </action>\n"
            "  <action name=\"create\">\n"
            "    <file path=\"c:\\docs\\new.txt\">\n"
            "      <offset value=\"0\"/>\n"
            "      <mimeType name=\"text/plain\"/>\n"
            "    </file>\n"
            "    <file path=\"c:\\docs\\changed.xls\">\n"
            "      <offset value=\"4096\"/>\n"
            "      <mimeType name=\"application/vnd.ms-excel\"/>\n"
            "    </file>\n"
            "    <directory path=\"c:\\docs\\sub\">\n"
            "      <offset value=\"0\"/>\n"
            "      <mimeType name=\"application/octet-stream\"/>\n"
            "    </directory>\n"
            "    <file path=\"c:\\docs\\same.doc\">\n"
            "      <offset value=\"10\"/>\n"
            "      <mimeType name=\"application/msword\"/>\n"
            "    </file>\n"
            "  </action>\n"
            "</action-set>\n");
  EXPECT_FALSE(testsupport::fileExists(path("index.db"))) << "no clean-up, no refresh";
}

TEST_F(Dornik, ModeChoiceFollowsTheSwitches) {
  writeFile(path("dir.xml"), kDirContent);
  writeFile(path("p.xml"), "<policies/>");
  writeFile(path("cur.xml"), "<dir-content/>");
  Settings outputsOfAll = actionSetMode({{"currentpolicylist", path("p.xml")},
                                         {"prevpolicylist", path("p.xml")},
                                         {"unpersistedDirs", path("ud.xml")},
                                         {"currentDirXml", path("cd.txt")},
                                         {"prevDirXml", path("pd.txt")},
                                         {"currdircontent", path("cur.xml")},
                                         {"prevdircontent", path("cur.xml")},
                                         {"unpersistedactionset", path("ua.xml")}});
  struct Case {
    Settings switches;
    const char* written;  // null: nothing
  } cases[] = {
      {{}, "out.xml"},
      {{{"generate_action_set", "false"}}, "ud.xml"},
      {{{"generate_action_set", "TRUE"}, {"generate_unpersisted_dirs", "1"}}, "ua.xml"},
      {{{"generate_action_set", "no"}, {"generate_unpersisted_dirs", "no"}, {"generate_unpersisted_dirs_action_set", "True"}},
       nullptr},
      {{{"generate_action_set", "true"}, {"generate_unpersisted_dirs", "false"}, {"unknown_setting", "x"}}, "out.xml"},
  };
  for (const Case& c : cases) {
    for (const char* name : {"out.xml", "ud.xml", "ua.xml"}) platform::Env::defaultEnv()->removeFile(path(name));
    Settings s = outputsOfAll;
    s.insert(s.end(), c.switches.begin(), c.switches.end());
    configure(s);
    auto result = run();
    EXPECT_EQ(result.exitCode, 0) << log();
    for (const char* name : {"out.xml", "ud.xml", "ua.xml"}) {
      bool expected = c.written && std::string(name) == c.written;
      EXPECT_EQ(testsupport::fileExists(path(name)), expected) << name << " for case " << (c.written ? c.written : "none");
    }
  }
}

TEST_F(Dornik, SnapshotFailuresEndWithTheirCodes) {
  writeFile(path("cache.xml"), kCacheContent);
  struct Case {
    const char* dirContent;
    const char* cacheContent;  // null: keep the valid one
    int code;
    const char* logged;
  } cases[] = {
      {"<dir-content><file path='a'/>", nullptr, 101, "Error Parsing Directory Content XML at "},
      {"<dircontent/>", nullptr, 201, "Error in DirContent.xml :201"},
      {"<dir-content><folder path='a'/></dir-content>", nullptr, 202, "Error in DirContent.xml :202"},
      {"<dir-content><file/></dir-content>", nullptr, 203, "Error in DirContent.xml :203"},
      {"<dir-content><file path=''/></dir-content>", nullptr, 205, "Error in DirContent.xml :205"},
      {kDirContent, "<cache/>", 208, "Error in CacheContent.xml :208"},
      {kDirContent, "<cache-content><x/></cache-content>", 209, "Error in CacheContent.xml :209"},
      {kDirContent, "<cache-content><file/></cache-content>", 211, "Error in CacheContent.xml :211"},
      {kDirContent, "<cache-content><directory path=''/></cache-content>", 213, "Error in CacheContent.xml :213"},
  };
  for (const Case& c : cases) {
    writeFile(path("dir.xml"), c.dirContent);
    writeFile(path("cache.xml"), c.cacheContent ? c.cacheContent : kCacheContent);
    writeFile(path("dornik.log"), "");
    configure(actionSetMode());
    auto result = run();
    EXPECT_EQ(result.exitCode, c.code) << c.dirContent;
    EXPECT_NE(log().find(c.logged), std::string::npos) << log();
    EXPECT_FALSE(testsupport::fileExists(path("out.xml")));
    // One line on standard error names the snapshot at fault.
    EXPECT_EQ(testsupport::countOf(result.standardError, "\n"), 1u) << result.standardError;
    const char* snapshot = c.cacheContent ? "cache.xml" : "dir.xml";
    EXPECT_NE(result.standardError.find(path(snapshot)), std::string::npos) << result.standardError;
  }
}

TEST_F(Dornik, AMisspeltSettingIsNamedAndRelativePathsStartAtTheConfiguration) {
  writeFile(path("dir.xml"), kDirContent);
  writeFile(path("cache.xml"), kCacheContent);
  configure({{"dircontnet", "dir.xml"}, {"cachecontent", "cache.xml"}, {"actionset", "out.xml"}});
  // Started elsewhere: the relative paths still mean files beside the configuration.
  auto misspelt = testsupport::run({DORNIK_PATH, path("cfg.xml")}, {}, platform::parentFolder(dir_.path()));
  EXPECT_EQ(misspelt.exitCode, 101);
  EXPECT_NE(log().find("unknown setting <dircontnet> in policyEngine is ignored; did you mean <dircontent>?"),
            std::string::npos)
      << log();
  EXPECT_NE(misspelt.standardError.find("names no dircontent file"), std::string::npos) << misspelt.standardError;
  configure({{"dircontent", "dir.xml"}, {"cachecontent", "cache.xml"}, {"actionset", "out.xml"}});
  auto fine = testsupport::run({DORNIK_PATH, path("cfg.xml")}, {}, platform::parentFolder(dir_.path()));
  EXPECT_EQ(fine.exitCode, 0) << log();
  EXPECT_TRUE(testsupport::fileExists(path("out.xml")));
  EXPECT_NE(log().find("dornik finished with exit code 0"), std::string::npos);
  auto help = testsupport::run({DORNIK_PATH, "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.standardOutput.find("201-205"), std::string::npos);
}

TEST_F(Dornik, UnusableCacheSnapshotMeansEverythingIsNew) {
  writeFile(path("dir.xml"), kDirContent);
  struct Case {
    const char* cacheContent;  // null: no file
    const char* logged;
  } cases[] = {
      {nullptr, "cachecontent file doesn't exist."},
      {"", "cachecontent size is zero"},
      {"<cache-content><file path='x'>", "Error Parsing Cache Content XML at "},
  };
  for (const Case& c : cases) {
    platform::Env::defaultEnv()->removeFile(path("cache.xml"));
    if (c.cacheContent) writeFile(path("cache.xml"), c.cacheContent);
    writeFile(path("dornik.log"), "");
    configure(actionSetMode());
    auto result = run();
    ASSERT_EQ(result.exitCode, 0) << log();
    EXPECT_NE(log().find(c.logged), std::string::npos) << log();
    std::string out = readFile(path("out.xml"));
    EXPECT_EQ(testsupport::countOf(out, "<offset value=\"0\"/>"), 5u) << out;  // 3 files, 2 folders
    EXPECT_NE(out.find("<action name=\"delete\"/>"), std::string::npos) << out;
  }
}

TEST_F(Dornik, CacheSnapshotThatCannotBeReadExitsWith102) {
  writeFile(path("dir.xml"), kDirContent);
  platform::Env::defaultEnv()->createDirectories(path("cache.xml"));  // a folder, not a file
  configure(actionSetMode());
  auto result = run();
  EXPECT_EQ(result.exitCode, 102);
  EXPECT_NE(log().find("cannot read cache content"), std::string::npos) << log();
}

TEST_F(Dornik, IncludeSwitchesAndCleanUpRefresh) {
  writeFile(path("dir.xml"), kDirContent);
  writeFile(path("cache.xml"), kCacheContent);
  configure(actionSetMode({{"include_create", "yes"}, {"from_contentcleanup", "true"}}));
  auto result = run();
  ASSERT_EQ(result.exitCode, 0) << log();
  std::string out = readFile(path("out.xml"));
  EXPECT_EQ(out.find("create"), std::string::npos) << out;
  EXPECT_EQ(testsupport::countOf(out, "<file path="), 2u);  // the delete list is unchanged
  ZR::CCabinet::setIndexPath(path("index.db"));
  int64_t rows = 0;
  ASSERT_TRUE(ZR::CCabinet::count(rows));
  EXPECT_EQ(rows, 4);  // the cache snapshot's files
  ZR::CCabinet::setIndexPath("");
}

TEST_F(Dornik, CleanUpKeepsTheIndexWhenTheCacheSnapshotIsUnusableAndKeepsOneRowPerPath) {
  writeFile(path("dir.xml"), kDirContent);
  // The same path cached and pending, and in another spelling: one row, the cached one.
  writeFile(path("cache.xml"),
            "<cache-content><file path='c:/docs/a.txt'><origin-size>3</origin-size><state>1</state>"
            "<cache-actualsize>3</cache-actualsize></file><file path='C:/docs/a.txt'><state>2</state></file>"
            "<file path='c:/docs/b.txt'><state>2</state></file></cache-content>");
  configure(actionSetMode({{"from_contentcleanup", "true"}}));
  ASSERT_EQ(run().exitCode, 0) << log();
  EXPECT_NE(log().find("refreshed: 2 paths from 3 cache entries"), std::string::npos) << log();
  ZR::CCabinet::setIndexPath(path("index.db"));
  ZR::CFileEntry a;
  ASSERT_TRUE(ZR::CCabinet::lookup("c:\\docs\\a.txt", a));
  EXPECT_EQ(a.state(), "1");
  EXPECT_EQ(a.cacheSize(), "3");
  ZR::CCabinet::setIndexPath("");
  for (const char* broken : std::initializer_list<const char*>{"", "<cache-content><file path='x'>", nullptr}) {
    platform::Env::defaultEnv()->removeFile(path("cache.xml"));
    if (broken) writeFile(path("cache.xml"), broken);
    writeFile(path("dornik.log"), "");
    ASSERT_EQ(run().exitCode, 0) << log();
    EXPECT_NE(log().find("kept as it is: the cache content snapshot"), std::string::npos) << log();
    ZR::CCabinet::setIndexPath(path("index.db"));
    int64_t rows = 0;
    ASSERT_TRUE(ZR::CCabinet::count(rows));
    EXPECT_EQ(rows, 2) << (broken ? broken : "no file");
    ZR::CCabinet::setIndexPath("");
  }
}

TEST_F(Dornik, DeclaredEncodingsOfTheSnapshotsAreHonoured) {
  writeFile(path("dir.xml"),
            "<?xml version='1.0' encoding='UTF-8'?><dir-content><file path='c:/caf\xC3\xA9.txt'>"
            "<origin-size>4</origin-size><origin-modified>7</origin-modified></file></dir-content>");
  struct Case {
    const char* encoding;
    const char* gone;      // the second path's last byte in that encoding
    const char* goneUtf8;  // and as UTF-8
  } cases[] = {
      {"ISO-8859-1", "\xE8", "\xC3\xA8"},
      {"windows-1252", "\x80", "\xE2\x82\xAC"},  // the euro sign
  };
  for (const Case& c : cases) {
    writeFile(path("cache.xml"), std::string("<?xml version='1.0' encoding='") + c.encoding +
                                     "'?><cache-content><file path='c:/caf\xE9.txt'><origin-size>4</origin-size>"
                                     "<origin-modified>7</origin-modified><state>1</state><cache-actualsize>4"
                                     "</cache-actualsize></file><file path='c:/gone" +
                                     c.gone + ".txt'><state>1</state></file></cache-content>");
    configure(actionSetMode());
    ASSERT_EQ(run().exitCode, 0) << c.encoding << log();
    std::string out = readFile(path("out.xml"));
    // The cached file is held (offset 4) and not deleted; the other is.
    EXPECT_NE(out.find("<file path=\"c:\\caf\xC3\xA9.txt\">\n      <offset value=\"4\"/>"), std::string::npos)
        << c.encoding << out;
    EXPECT_EQ(testsupport::countOf(out, "caf\xC3\xA9"), 1u) << c.encoding << out;
    EXPECT_NE(out.find(std::string("<file path=\"c:\\gone") + c.goneUtf8 + ".txt\"/>"), std::string::npos)
        << c.encoding << out;
  }
}

TEST_F(Dornik, ActionSetThatCannotBeWrittenExitsWith103AndKeepsTheOldOne) {
  writeFile(path("dir.xml"), kDirContent);
  writeFile(path("cache.xml"), kCacheContent);
  configure(actionSetMode({{"actionset", path("missing-folder/out.xml")}}));
  EXPECT_EQ(run().exitCode, 103);
  EXPECT_NE(log().find("Error writing actionset.xml to path:" + path("missing-folder/out.xml")), std::string::npos);

  platform::Env::defaultEnv()->createDirectories(path("taken/out.xml"));  // the rename cannot replace a folder
  configure(actionSetMode({{"actionset", path("taken/out.xml")}}));
  EXPECT_EQ(run().exitCode, 103);
  std::vector<std::string> names;
  platform::Env::defaultEnv()->listDirectory(path("taken"), &names);
  EXPECT_EQ(names, std::vector<std::string>{"out.xml"}) << "a temporary file was left behind";
}

// ---- The unpersisted-directories mode.

class UnpersistedDirs : public Dornik {
 protected:
  void SetUp() override {
    configure({{"generate_action_set", "false"},
               {"currentpolicylist", path("current.xml")},
               {"prevpolicylist", path("previous.xml")},
               {"expiredpolicyfile", path("expired.xml")},
               {"unpersistedDirs", path("unpersisted.xml")},
               {"currentDirXml", path("currentdirs.txt")},
               {"prevDirXml", path("prevdirs.txt")}});
  }
  platform::ProcessResult runWithHome() {
    writeFile(path("home/.config/user-dirs.dirs"), "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
    return run({{"HOME", path("home")}, {"XDG_CONFIG_HOME", ""}});
  }
  // The logical path dornik gives a host folder under the default drive.
  std::string logical(const std::string& host) {
    std::string out = "c:" + host;
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
  }
};

TEST_F(UnpersistedDirs, ListsFoldersNoLongerCovered) {
  writeFile(path("current.xml"),
            "<policies>"
            "<p value='1'><s><target>/c/Data</target></s></p>"
            "<p value='2'><s><target>\\d\\x</target></s></p>"
            "<p value='3'><s><target>/my pictures/2006</target></s></p>"
            "<p value='4'><s><target>/e/expired</target></s></p>"
            "<p value='5'><s><target>/c/Data</target></s></p>"
            "</policies>");
  writeFile(path("previous.xml"),
            "<policies>"
            "<p value='1'><s><target>/c/Data</target></s></p>"
            "<p value='6'><s><target>/c/R&amp;D</target></s></p>"
            "<p value='4'><s><target>/e/expired</target></s></p>"
            "<p value='7'><s><other/></s></p>"
            "<p value='8'><s><target>My Pictures</target></s></p>"
            "<p value='9'/>"
            "<p><s><target>/c/no-value</target></s></p>"
            "</policies>");
  writeFile(path("expired.xml"), "<expired><id>4</id></expired>");
  auto result = runWithHome();
  ASSERT_EQ(result.exitCode, 0) << log();
  EXPECT_EQ(readFile(path("unpersisted.xml")),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<unPersistedDirs>\n"
            "  <dir/>\n"
            "  <dir>My Pictures</dir>\n"
            "  <dir>c:\\R&amp;D</dir>\n"
            "  <dir>c:\\no-value</dir>\n"
            "  <dir>e:\\expired</dir>\n"
            "</unPersistedDirs>\n");
  EXPECT_EQ(readFile(path("prevdirs.txt")),
            "<dir></dir>\n<dir>My Pictures</dir>\n<dir>c:\\Data</dir>\n<dir>c:\\R&amp;D</dir>\n"
            "<dir>c:\\no-value</dir>\n<dir>e:\\expired</dir>\n");
  EXPECT_NE(log().find("1 policies have no child element"), std::string::npos) << log();
#ifdef _WIN32
  // The system names the pictures folder; HOME and its settings do not count.
  std::string pictures = platform::knownFolderPath(platform::KnownFolder::Pictures);
  pictures[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(pictures[0])));
#else
  std::string pictures = logical(path("home/Bilder"));
#endif
  EXPECT_EQ(readFile(path("currentdirs.txt")), "<dir>c:\\Data</dir>\n<dir>" + pictures + "\\2006</dir>\n<dir>d:\\x</dir>\n");
}

TEST_F(UnpersistedDirs, UnreadableListsAndUnwritableOutputs) {
  writeFile(path("previous.xml"), "<policies/>");
  auto noCurrent = runWithHome();
  EXPECT_EQ(exitByte(noCurrent.exitCode), exitByte(-1));
  EXPECT_NE(log().find(" Error reading current policies List " + path("current.xml")), std::string::npos);

  writeFile(path("current.xml"), "<policies/>");
  writeFile(path("previous.xml"), "<policies>");
  EXPECT_EQ(exitByte(runWithHome().exitCode), exitByte(-1));
  EXPECT_NE(log().find(" Error reading previous policies List " + path("previous.xml")), std::string::npos);

  writeFile(path("previous.xml"), "<policies/>");
  EXPECT_EQ(runWithHome().exitCode, 0) << "a missing expired-policy file is no error";
  configure({{"generate_action_set", "false"},
             {"currentpolicylist", path("current.xml")},
             {"prevpolicylist", path("previous.xml")},
             {"unpersistedDirs", path("nowhere/unpersisted.xml")},
             {"currentDirXml", path("currentdirs.txt")},
             {"prevDirXml", path("prevdirs.txt")}});
  EXPECT_EQ(runWithHome().exitCode, 103);
  EXPECT_NE(log().find(path("nowhere/unpersisted.xml")), std::string::npos);

  // An output that is not configured at all is simply not written.
  configure({{"generate_action_set", "false"},
             {"currentpolicylist", path("current.xml")},
             {"prevpolicylist", path("previous.xml")},
             {"currentDirXml", path("only-current.txt")}});
  EXPECT_EQ(runWithHome().exitCode, 0) << log();
  EXPECT_TRUE(testsupport::fileExists(path("only-current.txt")));
}

// ---- The unpersisted-action-set mode.

class UnpersistedActionSet : public Dornik {
 protected:
  void SetUp() override {
    configure({{"generate_action_set", "false"},
               {"generate_unpersisted_dirs", "false"},
               {"currdircontent", path("current.xml")},
               {"prevdircontent", path("previous.xml")},
               {"unpersistedactionset", path("delete.xml")}});
  }
};

TEST_F(UnpersistedActionSet, DeletesWhatLeftTheListing) {
  writeFile(path("previous.xml"),
            "<listing>"
            "<directory path='c:\\both'/><directory path='c:\\gone'/><directory path='c:\\busy'/>"
            "<directory path='c:\\a'/>"
            "<file path='c:\\gone\\f.txt'/><file path='c:\\lone.txt'/><file path='c:\\both\\kept.txt'/>"
            "<file path='C:/as/written'/><file/><file path=''/><other path='c:\\x'/>"
            "</listing>");
  writeFile(path("current.xml"),
            "<whatever>"
            "<directory path='c:\\both'/><file path='c:\\busy\\still.txt'/><file path='c:\\both\\kept.txt'/>"
            "<file path='c:\\ab'/>"
            "</whatever>");
  auto result = run();
  ASSERT_EQ(result.exitCode, 0) << log();
  EXPECT_EQ(readFile(path("delete.xml")),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<action-set>\n"
            "  <action name=\"delete\">\n"
            "    <directory path=\"c:\\gone\"/>\n"
            "    <file path=\"C:/as/written\"/>\n"
            "    <file path=\"c:\\lone.txt\"/>\n"
            "  </action>\n"
            "</action-set>\n");
}

TEST_F(UnpersistedActionSet, IdenticalListingsAndFailures) {
  writeFile(path("previous.xml"), "<l><directory path='c:\\d'/><file path='c:\\d\\f'/></l>");
  writeFile(path("current.xml"), "<l><directory path='c:\\d'/><file path='c:\\d\\f'/></l>");
  ASSERT_EQ(run().exitCode, 0);
  EXPECT_NE(readFile(path("delete.xml")).find("<action name=\"delete\"/>"), std::string::npos);

  writeFile(path("current.xml"), "<l>");
  EXPECT_EQ(exitByte(run().exitCode), exitByte(-1));
  EXPECT_NE(log().find(" Error reading currentdir content at  " + path("current.xml")), std::string::npos);
  writeFile(path("current.xml"), "<l/>");
  platform::Env::defaultEnv()->removeFile(path("previous.xml"));
  EXPECT_EQ(exitByte(run().exitCode), exitByte(-1));
  EXPECT_NE(log().find(" Error reading prev dir content at  " + path("previous.xml")), std::string::npos);

  writeFile(path("previous.xml"), "<l/>");
  configure({{"generate_action_set", "false"},
             {"generate_unpersisted_dirs", "false"},
             {"currdircontent", path("current.xml")},
             {"prevdircontent", path("previous.xml")},
             {"unpersistedactionset", path("no/such/delete.xml")}});
  EXPECT_EQ(run().exitCode, 103);
  EXPECT_NE(log().find("Error writing unperisted actionset.xml to path:" + path("no/such/delete.xml")),
            std::string::npos);
}

}  // namespace
