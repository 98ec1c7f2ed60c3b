// What one connection of the service carries from the reading of a request
// to its operation: the service, and the attachment that came with it
// (kept in memory while it is small enough for the store's catalogue, else
// received into a file under the root as it arrives).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "localservice/cache_store.h"
#include "platform/env.h"

struct soap;

namespace localservice {

class LocalService;

struct Connection {
  struct Attachment {
    std::string path;  // its file, once it has one
    std::unique_ptr<platform::WritableFile> writer;
    bool inMemory = true;  // no file yet: the whole content is `pending`
    std::string pending;   // written in large blocks: records come 1024 bytes at a time
    int64_t size = 0;
    bool tooLarge = false;  // beyond the quota: the rest was read and dropped
    bool failed = false;    // could not be stored
    bool refused = false;   // sent with a key the service does not know: read and dropped, never stored
    std::string type;
    int64_t room = -1;      // bytes the quota leaves it; < 0: no quota
    // The service's count of attachment bytes on their way, which this one
    // adds to while it lives.
    std::atomic<int64_t>* inFlight = nullptr;
    CacheStore* store = nullptr;  // where its file goes, when it needs one
    bool syncOnClose = false;     // the store cannot sync its file system at once
    int64_t counted = 0;
    ContentDigest digest;  // of the bytes kept, as they arrive
    ~Attachment() { stopCounting(); }
    // Its bytes are no longer on their way: an operation took it (the
    // store counts them from then on, or they are dropped).
    void stopCounting() {
      if (inFlight) *inFlight -= counted;
      counted = 0;
    }
    // Gives the content a file (the pending bytes go first); false when it cannot.
    bool openFile() {
      path = store->incomingPath();
      if (!store->env().openWritable(path, &writer)) return false;
      inMemory = false;
      return true;
    }
    // Writes a content kept in memory to its file, for the callers that read a file.
    bool spill() {
      if (!inMemory) return true;
      bool written = openFile() && writer->append(pending.data(), pending.size()) && writer->close();
      pending.clear();
      return written;
    }
  };

  LocalService* service = nullptr;
  std::string requestKey;  // the first part of the request being read
  std::unique_ptr<Attachment> attachment;
  size_t (*receive)(struct soap*, char*, size_t) = nullptr;  // the transport's own reader
  int (*send)(struct soap*, const char*, size_t) = nullptr;     // the transport's own writer
  int64_t received = 0;
  uint64_t requestStartedMs = 0;  // the first read of the request being read; 0: none yet
  uint64_t requestBytes = 0;
  uint64_t firstReadMs = 0;  // slow reads: when the first read began

  // Removes an attachment that no operation took.
  void discardAttachment() {
    if (!attachment) return;
    if (attachment->writer) attachment->writer->close();
    if (!attachment->inMemory) attachment->store->env().removeFile(attachment->path);
    attachment.reset();
  }
  ~Connection() { discardAttachment(); }
};

}  // namespace localservice
