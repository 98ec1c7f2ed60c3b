// The client's side of the cache manager service, above the SOAP session:
// the session key (taken from the store shared with the agent, or got by
// logging in), the check of every result with a new login after -3, the
// three upload steps, deletions, the directory and policy fetches that
// write the output file, and the pushes of symbolic links, expired
// policies and ghost contents. The caller names in the log lines are those
// of CCMClient, whose service operations forward here.
//
// REQUIRES: external synchronization (one call at a time).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/env.h"
#include "service/soap_session.h"

namespace ZR {
class CLogger;
}

namespace velkan {

// Where the session key is kept between runs (the client's shared block).
class SessionKeys {
 public:
  virtual ~SessionKeys() = default;
  // The stored key; empty when there is none.
  virtual std::string getKey() = 0;
  // Stores a key; false when it could not be stored.
  virtual bool setKey(const std::string& key) = 0;
};

// What the calls need of the configuration.
struct ServiceSettings {
  std::string server;          // host, host:port or URL
  std::string accessDocument;  // the agent authentication file sent at login
  std::string timestampFile;   // may be empty
};

class CacheManagerCalls {
 public:
  // Nothing is sent before the first call. `accounting` (may be null)
  // receives the size of every attachment read. The access document and
  // the call's input and output files are read and written through `env`.
  CacheManagerCalls(platform::Env& env, ServiceSettings settings, ServiceOptions options, SessionKeys& keys,
                    ZR::CLogger& log, ByteAccounting* accounting);
  ~CacheManagerCalls();
  CacheManagerCalls(const CacheManagerCalls&) = delete;
  CacheManagerCalls& operator=(const CacheManagerCalls&) = delete;

  // Builds the session on first use and takes the stored key, or logs in.
  void ensureSession();
  // Throws CFileNotFoundException when the authentication file is missing.
  void login();
  // Logs a failed result and logs in again after -3; returns the code (-2
  // on success; 0 for a document).
  int checkResult(const std::string& where, const std::string& operation, const std::string& result);
  // True for a text of at least two characters that starts with "-" and a digit.
  static bool isErrorCode(const std::string& text);

  // The three steps of an upload; each returns the service's code.
  int uploadMetaData(const std::string& filePath, const std::string& metadata);
  int writeContentAsAttachment(const std::string& filePath, const std::string& localFile);
  int finalizeFile(const std::string& filePath, const std::string& metadata);
  // The attachment step for content held in memory.
  int writeContentFromMemory(const std::string& filePath, const std::string& content);

  void deleteFile(const std::string& filePath);
  // The fetches write the output file whole, only for a document result.
  void getDir(const std::string& path, const std::string& outputPath);
  void getPolicies(const std::string& outputPath);
  void setSymlinks(const std::string& symlinkPath);
  void deletePolicy(const std::string& expiredPoliciesPath);
  // Throws std::runtime_error "error parsing ghost content xml." for an
  // unreadable file, std::out_of_range for a group whose first entry has no path.
  void writeGhostContent(const std::string& ghostContentPath);

  // cacheagent's reads: a folder's listing, a file's attributes, a range of
  // a file's bytes, as the service answers them. A key the service refused
  // (-3) or a fault (a service that forgot the key may answer with one)
  // costs one new log-in (the rule of checkResult) and one more try.
  // Throws what the session throws.
  std::string listFolder(const std::string& folder);
  std::string fileAttributes(const std::string& path);
  std::string fileRange(const std::string& path, int64_t offset, int32_t length);
  // The same for cachemanager-local's history (a service without it
  // answers with a fault, which is thrown).
  std::string listVersions(const std::string& path);
  std::string listFolderAt(const std::string& folder, int64_t when);
  std::string versionRange(int64_t id, int64_t offset, int32_t length);

  const std::string& sessionKey() const { return sessionKey_; }
  const std::string& attachmentId() const { return attachmentId_; }
  bool loggedIn() const { return loggedIn_; }

 private:
  template <typename Request>
  std::string askWithOneLogInAgain(const char* operation, Request request, bool data);

  platform::Env& env_;
  ServiceSettings settings_;
  ServiceOptions options_;
  SessionKeys& keys_;
  ZR::CLogger& log_;
  ByteAccounting* accounting_;
  std::unique_ptr<CSoapSession> session_;
  std::string sessionKey_;
  std::string attachmentId_;
  bool loggedIn_ = false;
};

}  // namespace velkan
