// What one connection of the service carries from the reading of a request
// to its operation: the service, and the attachment that came with it
// (received into a file under the root as it arrives).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/env.h"

struct soap;

namespace localservice {

class LocalService;

struct Connection {
  struct Attachment {
    std::string path;
    std::unique_ptr<platform::WritableFile> writer;
    std::string pending;  // written in large blocks: records come 1024 bytes at a time
    int64_t size = 0;
    bool tooLarge = false;  // beyond the quota: the rest was read and dropped
    bool failed = false;    // could not be stored
    std::string type;
  };

  LocalService* service = nullptr;
  std::unique_ptr<Attachment> attachment;
  size_t (*receive)(struct soap*, char*, size_t) = nullptr;  // the transport's own reader
  int64_t received = 0;
  uint64_t firstReadMs = 0;  // slow reads: when the first read began

  // Removes an attachment that no operation took.
  void discardAttachment() {
    if (!attachment) return;
    if (attachment->writer) attachment->writer->close();
    platform::env()->removeFile(attachment->path);
    attachment.reset();
  }
  ~Connection() { discardAttachment(); }
};

}  // namespace localservice
