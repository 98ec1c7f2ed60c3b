#include "tests/snapshot_maker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <vector>

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/xml_builder.h"
#include "bindings/zrcore/xml_element.h"
#include "bindings/zrcore/xml_writer.h"
#include "platform/env.h"
#include "platform/path.h"

namespace testsupport {
namespace {

void store(const std::string& out, const std::string& content) {
  std::string error;
  ASSERT_TRUE(ZR::CFileUtils::writeFileAtomically(out, content, error)) << error;
}

void textChild(ZR::CXmlWriter& xml, const std::string& name, const std::string& text) {
  xml.startElement(name);
  xml.text(text);
  xml.endElement();
}

std::string logicalUnder(const std::string& path, const std::string& driveRoot) {
  if (driveRoot.empty()) return platform::logicalPath(path);
  std::string relative = path.substr(std::min(path.size(), driveRoot.size()));
  std::replace(relative.begin(), relative.end(), '/', '\\');
  if (relative.empty() || relative.front() != '\\') relative.insert(relative.begin(), '\\');
  return "c:" + relative;
}

void listTree(const std::string& folder, const std::string& driveRoot, ZR::CXmlWriter& xml) {
  platform::Env* env = platform::Env::defaultEnv();
  xml.startElement("directory");
  xml.attribute("path", logicalUnder(folder, driveRoot));
  xml.endElement();
  std::vector<std::string> names;
  ASSERT_TRUE(env->listDirectory(folder, &names)) << folder;
  std::sort(names.begin(), names.end());
  std::vector<std::string> folders;
  for (const std::string& name : names) {
    std::string full = platform::joinPath(folder, name);
    platform::FileInfo info;
    ASSERT_TRUE(env->getFileInfo(full, &info)) << full;
    if (info.isDirectory) {
      folders.push_back(full);
      continue;
    }
    xml.startElement("file");
    xml.attribute("path", logicalUnder(full, driveRoot));
    textChild(xml, "origin-size", std::to_string(info.size));
    textChild(xml, "origin-modified", std::to_string(info.modifiedUnixSeconds));
    xml.endElement();
  }
  for (const std::string& sub : folders) listTree(sub, driveRoot, xml);
}

std::string attributeOf(const ZR::CXmlElement& element, const std::string& name, const std::string& otherwise) {
  const ZR::CXmlAttribute* attribute = element.getAttribute(name);
  return attribute ? attribute->value : otherwise;
}

}  // namespace

void writeDirContent(const std::string& folder, const std::string& driveRoot, const std::string& out) {
  std::string content;
  ZR::CXmlWriter xml(content, false);
  xml.declaration();
  xml.startElement("dir-content");
  listTree(folder, driveRoot, xml);
  xml.finish();
  store(out, content);
}

void writeCacheContent(const std::string& contents, const std::string& out) {
  std::unique_ptr<ZR::CXmlElement> listed;
  if (platform::Env::defaultEnv()->fileExists(contents)) {
    std::string error;
    listed.reset(ZR::CXmlBuilder::fileToDocument(contents, error));
    ASSERT_TRUE(listed) << contents << ": " << error;
  }
  std::string content;
  ZR::CXmlWriter xml(content, false);
  xml.declaration();
  xml.startElement("cache-content");
  std::set<std::string> folders;
  for (size_t i = 0; listed && i < listed->getChildCount(); ++i) {
    const ZR::CXmlElement& file = *listed->getChild(i);
    if (file.getName() != "file") continue;
    std::string path = attributeOf(file, "path", "");
    for (std::string folder = path.substr(0, path.rfind('\\'));
         !folder.empty() && folder.find('\\') != std::string::npos && folders.insert(folder).second;
         folder = folder.substr(0, folder.rfind('\\'))) {
    }
    xml.startElement("file");
    xml.attribute("path", path);
    textChild(xml, "origin-size", attributeOf(file, "origin-size", ""));
    textChild(xml, "origin-modified", attributeOf(file, "origin-modified", ""));
    textChild(xml, "state", "1");
    textChild(xml, "cache-actualsize", attributeOf(file, "size", "0"));
    xml.endElement();
  }
  for (const std::string& folder : folders) {
    xml.startElement("directory");
    xml.attribute("path", folder);
    xml.endElement();
  }
  xml.finish();
  store(out, content);
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
