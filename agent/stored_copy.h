// A file as the cache keeps it, and getting its bytes back: the metadata
// it was stored with says whether the copy is gzip-coded or a re-encoded
// picture, how large the original was and when it was last changed; the
// bytes come in ranges and go on as they arrive, inflated where need be,
// so that a file of any size passes in bounded memory. Every size a
// service states is held against the others as the bytes arrive: a
// listing or an answer that claims more than it may never makes us write
// more than the original had, nor fetch without end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "agent/cache_service.h"

namespace agent {

// What one getFile call asks for: the service answers at most 1 MiB.
constexpr int32_t kFetchBytes = 1 << 20;

struct StoredCopy {
  bool gzip = false;
  bool picture = false;  // scaled and re-encoded: its size is its own
  bool sizeKnown = false;
  uint64_t originSize = 0;
  bool timeKnown = false;
  int64_t originModified = 0;
  bool storedSizeKnown = false;  // cache.size: the bytes that were sent
  uint64_t storedSize = 0;

  // The bytes a restore writes at most.
  uint64_t outputBound(uint64_t listedSize) const;
};

// True when the metadata tells of a picture stored scaled or re-encoded
// (not one sent as it was).
bool reencodedPicture(const std::string& metadata);

// What the metadata text says of the copy.
StoredCopy describe(const std::string& metadata);
// What a listing says of it, when it says enough (how the copy is coded):
// then no call per file is needed. False otherwise.
bool describeFromListing(const CachedFile& file, StoredCopy& copy);

// Receives the original's bytes in order; false stops the fetch.
using ByteSink = std::function<bool(const char* data, size_t size)>;

// Fetches the stored copy of `file` (whose listed size is the copy's) into
// `sink`, inflating a gzip copy. Returns why it failed, empty on success;
// `written` is the count of bytes handed to the sink.
std::string fetchStoredCopy(CacheService& service, const CachedFile& file, const StoredCopy& copy,
                            const ByteSink& sink, uint64_t& written);

}  // namespace agent
