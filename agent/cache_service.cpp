#include "agent/cache_service.h"

#include "agent/console.h"

#include <cstring>

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "bindings/zrcore/xml_reader.h"
#include "snapshot/snapshot_writer.h"
#include "service/cache_manager_calls.h"
#include "service/error_messages.h"
#include "service/velkan_exceptions.h"

namespace agent {
namespace {

std::string trimmed(const char* text) { return ZR::CStringUtils::rtrim(text, " \t\r\n"); }

// What went wrong with a call, in one line: the transport's account for a
// person where there is one.
std::string oneLine(const std::exception& e) {
  if (const auto* soap = dynamic_cast<const velkan::CSoapException*>(&e); soap && !soap->detail().empty()) {
    return soap->detail();
  }
  std::string text = trimmed(e.what());
  for (char& c : text) c = c == '\n' || c == '\r' ? ' ' : c;
  return text;
}

std::string codeText(const std::string& result) {
  int code = ZR::CNumberText::toInt32(result);
  std::string message = velkan::CErrorMessageRegistry::instance().serviceMessage(code);
  return "the service answered " + std::to_string(code) + (message.empty() ? "" : " (" + message + ")");
}

// Collects the <file> entries of a listing as they stream by.
class ListingReader : public ZR::CXmlHandler {
 public:
  explicit ListingReader(std::vector<CachedFile>& files) : files_(files) {}
  void startElement(const char* name, const ZR::CXmlAttributes& attributes) override {
    if (std::strcmp(name, "file") != 0) return;
    const char* path = attributes.find("path");
    if (!path || !*path) return;
    CachedFile file;
    file.path = path;
    const char* size = attributes.find("size");
    file.size = size ? static_cast<uint64_t>(std::max<int64_t>(0, ZR::CNumberText::toInt64(size))) : 0;
    const char* originSize = attributes.find("origin-size");
    const char* originModified = attributes.find("origin-modified");
    if (originSize) file.originSize = originSize;
    if (originModified) file.originModified = originModified;
    if (const char* encoding = attributes.find("encoding")) file.encoding = encoding;
    if (const char* cacheSize = attributes.find("cache-size")) file.cacheSize = cacheSize;
    if (const char* picture = attributes.find("picture")) file.picture = std::strcmp(picture, "1") == 0;
    if (const char* updated = attributes.find("updated")) file.updated = ZR::CNumberText::toInt64(updated);
    if (const char* version = attributes.find("version")) file.version = ZR::CNumberText::toInt64(version);
    files_.push_back(std::move(file));
  }
  void endElement(const char*) override {}
  void characters(const char*, size_t) override {}

 private:
  std::vector<CachedFile>& files_;
};

// The versions of a listVersions answer.
class VersionReader : public ZR::CXmlHandler {
 public:
  explicit VersionReader(std::vector<FileVersion>& out) : out_(out) {}
  void startElement(const char* name, const ZR::CXmlAttributes& attributes) override {
    if (std::strcmp(name, "version") != 0) return;
    auto number = [&](const char* key) {
      const char* value = attributes.find(key);
      return value ? ZR::CNumberText::toInt64(value) : 0;
    };
    FileVersion version{number("id"),
                        static_cast<uint64_t>(std::max<int64_t>(0, number("size"))),
                        number("became"),
                        number("ended"),
                        number("deleted") == 1,
                        "",
                        ""};
    if (const char* originSize = attributes.find("origin-size")) version.originSize = originSize;
    if (const char* originModified = attributes.find("origin-modified")) version.originModified = originModified;
    out_.push_back(std::move(version));
  }
  void endElement(const char*) override {}
  void characters(const char*, size_t) override {}

 private:
  std::vector<FileVersion>& out_;
};

// The text of the root element of a getFileAttr answer: the metadata.
class RootText : public ZR::CXmlHandler {
 public:
  void startElement(const char*, const ZR::CXmlAttributes&) override { ++depth_; }
  void endElement(const char*) override { --depth_; }
  void characters(const char* data, size_t length) override {
    if (depth_ == 1) text.append(data, length);
  }
  std::string text;

 private:
  int depth_ = 0;
};

}  // namespace

// The agent keeps its session key to itself: the block velkan shares with
// the workstation's agent is velkan's.
class CacheService::Keys : public velkan::SessionKeys {
 public:
  std::string getKey() override { return key_; }
  bool setKey(const std::string& key) override {
    key_ = key;
    return true;
  }

 private:
  std::string key_;
};

CacheService::CacheService(const AgentConfig& config, ZR::CLogger& log)
    : server_(config.client.server), log_(log), keys_(std::make_unique<Keys>()) {
  velkan::ServiceOptions options;
  options.caDirectory = config.resolve("certs");
  options.maxReplyBytes = config.client.maxReplyBytes;
  options.connectTimeoutSeconds = config.connectTimeoutSeconds;
  options.sendTimeoutSeconds = options.receiveTimeoutSeconds = config.replyTimeoutSeconds;
  velkan::ProxySettings proxy = velkan::readProxySettings(*config.env, config.resolve("agent.xml"));
  options.setProxy(proxy.host, proxy.port, proxy.user, proxy.password);
  calls_ = std::make_unique<velkan::CacheManagerCalls>(
      *config.env, velkan::ServiceSettings{config.client.server, config.client.accessDocument, ""}, options, *keys_,
      log_, nullptr);
}

CacheService::~CacheService() = default;

void CacheService::tellWhenWaiting(std::function<void(const std::string&)> say) {
  if (!notice_) notice_ = std::make_unique<WaitingNotice>(server_, std::move(say));
}

platform::Status CacheService::unreachable(const std::string& what, const std::string& why) const {
  return platform::Status::ioError(what + ": cannot reach the cache manager at " + server_ + ": " + why);
}

template <typename Step>
platform::Status CacheService::waited(const std::string& what, const std::string& call, Step step) {
  if (notice_) notice_->begin(what);
  platform::Status status = platform::Status::ok();
  try {
    step();
  } catch (const velkan::CFileNotFoundException& e) {
    status = platform::Status::notFound("login: " + trimmed(e.what()));
  } catch (const std::exception& e) {
    status = unreachable(call, oneLine(e));
  }
  if (notice_) notice_->end();
  return status;
}

platform::Status CacheService::connect() {
  if (platform::Status made = waited("the log-in", "login", [&] { calls_->ensureSession(); }); !made) return made;
  return keyHeld();
}

platform::Status CacheService::keyHeld() const {
  if (!calls_->sessionKey().empty()) return platform::Status::ok();
  return platform::Status::refused("login: the cache manager at " + server_ +
                                   " refused the agent authentication file (see the log)");
}

template <typename Call>
platform::Status CacheService::ask(const std::string& what, Call call, std::string& text, bool data) {
  if (platform::Status connected = connect(); !connected) return connected;
  if (platform::Status asked = waited(what, what, [&] { text = call(*calls_); }); !asked) return asked;
  if (platform::Status held = keyHeld(); !held) return held;  // the log-in again was refused
  if (data || !velkan::CacheManagerCalls::isErrorCode(text)) return platform::Status::ok();
  return platform::Status::refused(what + ": " + codeText(text));
}

platform::Status CacheService::listFolder(const std::string& folder, std::vector<CachedFile>& files) {
  std::string text;
  auto now = [&](velkan::CacheManagerCalls& calls) { return calls.listFolder(folder); };
  auto then = [&](velkan::CacheManagerCalls& calls) { return calls.listFolderAt(folder, at_); };
  std::string asItWas = "listing " + folder + " as it was";
  platform::Status status =
      at_ == 0 ? ask("listing " + folder, now, text) : withoutHistory(asItWas, ask(asItWas, then, text));
  if (!status) return status;
  if (platform::Status parsed = readListing(text, files); !parsed) {
    return platform::Status::syntaxError("the listing of " + folder + " from " + server_ +
                                         " is not readable XML: " + parsed.message());
  }
  return platform::Status::ok();
}

platform::Status CacheService::withoutHistory(const std::string& what, platform::Status failed) const {
  if (failed || failed.code() != platform::Status::kIoError || calls_->sessionKey().empty()) return failed;
  return platform::Status::refused(what + ": this cache manager keeps no history (" + server_ +
                                   " does not know the call: " + failed.message() + ")");
}

platform::Status CacheService::versions(const std::string& path, std::vector<FileVersion>& out) {
  std::string text;
  std::string what = "the versions of " + path;
  platform::Status status = withoutHistory(
      what, ask(what, [&](velkan::CacheManagerCalls& calls) { return calls.listVersions(path); }, text));
  if (!status) return status;
  VersionReader reader(out);
  if (platform::Status parsed = ZR::CXmlReader::parseText(text, reader); !parsed) {
    return platform::Status::syntaxError(what + " from " + server_ + " are not readable XML: " + parsed.message());
  }
  return platform::Status::ok();
}

platform::Status readListing(const std::string& text, std::vector<CachedFile>& files) {
  ListingReader reader(files);
  return ZR::CXmlReader::parseText(text, reader);
}

platform::Status CacheService::metadata(const std::string& path, std::string& text) {
  std::string answer;
  platform::Status status =
      ask("attributes of " + path, [&](velkan::CacheManagerCalls& calls) { return calls.fileAttributes(path); }, answer);
  if (!status) return status;
  RootText reader;
  if (platform::Status parsed = ZR::CXmlReader::parseText(answer, reader); !parsed) {
    return platform::Status::syntaxError("the attributes of " + path + " are not readable XML: " + parsed.message());
  }
  text = std::move(reader.text);
  return platform::Status::ok();
}

platform::Status CacheService::fetch(const CachedFile& file, int64_t offset, int32_t length, std::string& bytes) {
  if (file.version == 0) return fetch(file.path, offset, length, bytes);
  return ask(
      "reading " + file.path + " as it was, at " + std::to_string(offset),
      [&](velkan::CacheManagerCalls& calls) { return calls.versionRange(file.version, offset, length); }, bytes, true);
}

platform::Status CacheService::fetch(const std::string& path, int64_t offset, int32_t length, std::string& bytes) {
  return ask(
      "reading " + path + " at " + std::to_string(offset),
      [&](velkan::CacheManagerCalls& calls) { return calls.fileRange(path, offset, length); }, bytes, true);
}

platform::Status writeCacheContent(platform::Env& env, const std::string& path, const std::vector<CachedFile>& files) {
  dornik::SnapshotWriter out(env, path, dornik::kCacheContentKind);
  for (const CachedFile& file : files) {
    std::string size = std::to_string(file.size);
    out.file(file.path, {file.originSize, file.originModified, "1", size});
  }
  return out.commit();
}

}  // namespace agent
