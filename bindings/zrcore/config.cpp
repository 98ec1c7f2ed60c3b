#include "bindings/zrcore/config.h"

#include <mutex>

#include "bindings/zrcore/string_utils.h"
#include "bindings/zrcore/xml_builder.h"
#include "platform/env.h"
#include "platform/path.h"

namespace ZR {
namespace {

std::unique_ptr<CConfigManager>& configSlot() {
  static std::unique_ptr<CConfigManager> slot;
  return slot;
}

std::string& configError() {
  static std::string error;
  return error;
}

std::unique_ptr<CCachingPolicyEngineFile>& engineFileSlot() {
  static std::unique_ptr<CCachingPolicyEngineFile> slot;
  return slot;
}

std::string& engineFileError() {
  static std::string error;
  return error;
}

bool isAbsolute(const std::string& path) {
  return (!path.empty() && (path[0] == '/' || path[0] == '\\')) || platform::hasDriveLetter(path);
}

std::string resolveIn(const std::string& folder, const std::string& path) {
  if (isAbsolute(path)) return platform::hostPath(path);
  return platform::joinPath(folder, platform::hostPath(path));
}

std::string attributeOf(const CXmlElement& root, const char* element, const char* attribute) {
  const CXmlElement* child = root.getChild(element);
  const CXmlAttribute* found = child ? child->getAttribute(attribute) : nullptr;
  return found ? found->value : "";
}

CLogLevel parseLevel(const std::string& text) {
  std::string level = CStringUtils::lowerCaseASCII(text);
  if (level == "trace" || level == "debug") return CLogLevel::Trace;
  if (level == "warning" || level == "warn") return CLogLevel::Warning;
  if (level == "error") return CLogLevel::Error;
  return CLogLevel::Info;
}

struct LastLoaded {
  std::mutex mutex;
  std::string path;
  std::string version;  // of the file when it was read: a changed file is read again
  std::shared_ptr<const CXmlElement> document;
};

std::string versionOf(platform::Env& env, const std::string& path) {
  platform::FileInfo info;
  return env.getFileInfo(platform::hostPath(path), &info) ? info.versionText() : std::string();
}

LastLoaded& lastLoaded() {
  static LastLoaded last;
  return last;
}

}  // namespace

std::shared_ptr<const CXmlElement> loadConfigurationDocument(platform::Env& env, const std::string& path,
                                                             std::string& error) {
  LastLoaded& last = lastLoaded();
  std::string version = versionOf(env, path);
  {
    std::lock_guard<std::mutex> lock(last.mutex);
    if (last.document && last.path == path && !version.empty() && last.version == version) return last.document;
  }
  std::string parseError;
  std::shared_ptr<const CXmlElement> document(CXmlBuilder::fileToDocument(env, path, parseError));
  if (!document) {
    error = "cannot load configuration " + path + ": " + parseError;
    return nullptr;
  }
  if (document->getName() != kConfigurationRoot) {
    error = "configuration " + path + " has root element '" + document->getName() + "', expected '" +
            kConfigurationRoot + "'";
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(last.mutex);
  last.path = path;
  last.version = version;
  last.document = document;
  return document;
}

namespace {

// Forgets the kept document, so that the next load reads the file again.
void forgetLoaded() {
  std::lock_guard<std::mutex> lock(lastLoaded().mutex);
  lastLoaded().document.reset();
}

}  // namespace

bool CConfigManager::initialize(int kind, const std::string& path, bool reserved) {
  return initialize(*platform::env(), kind, path, reserved);
}

bool CConfigManager::initialize(platform::Env& env, int, const std::string& path, bool) {
  auto document = loadConfigurationDocument(env, path, configError());
  if (!document) return false;
  auto config = std::make_unique<CConfigManager>();
  config->path_ = path;
  config->folder_ = platform::parentFolder(platform::hostPath(path));
  const CXmlElement& root = *document;

  std::string logFolder = attributeOf(root, "logging", "folder");
  config->log_.folder = logFolder.empty() ? config->folder_ : resolveIn(config->folder_, logFolder);
  config->log_.level = parseLevel(attributeOf(root, "logging", "level"));
  int64_t sizeKB = CNumberText::toInt64(attributeOf(root, "logging", "maxFileSizeKB"));
  if (sizeKB > 0 && sizeKB < (int64_t{1} << 40)) config->log_.maxFileBytes = static_cast<uint64_t>(sizeKB) * 1024;
  int64_t files = CNumberText::toInt64(attributeOf(root, "logging", "maxFiles"));
  if (files > 0 && files < 1000) config->log_.maxFiles = static_cast<size_t>(files);

  std::string cabinet = attributeOf(root, "cabinet", "path");
  config->cabinetPath_ = resolveIn(config->folder_, cabinet.empty() ? "cabinet.db" : cabinet);

  config->document_ = std::move(document);
  configSlot() = std::move(config);
  configError().clear();
  return true;
}

CConfigManager* CConfigManager::instance() { return configSlot().get(); }

const std::string& CConfigManager::lastError() { return configError(); }

void CConfigManager::reset() {
  configSlot().reset();
  forgetLoaded();
}

bool CCachingPolicyEngineFileManager::initialize(int kind, const std::string& path, bool reserved) {
  return initialize(*platform::env(), kind, path, reserved);
}

bool CCachingPolicyEngineFileManager::initialize(platform::Env& env, int, const std::string& path, bool) {
  auto document = loadConfigurationDocument(env, path, engineFileError());
  if (!document) return false;
  CDornikTable table;
  if (const CXmlElement* section = document->getChild("policyEngine")) {
    for (size_t i = 0; i < section->getChildCount(); ++i) {
      const CXmlElement* entry = section->getChild(i);
      const CXmlAttribute* value = entry->getAttribute("value");
      if (value) table.emplace(entry->getName(), value->value);
    }
  }
  engineFileSlot() = std::make_unique<CCachingPolicyEngineFile>(path, std::move(table));
  engineFileError().clear();
  return true;
}

const CCachingPolicyEngineFile* CCachingPolicyEngineFileManager::instance() { return engineFileSlot().get(); }

const std::string& CCachingPolicyEngineFileManager::lastError() { return engineFileError(); }

void CCachingPolicyEngineFileManager::reset() {
  engineFileSlot().reset();
  forgetLoaded();
}

}  // namespace ZR
