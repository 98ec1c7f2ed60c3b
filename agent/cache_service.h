// What cacheagent asks of the cache manager, over the same session code
// velkan uses (login with the agent's authentication file, a new login
// after -3): the listing of a folder, a stored file's metadata text and its
// bytes in ranges. Every failure comes back as a Status whose message says
// what failed and where.
// REQUIRES: external synchronization (one call at a time).
#pragma once

#include <cstdint>
#include <memory>
#include <functional>
#include <string>
#include <vector>

#include "agent/agent_config.h"
#include "platform/status.h"

namespace ZR {
class CLogger;
}

namespace velkan {
class CacheManagerCalls;
}

namespace agent {

// One stored file as the listing names it.
struct CachedFile {
  std::string path;            // logical (c:\home\ann\a.txt)
  uint64_t size = 0;           // as stored (after preparation)
  std::string originSize;      // what the uploader said of the original; may be empty
  std::string originModified;  // seconds since 1970; may be empty
  std::string encoding;        // how the copy is stored ("gzip", "none"); empty when the listing does not say
  std::string cacheSize;       // what the uploader said it sent; may be empty
  bool picture = false;        // a scaled and re-encoded picture
  int64_t updated = 0;         // when the service stored it (seconds since 1970); 0 when not said
  int64_t version = 0;         // a kept earlier version (history listings); 0: the current file
};

// A kept earlier version of a file, as the service's history names it.
struct FileVersion {
  int64_t id = 0;
  uint64_t size = 0;
  int64_t became = 0;  // when it became current (seconds since 1970)
  int64_t ended = 0;   // when it was replaced or deleted
  bool deleted = false;
  std::string originSize;      // the original's size, as the uploader said; may be empty
  std::string originModified;  // its modification time (seconds since 1970); may be empty
};

class CacheService {
 public:
  CacheService(const AgentConfig& config, ZR::CLogger& log);
  ~CacheService();
  CacheService(const CacheService&) = delete;
  CacheService& operator=(const CacheService&) = delete;

  // Logs in; the other calls do it when it has not been done.
  platform::Status connect();
  // Every file stored below the folder (a logical path), in the service's order.
  platform::Status listFolder(const std::string& folder, std::vector<CachedFile>& files);
  // The metadata text the file was stored with.
  platform::Status metadata(const std::string& path, std::string& text);
  // The bytes from `offset` the service sends for `length` asked. They are
  // data, whatever they begin with: only a failed call is a failure. That
  // they are no more than asked is for the caller to check.
  platform::Status fetch(const std::string& path, int64_t offset, int32_t length, std::string& bytes);
  // The file's bytes, of its kept version when the listing named one.
  platform::Status fetch(const CachedFile& file, int64_t offset, int32_t length, std::string& bytes);

  // History (a cache manager that keeps it; others get "keeps no history").
  // From now on listings show the folders as they were at `when` (seconds
  // since 1970): files deleted or replaced since come back as their kept versions.
  void viewAt(int64_t when) { at_ = when; }
  // The kept versions of a file, oldest first.
  platform::Status versions(const std::string& path, std::vector<FileVersion>& out);

  const std::string& server() const { return server_; }
  // From now on a call without an answer for 10 s is told on the terminal
  // (through `say` when given, so that it keeps clear of a progress line).
  void tellWhenWaiting(std::function<void(const std::string&)> say = {});

 private:
  class Keys;
  // Runs `call` (which returns the service's text) with the session key,
  // logging in again once when the key is refused.
  // With `data`, the answer is content, never a result code.
  // One call through the service's calls, its failures in words.
  template <typename Call>
  platform::Status ask(const std::string& what, Call call, std::string& text, bool data = false);
  // Runs `step` with the waiting notice up for `what`; what it throws, in
  // words that name `call`.
  template <typename Step>
  platform::Status waited(const std::string& what, const std::string& call, Step step);
  // Refused, naming the authentication file, when no session key is held.
  platform::Status keyHeld() const;
  platform::Status unreachable(const std::string& what, const std::string& why) const;

  // A history call's failure once the service was reached: it does not
  // know the call.
  platform::Status withoutHistory(const std::string& what, platform::Status failed) const;

  std::string server_;
  int64_t at_ = 0;  // 0: now
  ZR::CLogger& log_;
  std::unique_ptr<Keys> keys_;
  std::unique_ptr<velkan::CacheManagerCalls> calls_;
  std::unique_ptr<class WaitingNotice> notice_;
};

// The files of a listing document (<contents><file path size
// origin-size origin-modified/>...), appended to `files`.
platform::Status readListing(const std::string& text, std::vector<CachedFile>& files);

// The cache content snapshot of the listed files: each one cached (state
// 1) with its stored size and the origin values the uploader gave, so that
// an unchanged file compares equal to its directory entry. Folders are not
// listed: the service keeps files only. Written whole or not at all.
platform::Status writeCacheContent(platform::Env& env, const std::string& path, const std::vector<CachedFile>& files);

}  // namespace agent
