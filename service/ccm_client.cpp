#include "service/ccm_client.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "bindings/cabinet/cabinet.h"
#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "bindings/zrcore/xml_builder.h"
#include "bindings/zrcore/thread.h"
#include "bindings/zrcore/xml_writer.h"
#include "client/velkan_exceptions.h"
#include "engine/action_set_file.h"
#include "service/error_messages.h"

namespace velkan {
namespace {

// Files read whole are bounded: a text beyond these is not a real one.
constexpr int64_t kMaxAuthenticationFile = 1 << 20;
constexpr int64_t kMaxDocumentFile = 64 << 20;

ZR::CLogger& requireLogger() {
  ZR::CLogger* log = ZR::CLogManager::instance();
  if (!log) throw CVelkanException("the log must be set up before the client object");
  return *log;
}

// Reads a whole file of at most `limit` bytes; throws CVelkanException for
// a larger one.
std::string readBounded(const std::string& path, int64_t limit, const char* what) {
  ZR::CFileInfo info;
  if (ZR::CFileUtils::getFileInfo(path, info) && static_cast<int64_t>(info.size) > limit) {
    throw CVelkanException(std::string(what) + " " + path + " has " + std::to_string(info.size) +
                           " bytes, more than the " + std::to_string(limit) + " such a file may have.\n");
  }
  std::string content, error;
  if (!ZR::CFileUtils::readFile(path, content, error)) content.clear();
  return content;
}

// Parses an XML file of bounded size; null when it cannot be parsed.
std::unique_ptr<ZR::CXmlElement> parseBounded(const std::string& path, const char* what) {
  readBounded(path, kMaxDocumentFile, what);  // size check only
  std::string error;
  return std::unique_ptr<ZR::CXmlElement>(ZR::CXmlBuilder::fileToDocument(path, error));
}

// Writes an output file whole; a failure is logged, the old file stays.
void writeOutput(const std::string& path, const std::string& text, ZR::CLogger& log) {
  std::string error;
  if (!ZR::CFileUtils::writeFileAtomically(path, text, error)) {
    log.error("%s", ("cannot write output file " + path + ": " + error).c_str());
  }
}

// The leading decimal number of a time stamp text, fraction allowed,
// truncated toward zero.
int64_t stampOf(const std::string& text) {
  double value = std::trunc(ZR::CNumberText::toDouble(text));
  if (value >= 9.2e18) return std::numeric_limits<int64_t>::max();
  if (value <= -9.2e18) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(value);
}

}  // namespace

CCMClient::CCMClient(platform::Clock& clock)
    : log_(requireLogger()),
      transcodeQueue_(kTranscodeQueueName),
      uploadQueue_(kUploadQueueName),
      limits_(clock) {
  ProxySettings proxy = readProxySettings();
  serviceOptions_.setProxy(proxy.host, proxy.port, proxy.user, proxy.password);
  setTransferAccounting(this);
}

CCMClient::~CCMClient() {
  // A run that ended early may leave workers waiting on their queues.
  if (cpuWorker_) {
    transcodeQueue_.put(WorkItem{});
    cpuWorker_.reset();
  }
  if (netWorker_) {
    uploadQueue_.put(WorkItem{});
    netWorker_.reset();
  }
  setTransferAccounting(nullptr);
  session_.reset();
}

void CCMClient::configure(const std::string& configurationPath) {
  configurationPath_ = configurationPath;
  deleteList_.clear();
  smallUploads_.clear();
  largeUploads_.clear();
  resumedUploads_.clear();
  uploadsStopped_.store(false);
  storageFull_.store(false);
  limits_.resetForRun();
  settings_ = ClientSettings();
  readConfiguration(configurationPath_, settings_, log_);
  limits_.apply(settings_);
}

bool CCMClient::isErrorCode(const std::string& text) {
  return text.size() >= 2 && text[0] == '-' && text[1] >= '0' && text[1] <= '9';
}

int CCMClient::checkResult(const std::string& where, const std::string& operation, const std::string& result) {
  int value = result.empty() ? 0 : ZR::CNumberText::toInt32(result);
  if (value == -2) return -2;
  log_.error("%s", ("Cache Manager call : " + operation + " in " + where + " failed with error : " +
                    std::to_string(value) + "\n")
                       .c_str());
  if (value == -3 && !ZR::CStringUtils::equalsIgnoreCaseASCII(operation, "login")) login();
  return value;
}

void CCMClient::ensureSession() {
  if (session_) return;
  session_ = std::make_unique<CSoapSession>(settings_.server, serviceOptions_, log_);
  sessionKey_ = keys_.getKey();
  if (sessionKey_.empty()) login();
  attachmentId_ = sessionKey_;
}

void CCMClient::login() {
  const std::string& path = settings_.accessDocument;
  if (!ZR::CFileUtils::fileExists(path)) {
    throw CFileNotFoundException("Agent Authentication file " + path + " is not found.\n");
  }
  std::string authentication = readBounded(path, kMaxAuthenticationFile, "Agent Authentication file");
  std::string result = session_->login(authentication);
  if (isErrorCode(result)) {
    // A result code is no key: keep none, and none for the next run either.
    checkResult("CCMClient::login", "login", result);
    sessionKey_.clear();
    keys_.setKey("");
    loggedIn_ = false;
    return;
  }
  sessionKey_ = result;
  keys_.setKey(sessionKey_);
  loggedIn_ = true;
}

int CCMClient::uploadMetaData(const std::string& filePath, const std::string& metadata) {
  ensureSession();
  return checkResult("CCMClient::uploadMetaData()", "createFile", session_->createFile(sessionKey_, filePath, metadata));
}

int CCMClient::writeContentAsAttachment(const std::string& filePath, const std::string& localFile) {
  auto file = std::make_unique<ZR::CFile>(localFile, "r");
  if (!file->isValid()) {
    // Nothing can be sent: report it like a missing attachment, so the upload stops here.
    log_.error("%s", ("cannot open " + localFile + " to send it: " + file->lastError()).c_str());
    return -7;
  }
  ensureSession();
  std::string result = session_->writeFileAttachment(sessionKey_, filePath, std::move(file), attachmentId_);
  return checkResult("CCMClient::writeContentAsAttachment()", "writeContentAsAttachment", result);
}

int CCMClient::finalizeFile(const std::string& filePath, const std::string& metadata) {
  ensureSession();
  std::string result = metadata.empty() ? session_->finalizeFile(sessionKey_, filePath)
                                        : session_->finalizeFileWithMetadata(sessionKey_, filePath, metadata);
  return checkResult("CCMClient::finalizeFile()", "finalizeFile", result);
}

void CCMClient::deleteFile(const std::string& filePath) {
  ensureSession();
  checkResult("CCMClient::deleteFile()", "deleteFile", session_->deleteFile(sessionKey_, filePath));
}

void CCMClient::deleteFiles() {
  deletionsDone_ = 0;
  for (const std::string& path : deleteList_) {
    checkLimits(0, true);
    deleteFile(path);
    ZR::CCabinet::removeFileItem(path);
    ++deletionsDone_;
  }
}

void CCMClient::getDir(const std::string& path, const std::string& outputPath) {
  ensureSession();
  std::string result = session_->getStoreContentsForPath(sessionKey_, path);
  checkResult("CCMClient::getDir()", "getDir", result);
  if (!isErrorCode(result)) writeOutput(outputPath, result, log_);
}

void CCMClient::getPolicies(const std::string& outputPath) {
  int64_t stamp = 0;
  if (!settings_.timestampFile.empty()) {
    ZR::CFile file(settings_.timestampFile, "r");
    char text[1024] = {};
    int64_t got = file.isValid() ? file.read(text, 1023) : -1;
    if (got > 0) stamp = stampOf(std::string(text, static_cast<size_t>(got)));
  }
  ensureSession();
  std::string result = session_->getPoliciesForAgent(sessionKey_, stamp);
  checkResult("CCMClient::getPolicies()", "getPolicies", result);
  if (!isErrorCode(result)) writeOutput(outputPath, result, log_);
}

void CCMClient::setSymlinks(const std::string& symlinkPath) {
  std::string links = readBounded(symlinkPath, kMaxDocumentFile, "Symbolic links file");
  ensureSession();
  checkResult("CCMClient::setSymlinks()", "setSymlinks", session_->setAgentSymLinks(sessionKey_, links));
}

void CCMClient::deletePolicy(const std::string& expiredPoliciesPath) {
  auto document = parseBounded(expiredPoliciesPath, "Expired policies file");
  if (!document) {
    log_.warning("no values in xml file to delete");
    return;
  }
  for (size_t i = 0; i < document->getChildCount(); ++i) {
    ensureSession();
    std::string policy = document->getChild(i)->getText();
    checkResult("CCMClient::deletePolicy()", "deletePolicy", session_->deletePolicy(sessionKey_, policy));
  }
}

std::string CCMClient::ghostRemotePath(const std::string& entryPath) {
  std::string p = entryPath;
  std::replace(p.begin(), p.end(), '\\', '/');
  if (!p.empty() && p.back() == '/') p.pop_back();
  if (p.empty()) throw std::out_of_range("ghost content entry without path");
  size_t slash = p.rfind('/');
  std::string folder = slash == std::string::npos ? p : p.substr(0, slash);
  size_t lastSlash = folder.rfind('/');
  std::string name = lastSlash == std::string::npos ? folder : folder.substr(lastSlash + 1);
  if (name.find(':') != std::string::npos) {
    std::replace(name.begin(), name.end(), ':', ' ');
    name = ZR::CStringUtils::rtrim(name, " \t\n\r");
    if (name.size() == 1) name = ZR::CStringUtils::lowerCaseASCII(name);
  }
  return folder + "/" + name + ".xml";
}

void CCMClient::appendGhostEntries(const ZR::CXmlElement& group, ZR::CXmlWriter& writer) {
  auto slashed = [](const ZR::CXmlElement& e) {
    const ZR::CXmlAttribute* path = e.getAttribute("path");
    std::string p = path ? path->value : "";
    std::replace(p.begin(), p.end(), '\\', '/');
    return p;
  };
  for (size_t i = 0; i < group.getChildCount(); ++i) {
    const ZR::CXmlElement& entry = *group.getChild(i);
    if (entry.getName() == "directory") {
      writer.startElement("directory");
      writer.attribute("path", slashed(entry));
      writer.endElement();
    } else if (entry.getName() == "file") {
      writer.startElement("file");
      writer.attribute("path", slashed(entry));
      for (size_t k = 0; k < entry.getChildCount(); ++k) {
        const ZR::CXmlElement& detail = *entry.getChild(k);
        std::string value, message;
        detail.getValue("/" + detail.getName(), value, message);
        writer.startElement(detail.getName());
        writer.text(value);
        writer.endElement();
      }
      writer.endElement();
    }
  }
}

std::string CCMClient::ghostDocument(const ZR::CXmlElement& group) {
  std::string text;
  ZR::CXmlWriter writer(text, true);
  writer.declaration();
  writer.startElement("contents");
  appendGhostEntries(group, writer);
  writer.finish();
  return text;
}

void CCMClient::writeGhostContent(const std::string& ghostContentPath) {
  auto document = parseBounded(ghostContentPath, "Ghost content file");
  if (!document) throw std::runtime_error("error parsing ghost content xml.");
  for (size_t i = 0; i < document->getChildCount(); ++i) {
    const ZR::CXmlElement& group = *document->getChild(i);
    if (group.getChildCount() == 0) continue;
    const ZR::CXmlAttribute* first = group.getChild(size_t{0})->getAttribute("path");
    std::string remotePath = ghostRemotePath(first ? first->value : "");
    std::string text = ghostDocument(group);
    ensureSession();
    std::string result = session_->writeGhostFileAttachment(sessionKey_, remotePath, text);
    checkResult("CCMClient::writeGhostContent()", "writeGhostContent", result);
  }
}

void CCMClient::onGetContents(const dornik::Action& action) {
  if (settings_.outputFile.empty()) throw std::runtime_error("no output file present to store dir content.");
  if (action.contentsPathMissing) throw std::runtime_error(dornik::kActionSetChildMissing);
  getDir(action.contentsPath, settings_.outputFile);
}

void CCMClient::onGetPolicies(const dornik::Action&) {
  if (settings_.outputFile.empty()) throw std::runtime_error("no output file present to store policies.");
  getPolicies(settings_.outputFile);
}

void CCMClient::onSetSymLinks(const dornik::Action&) {
  if (settings_.symlinkFile.empty()) {
    throw std::runtime_error("no symLink xml file present to update data on CacheManager.");
  }
  setSymlinks(settings_.symlinkFile);
}

void CCMClient::onDeletePolicies(const dornik::Action&) {
  if (settings_.expiredPoliciesFile.empty()) throw std::runtime_error("no value for expired  xml file present ");
  deletePolicy(settings_.expiredPoliciesFile);
}

void CCMClient::onWriteGhostContent(const dornik::Action&) {
  if (settings_.ghostContentFile.empty()) {
    throw std::runtime_error("no ghostContent xml file present to update data on CacheManager.");
  }
  writeGhostContent(settings_.ghostContentFile);
}

}  // namespace velkan
