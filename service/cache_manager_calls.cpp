#include "service/cache_manager_calls.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "bindings/zrcore/xml_builder.h"
#include "platform/env.h"
#include "platform/path.h"
#include "service/ghost_content.h"
#include "service/velkan_exceptions.h"

namespace velkan {
namespace {

// Files read whole are bounded: a text beyond these is not a real one.
constexpr int64_t kMaxAuthenticationFile = 1 << 20;
constexpr int64_t kMaxDocumentFile = 64 << 20;

// Reads a whole file of at most `limit` bytes; throws CVelkanException for
// a larger one. An unreadable file reads as empty.
std::string readBounded(platform::Env& env, const std::string& path, int64_t limit, const char* what) {
  platform::FileInfo info;
  if (env.getFileInfo(platform::hostPath(path), &info) && static_cast<int64_t>(info.size) > limit) {
    throw CVelkanException(std::string(what) + " " + path + " has " + std::to_string(info.size) +
                           " bytes, more than the " + std::to_string(limit) + " such a file may have.\n");
  }
  std::string content, error;
  if (!ZR::CFileUtils::readFile(env, path, content, error)) content.clear();
  return content;
}

// Parses an XML file of bounded size; null when it cannot be parsed.
std::unique_ptr<ZR::CXmlElement> parseBounded(platform::Env& env, const std::string& path, const char* what) {
  readBounded(env, path, kMaxDocumentFile, what);  // size check only
  std::string error;
  return std::unique_ptr<ZR::CXmlElement>(ZR::CXmlBuilder::fileToDocument(env, path, error));
}

// Writes an output file whole; a failure is logged, the old file stays.
// (The call's check logs a document result as "failed with error : 0", as
// every result that is no success code; this line says what really happened.)
void writeOutput(platform::Env& env, const std::string& what, const std::string& path, std::string_view text,
                 ZR::CLogger& log) {
  ZR::CAtomicFile out(env, path);
  if (!out.append(text.data(), text.size()) || !out.commit()) {
    log.error("%s", ("cannot write output file " + path + ": " + out.lastError()).c_str());
    return;
  }
  log.info("%s", (what + " received (" + std::to_string(text.size()) + " bytes) and written to " + path).c_str());
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

CacheManagerCalls::CacheManagerCalls(platform::Env& env, ServiceSettings settings, ServiceOptions options,
                                     SessionKeys& keys, ZR::CLogger& log, ByteAccounting* accounting)
    : env_(env),
      settings_(std::move(settings)),
      options_(std::move(options)),
      keys_(keys),
      log_(log),
      accounting_(accounting) {}

CacheManagerCalls::~CacheManagerCalls() = default;

bool CacheManagerCalls::isErrorCode(const std::string& text) {
  return text.size() >= 2 && text[0] == '-' && text[1] >= '0' && text[1] <= '9';
}

int CacheManagerCalls::checkResult(const std::string& where, const std::string& operation, const std::string& result) {
  int value = result.empty() ? 0 : ZR::CNumberText::toInt32(result);
  if (value == -2) return -2;
  log_.error("%s", ("Cache Manager call : " + operation + " in " + where + " failed with error : " +
                    std::to_string(value) + "\n")
                       .c_str());
  if (value == -3 && !ZR::CStringUtils::equalsIgnoreCaseASCII(operation, "login")) login();
  return value;
}

template <typename Request>
std::string CacheManagerCalls::askWithOneLogInAgain(const char* operation, Request request, bool data) {
  ensureSession();
  try {
    std::string answer = request(*session_, sessionKey_);
    if (data || !isErrorCode(answer) || ZR::CNumberText::toInt32(answer) != -3) return answer;
    checkResult(std::string("CacheManagerCalls::") + operation, operation, answer);  // logs in again
  } catch (const CAuthenticationFileMissing&) {
    throw;
  } catch (const std::exception&) {
    login();
  }
  return request(*session_, sessionKey_);
}

std::string CacheManagerCalls::listFolder(const std::string& folder) {
  return askWithOneLogInAgain(
      "getStoreContentsForPath",
      [&](CSoapSession& session, const std::string& key) { return session.getStoreContentsForPath(key, folder); },
      false);
}

std::string CacheManagerCalls::fileAttributes(const std::string& path) {
  return askWithOneLogInAgain(
      "getFileAttr", [&](CSoapSession& session, const std::string& key) { return session.getFileAttr(key, path); },
      false);
}

std::string CacheManagerCalls::fileRange(const std::string& path, int64_t offset, int32_t length) {
  return askWithOneLogInAgain(
      "getFile",
      [&](CSoapSession& session, const std::string& key) { return session.getFile(key, path, offset, length); }, true);
}

std::string CacheManagerCalls::listVersions(const std::string& path) {
  return askWithOneLogInAgain(
      "listVersions", [&](CSoapSession& session, const std::string& key) { return session.listVersions(key, path); },
      false);
}

std::string CacheManagerCalls::listFolderAt(const std::string& folder, int64_t when) {
  return askWithOneLogInAgain(
      "listFolderAt",
      [&](CSoapSession& session, const std::string& key) { return session.listFolderAt(key, folder, when); }, false);
}

std::string CacheManagerCalls::versionRange(int64_t id, int64_t offset, int32_t length) {
  return askWithOneLogInAgain(
      "getVersion",
      [&](CSoapSession& session, const std::string& key) { return session.getVersion(key, id, offset, length); },
      true);
}

void CacheManagerCalls::ensureSession() {
  if (session_) return;
  session_ = std::make_unique<CSoapSession>(settings_.server, options_, log_, accounting_);
  sessionKey_ = keys_.getKey();
  if (sessionKey_.empty()) login();
  attachmentId_ = sessionKey_;
}

void CacheManagerCalls::login() {
  const std::string& path = settings_.accessDocument;
  if (!ZR::CFileUtils::fileExists(env_, path)) {
    throw CAuthenticationFileMissing("Agent Authentication file " + path + " is not found.\n");
  }
  std::string authentication = readBounded(env_, path, kMaxAuthenticationFile, "Agent Authentication file");
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

int CacheManagerCalls::uploadMetaData(const std::string& filePath, const std::string& metadata) {
  ensureSession();
  return checkResult("CCMClient::uploadMetaData()", "createFile", session_->createFile(sessionKey_, filePath, metadata));
}

int CacheManagerCalls::writeContentAsAttachment(const std::string& filePath, const std::string& localFile) {
  auto file = std::make_unique<ZR::CFile>(env_, localFile, "r");
  if (!file->isValid()) {
    // Nothing can be sent: report it like a missing attachment, so the upload stops here.
    log_.error("%s", ("cannot open " + localFile + " to send it: " + file->lastError()).c_str());
    return -7;
  }
  ensureSession();
  std::string result = session_->writeFileAttachment(sessionKey_, filePath, std::move(file), attachmentId_);
  return checkResult("CCMClient::writeContentAsAttachment()", "writeContentAsAttachment", result);
}

int CacheManagerCalls::writeContentFromMemory(const std::string& filePath, const std::string& content) {
  ensureSession();
  std::string result = session_->writeMemoryAttachment(sessionKey_, filePath, content, attachmentId_);
  return checkResult("CCMClient::writeContentAsAttachment()", "writeContentAsAttachment", result);
}

int CacheManagerCalls::finalizeFile(const std::string& filePath, const std::string& metadata) {
  ensureSession();
  std::string result = metadata.empty() ? session_->finalizeFile(sessionKey_, filePath)
                                        : session_->finalizeFileWithMetadata(sessionKey_, filePath, metadata);
  return checkResult("CCMClient::finalizeFile()", "finalizeFile", result);
}

void CacheManagerCalls::deleteFile(const std::string& filePath) {
  ensureSession();
  checkResult("CCMClient::deleteFile()", "deleteFile", session_->deleteFile(sessionKey_, filePath));
}

void CacheManagerCalls::getDir(const std::string& path, const std::string& outputPath) {
  ensureSession();
  // Written from the session's own copy of the reply: a listing is never
  // held twice more.
  std::string_view result = session_->storeContentsForPath(sessionKey_, path);
  std::string code = isErrorCode(std::string(result.substr(0, 2))) ? std::string(result.substr(0, 32)) : "";
  checkResult("CCMClient::getDir()", "getDir", code);
  if (code.empty()) writeOutput(env_, "the listing of " + path, outputPath, result, log_);
}

void CacheManagerCalls::getPolicies(const std::string& outputPath) {
  int64_t stamp = 0;
  if (!settings_.timestampFile.empty()) {
    ZR::CFile file(env_, settings_.timestampFile, "r");
    char text[1024] = {};
    int64_t got = file.isValid() ? file.read(text, 1023) : -1;
    if (got > 0) stamp = stampOf(std::string(text, static_cast<size_t>(got)));
  }
  ensureSession();
  std::string result = session_->getPoliciesForAgent(sessionKey_, stamp);
  checkResult("CCMClient::getPolicies()", "getPolicies", result);
  if (!isErrorCode(result)) writeOutput(env_, "the policies", outputPath, result, log_);
}

void CacheManagerCalls::setSymlinks(const std::string& symlinkPath) {
  std::string links = readBounded(env_, symlinkPath, kMaxDocumentFile, "Symbolic links file");
  ensureSession();
  checkResult("CCMClient::setSymlinks()", "setSymlinks", session_->setAgentSymLinks(sessionKey_, links));
}

void CacheManagerCalls::deletePolicy(const std::string& expiredPoliciesPath) {
  auto document = parseBounded(env_, expiredPoliciesPath, "Expired policies file");
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

void CacheManagerCalls::writeGhostContent(const std::string& ghostContentPath) {
  auto document = parseBounded(env_, ghostContentPath, "Ghost content file");
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

}  // namespace velkan
