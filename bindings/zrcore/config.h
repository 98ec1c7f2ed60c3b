// The configuration file both programs share (root element
// CachingPolicyEngineConfiguration). Besides the policy engine's settings
// table (element policyEngine) and the client section (cacheManagerClient)
// it holds our own settings, each optional:
//
//   <logging folder="logs" level="info" maxFileSizeKB="10240" maxFiles="5"/>
//   <cabinet path="cabinet.db"/>
//
// Relative paths in those two elements are taken from the configuration
// file's folder; the defaults are that folder and cabinet.db in it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "bindings/zrcore/xml_element.h"
#include "platform/env.h"

namespace ZR {

constexpr const char* kConfigurationRoot = "CachingPolicyEngineConfiguration";

enum class CLogLevel { Trace, Info, Warning, Error };

struct CLogSettings {
  std::string folder;  // host path
  CLogLevel level = CLogLevel::Info;
  uint64_t maxFileBytes = 10ull * 1024 * 1024;
  size_t maxFiles = 5;
};

class CConfigManager {
 public:
  // Loads the configuration file. False when it cannot be read, is not
  // well-formed or has another root; lastError() tells why. `kind` and
  // `reserved` are kept for the callers' sake and not used. The programs
  // read it through their run's Env; the form without one uses the
  // process's.
  static bool initialize(platform::Env& env, int kind, const std::string& path, bool reserved);
  static bool initialize(int kind, const std::string& path, bool reserved);
  // The loaded configuration; null before a successful initialize.
  static CConfigManager* instance();
  static const std::string& lastError();
  // Forgets the loaded configuration (tests).
  static void reset();

  const std::string& configurationPath() const { return path_; }
  // Host path of the folder holding the configuration file.
  const std::string& configurationFolder() const { return folder_; }
  const CXmlElement& document() const { return *document_; }
  bool getValue(const std::string& expression, std::string& value, std::string& message) const {
    return document_->getValue(expression, value, message);
  }
  const CLogSettings& logSettings() const { return log_; }
  // Host path of the file index.
  const std::string& cabinetPath() const { return cabinetPath_; }

 private:
  std::string path_;
  std::string folder_;
  std::shared_ptr<const CXmlElement> document_;
  CLogSettings log_;
  std::string cabinetPath_;
};

// The policy engine's settings: name to value text, sorted by name.
using CDornikTable = std::map<std::string, std::string>;

class CCachingPolicyEngineFile {
 public:
  CCachingPolicyEngineFile(std::string path, CDornikTable table) : path_(std::move(path)), table_(std::move(table)) {}
  const std::string& getPath() const { return path_; }
  const CDornikTable& getTable() const { return table_; }

 private:
  std::string path_;
  CDornikTable table_;
};

// Reads the policy engine's settings table: every child element of
// policyEngine is one entry, named by the element, its value the element's
// `value` attribute (<dircontent value="..."/>). Children without `value`
// are not entries; of two entries with one name the first counts.
class CCachingPolicyEngineFileManager {
 public:
  static bool initialize(platform::Env& env, int kind, const std::string& path, bool reserved);
  static bool initialize(int kind, const std::string& path, bool reserved);
  // Null before a successful initialize.
  static const CCachingPolicyEngineFile* instance();
  static const std::string& lastError();
  static void reset();
};

// Loads a configuration document and checks its root; shared by both
// managers, so a program that sets up both parses its file once (the last
// document loaded is kept for the next call with the same path). Null with
// `error` on failure.
std::shared_ptr<const CXmlElement> loadConfigurationDocument(platform::Env& env, const std::string& path,
                                                             std::string& error);

}  // namespace ZR
