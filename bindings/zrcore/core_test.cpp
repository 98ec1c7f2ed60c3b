#include <gtest/gtest.h>

#include <limits>

#include "bindings/zrcore/config.h"
#include "bindings/zrcore/configurator.h"
#include "bindings/zrcore/file.h"
#include "bindings/zrcore/file_types.h"
#include "bindings/zrcore/string_utils.h"
#include "platform/env.h"
#include "platform/testing/memory_env.h"
#include "tests/test_support.h"

namespace {

using ZR::CNumberText;

TEST(StringSplitter, KeepsEmptyParts) {
  struct Case {
    const char* text;
    const char* separator;
    std::vector<std::string> parts;
  } cases[] = {
      {"a;b;c", ";", {"a", "b", "c"}},
      {"a;;b", ";", {"a", "", "b"}},
      {"", ";", {""}},
      {";", ";", {"", ""}},
      {"image/png", "/", {"image", "png"}},
      {"a::b", "::", {"a", "b"}},
  };
  for (const Case& c : cases) {
    ZR::CStringSplitterExact split(c.text, c.separator);
    ASSERT_EQ(split.getPartCount(), c.parts.size()) << c.text;
    for (size_t i = 0; i < c.parts.size(); ++i) {
      std::string part;
      EXPECT_TRUE(split.getPart(i, part));
      EXPECT_EQ(part, c.parts[i]);
    }
    std::string none;
    EXPECT_FALSE(split.getPart(c.parts.size(), none));
  }
}

TEST(StringUtils, TextHelpers) {
  EXPECT_EQ(ZR::CStringUtils::lowerCaseASCII("AbC\xC3\x89"), "abc\xC3\x89");
  EXPECT_TRUE(ZR::CStringUtils::isAscii("plain.txt"));
  EXPECT_FALSE(ZR::CStringUtils::isAscii("caf\xC3\xA9"));
  EXPECT_EQ(ZR::CStringUtils::rtrim("name \r\n", " \r\n"), "name");
  EXPECT_EQ(ZR::CStringUtils::rtrim("   ", " "), "");
  std::string today;
  ZR::CTimeUtils::getUTCTime(today);
  EXPECT_EQ(today.size(), 14u);
  EXPECT_EQ(today.substr(0, 2), "20");
}

TEST(NumberText, FollowsTheCLibraryRulesWithoutOverflow) {
  struct Case {
    const char* text;
    int64_t asInt64;
    int32_t asInt32;
  } cases[] = {
      {"42", 42, 42},           {"  -17xyz", -17, -17}, {"+8", 8, 8},
      {"ten", 0, 0},            {"", 0, 0},             {"4096 bytes", 4096, 4096},
      {"5000000000", 5000000000, std::numeric_limits<int32_t>::max()},
      {"-99999999999999999999999", std::numeric_limits<int64_t>::min(), std::numeric_limits<int32_t>::min()},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CNumberText::toInt64(c.text), c.asInt64) << c.text;
    EXPECT_EQ(CNumberText::toInt32(c.text), c.asInt32) << c.text;
  }
  EXPECT_DOUBLE_EQ(CNumberText::toDouble("1733580000.5abc"), 1733580000.5);
  EXPECT_DOUBLE_EQ(CNumberText::toDouble("abc"), 0.0);
  EXPECT_DOUBLE_EQ(CNumberText::toDouble("nan"), 0.0);
}

TEST(StringUtils, XmlTextIsWellFormedUtf8WithoutIllegalCharacters) {
  struct Case {
    std::string text;
    bool ok;
  } cases[] = {
      {"plain name.txt", true},   {"caf\xC3\xA9", true},          {"\xE6\x97\xA5\xE6\x9C\xAC", true},
      {"\xF0\x9F\x98\x80", true}, {"tab\there", true},            {"", true},
      {"bell\x07", false},        {std::string("nul\0", 4), false}, {"\xC3", false},
      {"\xC0\xAF", false},        {"\xED\xA0\x80", false},        {"\xEF\xBF\xBE", false},
      {"\xF4\x90\x80\x80", false}, {"\xFF", false},               {"latin1 \xE9t\xE9", false},
  };
  for (const Case& c : cases) EXPECT_EQ(ZR::CStringUtils::isXmlText(c.text), c.ok) << c.text;
}

TEST(StringUtils, HashHexIsFnv1aIn16Digits) {
  EXPECT_EQ(ZR::CStringUtils::hashHex(""), "cbf29ce484222325");
  EXPECT_EQ(ZR::CStringUtils::hashHex("a"), "af63dc4c8601ec8c");
  EXPECT_NE(ZR::CStringUtils::hashHex("ab"), ZR::CStringUtils::hashHex("ba"));
}

TEST(NumberText, ExactParsingTakesWholeNumbersOnly) {
  struct Case {
    const char* text;
    bool ok;
    int64_t value;
  } cases[] = {
      {"25", true, 25},        {"-3", true, -3},        {"0", true, 0},
      {"9223372036854775807", true, std::numeric_limits<int64_t>::max()},
      {"-9223372036854775808", true, std::numeric_limits<int64_t>::min()},
      {"9223372036854775808", false, 7}, {"abc", false, 7}, {"", false, 7}, {"-", false, 7},
      {" 25", false, 7},       {"25 ", false, 7},       {"+25", false, 7}, {"2.5", false, 7},
  };
  for (const Case& c : cases) {
    int64_t value = 7;
    EXPECT_EQ(CNumberText::parseExact(c.text, value), c.ok) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

TEST(Base64, DecodesStrictly) {
  struct Case {
    const char* text;
    bool valid;
    const char* decoded;
  } cases[] = {
      {"c2VjcmV0", true, "secret"}, {"YQ==", true, "a"},   {"YWI=", true, "ab"},   {"", true, ""},
      {"YQ=", false, ""},           {"Y===", false, ""},   {"YR==", false, ""},    {"c2Vj!mV0", false, ""},
      {"YQ==YQ==", false, ""},      {"c2V jcmV0", false, ""},
  };
  for (const Case& c : cases) {
    std::string out = "untouched";
    EXPECT_EQ(ZR::decodeBase64(c.text, out), c.valid) << c.text;
    EXPECT_EQ(out, c.valid ? c.decoded : "untouched") << c.text;
  }
  EXPECT_EQ(ZR::encodeBase64("secret"), "c2VjcmV0");
  EXPECT_EQ(ZR::encodeBase64("ab"), "YWI=");
}

TEST(Configurator, ReadsFlatKeyValueFile) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("agent.xml"),
                         "<properties>"
                         "<entry key='config.proxy.http.host'>proxy.example.org</entry>"
                         "<entry key='config.proxy.http.port' value='3128'/>"
                         "<entry key='config.proxy.http.userpassword'>c2VjcmV0</entry>"
                         "<entry key='bad.base64'>not*base64</entry>"
                         "</properties>");
  ZR::CConfiguratorXmlImpl2 config;
  ASSERT_TRUE(config.loadConfig(dir.file("agent.xml")));
  std::string value;
  EXPECT_TRUE(config.getString("config.proxy.http.host", value));
  EXPECT_EQ(value, "proxy.example.org");
  EXPECT_TRUE(config.getString("config.proxy.http.port", value));
  EXPECT_EQ(value, "3128");
  EXPECT_TRUE(config.getBase64String("config.proxy.http.userpassword", value));
  EXPECT_EQ(value, "secret");
  EXPECT_FALSE(config.getBase64String("bad.base64", value));
  EXPECT_FALSE(config.getString("absent", value));
  EXPECT_FALSE(config.loadConfig(dir.file("missing.xml")));
}

TEST(Configuration, SettingsTableAndOurOwnSettings) {
  testsupport::TempDir dir;
  std::string path = dir.file("cfg/engine.xml");
  testsupport::writeFile(path,
                         "<CachingPolicyEngineConfiguration>"
                         "<policyEngine><dircontent value='d.xml'/><novalue/><dircontent value='second'/>"
                         "<actionset value=''/></policyEngine>"
                         "<logging folder='logs' level='warning'/>"
                         "</CachingPolicyEngineConfiguration>");
  ASSERT_TRUE(ZR::CCachingPolicyEngineFileManager::initialize(0, path, false));
  const ZR::CDornikTable& table = ZR::CCachingPolicyEngineFileManager::instance()->getTable();
  EXPECT_EQ(table.size(), 2u);
  EXPECT_EQ(table.at("dircontent"), "d.xml");
  EXPECT_EQ(table.at("actionset"), "");
  ASSERT_TRUE(ZR::CConfigManager::initialize(1, path, false));
  const ZR::CConfigManager* config = ZR::CConfigManager::instance();
  EXPECT_EQ(config->logSettings().folder, dir.file("cfg/logs"));
  EXPECT_EQ(config->logSettings().level, ZR::CLogLevel::Warning);
  EXPECT_EQ(config->cabinetPath(), dir.file("cfg/cabinet.db"));
  ZR::CConfigManager::reset();
  ZR::CCachingPolicyEngineFileManager::reset();
}

TEST(Configuration, RefusesMissingBrokenOrForeignFiles) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("broken.xml"), "<CachingPolicyEngineConfiguration>");
  testsupport::writeFile(dir.file("foreign.xml"), "<Something/>");
  for (const char* name : {"missing.xml", "broken.xml", "foreign.xml"}) {
    EXPECT_FALSE(ZR::CCachingPolicyEngineFileManager::initialize(0, dir.file(name), false)) << name;
    EXPECT_NE(ZR::CCachingPolicyEngineFileManager::lastError().find(name), std::string::npos);
    EXPECT_FALSE(ZR::CConfigManager::initialize(1, dir.file(name), false)) << name;
  }
  EXPECT_EQ(ZR::CConfigManager::instance(), nullptr);
}

TEST(FileTypes, TypeFromExtensionUsesTheTable) {
  struct Case {
    const char* path;
    int32_t code;
    const char* mime;
    int32_t generic;
  } cases[] = {
      {"c:\\p\\photo.JPG", 3, "image/jpeg", 2},
      {"photo.jfif", 3, "image/jpeg", 2},
      {"song.mp3", 8, "audio/mpeg", 4},
      {"archive.tar.gz", 28, "application/octet-stream", 1},
      {"c:\\data.v2\\readme", 28, "application/octet-stream", 1},
      {"ends.", 28, "application/octet-stream", 1},
      {"notes.XML", 35, "text/xml", 1},
      {"", 28, "application/octet-stream", 1},
  };
  for (const Case& c : cases) {
    std::string mime;
    int32_t generic = 0;
    EXPECT_EQ(ZR::CMimeHelper::typeFromExtension(c.path, mime, generic), c.code) << c.path;
    EXPECT_EQ(mime, c.mime) << c.path;
    EXPECT_EQ(generic, c.generic) << c.path;
  }
}

// Fails the chosen step of an atomic write.
class FailingEnv : public platform::EnvWrapper {
 public:
  enum Fault { WriteFails, RenameFails };
  explicit FailingEnv(Fault fault) : EnvWrapper(platform::Env::defaultEnv()), fault_(fault) {}

  platform::Status openWritable(const std::string& path, std::unique_ptr<platform::WritableFile>* file) override {
    return shortened(target()->openWritable(path, file), file);
  }
  platform::Status createExclusive(const std::string& path, std::unique_ptr<platform::WritableFile>* file) override {
    return shortened(target()->createExclusive(path, file), file);
  }
  platform::Status renameFile(const std::string& from, const std::string& to) override {
    if (fault_ == RenameFails) return platform::Status::ioError("rename refused");
    return target()->renameFile(from, to);
  }

 private:
  platform::Status shortened(platform::Status opened, std::unique_ptr<platform::WritableFile>* file) {
    if (opened && fault_ == WriteFails) *file = std::make_unique<ShortWrites>(std::move(*file));
    return opened;
  }
  // Accepts the first bytes, then reports a full disk.
  class ShortWrites : public platform::WritableFile {
   public:
    explicit ShortWrites(std::unique_ptr<platform::WritableFile> real) : real_(std::move(real)) {}
    bool append(const char* data, size_t n) override {
      real_->append(data, n / 2);
      return false;
    }
    bool sync() override { return real_->sync(); }
    bool close() override { return real_->close(); }

   private:
    std::unique_ptr<platform::WritableFile> real_;
  };
  Fault fault_;
};

TEST(AtomicFile, FailureKeepsTheOldFileAndLeavesNoTemporary) {
  for (FailingEnv::Fault fault : {FailingEnv::WriteFails, FailingEnv::RenameFails}) {
    testsupport::TempDir dir;
    std::string path = dir.file("actionset.xml");
    testsupport::writeFile(path, "old content");
    FailingEnv failing(fault);
    std::string error;
    EXPECT_FALSE(ZR::CFileUtils::writeFileAtomically(failing, path, "new content that is longer", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(testsupport::readFile(path), "old content");
    std::vector<std::string> names;
    platform::Env::defaultEnv()->listDirectory(dir.path(), &names);
    EXPECT_EQ(names, std::vector<std::string>{"actionset.xml"});
  }
}

// Every step of a whole-file write (the link check, the temporary, the
// access copy, the rename, the clean-up) is an operation of the Env given:
// in memory nothing reaches the disk, and the old file is replaced whole.
TEST(AtomicFile, WritesOnlyThroughTheEnvItIsGiven) {
  platform::MemoryEnv memory;
  memory.addFile("/nowhere/status/cs_progress.xml", "old");
  std::string error;
  ASSERT_TRUE(ZR::CFileUtils::writeFileAtomically(memory, "/nowhere/status/cs_progress.xml", "new", error)) << error;
  EXPECT_EQ(memory.contentOf("/nowhere/status/cs_progress.xml"), "new");
  std::vector<std::string> names;
  ASSERT_TRUE(memory.listDirectory("/nowhere/status", &names));
  EXPECT_EQ(names, std::vector<std::string>{"cs_progress.xml"});
  EXPECT_FALSE(platform::Env::defaultEnv()->fileExists("/nowhere"));
  ZR::CFile read(memory, "/nowhere/status/cs_progress.xml", "r");
  EXPECT_EQ(read.size(), 3);
  EXPECT_TRUE(ZR::CDir::removeDirectory(memory, "/nowhere", true));
  EXPECT_FALSE(memory.fileExists("/nowhere/status/cs_progress.xml"));
}

TEST(AtomicFile, ReplacesWholeAndRefusesMissingFolderOrName) {
  testsupport::TempDir dir;
  std::string path = dir.file("out.txt");
  testsupport::writeFile(path, "a much longer old content");
  std::string error;
  ASSERT_TRUE(ZR::CFileUtils::writeFileAtomically(*platform::env(), path, "new", error)) << error;
  EXPECT_EQ(testsupport::readFile(path), "new");
  EXPECT_FALSE(ZR::CFileUtils::writeFileAtomically(*platform::env(), dir.file("no/such/folder/x"), "x", error));
  EXPECT_NE(error.find(dir.file("no/such/folder")), std::string::npos) << error;
  EXPECT_FALSE(ZR::CFileUtils::writeFileAtomically(*platform::env(), "", "x", error));
}

TEST(AtomicFile, ACommitRemovesTemporariesOfEndedWriters) {
  testsupport::TempDir dir;
  const std::string deadPid = std::to_string(testsupport::endedProcessId());
  const std::string ownPid = std::to_string(platform::processId());
  struct Case {
    std::string name;
    bool kept;
  } cases[] = {
      {"status.xml.tmp-" + deadPid + "-3", false},     // its writer was killed
      {"status.xml.tmp-" + ownPid + "-999", true},     // ours: another writer may be busy with it
#ifndef _WIN32
      {"status.xml.tmp-1-0", true},                    // a live process (Windows has no fixed one)
#endif
      {"other.xml.tmp-" + deadPid + "-0", true},       // another file's
      {"status.xml.tmp-x" + deadPid + "-0", true},     // not a temporary's name
      {"status.xml.tmp--0", true},
  };
  for (const Case& c : cases) testsupport::writeFile(dir.file(c.name), "half");
  std::string error;
  ASSERT_TRUE(ZR::CFileUtils::writeFileAtomically(*platform::env(), dir.file("status.xml"), "<whole/>", error))
      << error;
  for (const Case& c : cases) EXPECT_EQ(testsupport::fileExists(dir.file(c.name)), c.kept) << c.name;
}

TEST(Files, InfoNamesAndFolders) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("sub/a.bin"), std::string(5000, 'x'));
  ZR::CFileInfo info;
  ASSERT_TRUE(ZR::CFileUtils::getFileInfo(dir.file("sub/a.bin"), info));
  EXPECT_EQ(info.size, 5000u);
  {
    ZR::CFile file(dir.file("sub/a.bin"), "r");
    EXPECT_EQ(file.size(), 5000);
  }  // Windows keeps a folder with an open file in it
  EXPECT_EQ(ZR::CFileUtils::fileNameFromPath("c:\\docs\\a.doc"), "a.doc");
  EXPECT_EQ(ZR::CFileUtils::fileNameFromPath("/x/y/b.txt"), "b.txt");
  EXPECT_TRUE(ZR::CDir::removeDirectory(dir.file("sub"), true));
  EXPECT_FALSE(ZR::CFileUtils::fileExists(dir.file("sub")));
  EXPECT_FALSE(ZR::CFile(dir.file("missing"), "r").isValid());
#ifdef _WIN32
  EXPECT_EQ(ZR::CAppUtil::getExeFolder().back(), '\\');
#else
  EXPECT_EQ(ZR::CAppUtil::getExeFolder().back(), '/');
#endif
}

}  // namespace
