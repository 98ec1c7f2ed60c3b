#include "tests/snapshot_maker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "agent/backup.h"
#include "agent/cache_service.h"
#include "bindings/zrcore/file.h"
#include "bindings/zrcore/xml_writer.h"
#include "platform/env.h"
#include "platform/path.h"

namespace testsupport {
namespace {

void store(const std::string& out, const std::string& content) {
  std::string error;
  ASSERT_TRUE(ZR::CFileUtils::writeFileAtomically(*platform::env(), out, content, error)) << error;
}

std::string logicalUnder(const std::string& path, const std::string& driveRoot) {
  if (driveRoot.empty()) return agent::logicalOf(path);
  std::string relative = path.substr(std::min(path.size(), driveRoot.size()));
  std::replace(relative.begin(), relative.end(), '/', '\\');
  if (relative.empty() || relative.front() != '\\') relative.insert(relative.begin(), '\\');
  return "c:" + relative;
}

}  // namespace

// cacheagent's own scan, with the drive root given here rather than by
// the process's environment.
void writeDirContent(const std::string& folder, const std::string& driveRoot, const std::string& out) {
  agent::AgentConfig config;
  config.env = platform::Env::defaultEnv();
  config.dirContent = out;
  config.watches.push_back({folder, logicalUnder(folder, driveRoot), {}});
  agent::ScanResult result;
  platform::Status written = agent::writeDirContent(config, nullptr, result);
  ASSERT_TRUE(written) << written.message();
}

void writeCacheContent(const std::string& contents, const std::string& out) {
  std::vector<agent::CachedFile> files;
  std::string text;
  if (platform::readFileToString(contents, &text)) {
    platform::Status read = agent::readListing(text, files);
    ASSERT_TRUE(read) << contents << ": " << read.message();
  }
  platform::Status written = agent::writeCacheContent(*platform::Env::defaultEnv(), out, files);
  ASSERT_TRUE(written) << written.message();
}

void writeOneActionSet(const std::string& out, const std::string& action, const std::string& path) {
  std::string content;
  ZR::CXmlWriter xml(content, false);
  xml.declaration();
  xml.startElement("action-set");
  xml.startElement("action");
  xml.attribute("name", action);
  if (!path.empty()) {
    xml.startElement("folder");
    xml.attribute("path", path);
    xml.endElement();
  }
  xml.finish();
  store(out, content);
}

}  // namespace testsupport
