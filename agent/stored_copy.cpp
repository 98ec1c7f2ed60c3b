#include "agent/stored_copy.h"

#include <algorithm>

#include "agent/gunzip.h"
#include "bindings/zrcore/string_utils.h"

namespace agent {
namespace {

// Deflate cannot inflate beyond about 1032 to 1: the bound of a copy whose
// origin size is not known.
constexpr uint64_t kMaxInflateRatio = 1032;

bool readCount(const std::string& metadata, const char* key, uint64_t& out) {
  int64_t value = 0;
  if (!ZR::CNumberText::parseExact(ZR::CStringUtils::lineValue(metadata, key), value) || value < 0) return false;
  out = static_cast<uint64_t>(value);
  return true;
}

// The stated sizes must agree before a byte is fetched.
std::string sizesDisagree(const CachedFile& file, const StoredCopy& copy) {
  if (copy.storedSizeKnown && copy.storedSize != file.size) {
    return "the listing says the stored copy has " + std::to_string(file.size) + " bytes, its metadata " +
           std::to_string(copy.storedSize);
  }
  if (!copy.gzip && !copy.picture && copy.sizeKnown && copy.originSize != file.size) {
    return "the stored copy has " + std::to_string(file.size) + " bytes, the original had " +
           std::to_string(copy.originSize);
  }
  return "";
}

// Hands the original's bytes to the sink, never more than `bound`.
class BoundedOutput {
 public:
  BoundedOutput(const ByteSink& sink, uint64_t bound) : sink_(sink), bound_(bound) {}
  bool put(const char* data, size_t size) {
    if (written_ + size > bound_) {
      error_ = "the service sent more than the original's " + std::to_string(bound_) + " bytes";
      return false;
    }
    written_ += size;
    if (!sink_(data, size)) {
      error_ = "cannot write";
      return false;
    }
    return true;
  }
  uint64_t written() const { return written_; }
  const std::string& error() const { return error_; }

 private:
  const ByteSink& sink_;
  uint64_t bound_;
  uint64_t written_ = 0;
  std::string error_;
};

}  // namespace

bool reencodedPicture(const std::string& metadata) {
  auto value = [&](const char* key) { return ZR::CStringUtils::lineValue(metadata, key); };
  if (value("cache.image.width").empty()) return false;
  return value("cache.size") != value("origin.size") || value("cache.mimetype") != value("origin.mimetype") ||
         value("cache.image.width") != value("origin.image.width") ||
         value("cache.image.height") != value("origin.image.height");
}

uint64_t StoredCopy::outputBound(uint64_t listedSize) const {
  if (sizeKnown && !picture) return originSize;
  if (gzip) return std::max<uint64_t>(listedSize, 1) * kMaxInflateRatio;
  return listedSize;
}

StoredCopy describe(const std::string& metadata) {
  StoredCopy copy;
  copy.gzip = ZR::CStringUtils::lineValue(metadata, "cache.encoding") == "gzip";
  copy.picture = reencodedPicture(metadata);
  copy.sizeKnown = readCount(metadata, "origin.size", copy.originSize);
  copy.storedSizeKnown = readCount(metadata, "cache.size", copy.storedSize);
  int64_t modified = 0;
  copy.timeKnown = ZR::CNumberText::parseExact(ZR::CStringUtils::lineValue(metadata, "origin.modified"), modified);
  copy.originModified = modified;
  return copy;
}

bool describeFromListing(const CachedFile& file, StoredCopy& copy) {
  if (file.encoding.empty()) return false;
  std::string metadata = "cache.encoding=" + file.encoding + "\n";
  if (!file.originSize.empty()) metadata += "origin.size=" + file.originSize + "\n";
  if (!file.originModified.empty()) metadata += "origin.modified=" + file.originModified + "\n";
  if (!file.cacheSize.empty()) metadata += "cache.size=" + file.cacheSize + "\n";
  if (file.picture) metadata += "cache.image.width=1\n";
  copy = describe(metadata);
  return true;
}

std::string fetchStoredCopy(CacheService& service, const CachedFile& file, const StoredCopy& copy,
                            const ByteSink& sink, uint64_t& written) {
  written = 0;
  if (std::string why = sizesDisagree(file, copy); !why.empty()) return why;
  BoundedOutput output(sink, copy.outputBound(file.size));
  Gunzip gunzip(copy.outputBound(file.size));
  std::string bytes;
  for (uint64_t offset = 0; offset < file.size;) {
    int32_t asked = static_cast<int32_t>(std::min<uint64_t>(kFetchBytes, file.size - offset));
    if (platform::Status got = service.fetch(file, static_cast<int64_t>(offset), asked, bytes); !got) {
      return got.message();
    }
    // Fewer bytes than asked only at the end: a service that drips a byte
    // per answer cannot keep a restore going for ever.
    if (bytes.size() != static_cast<size_t>(asked)) {
      return "the service sent " + std::to_string(bytes.size()) + " bytes for " + std::to_string(asked) +
             " asked at " + std::to_string(offset) + " of " + std::to_string(file.size);
    }
    offset += bytes.size();
    bool taken = copy.gzip ? gunzip.feed(bytes.data(), bytes.size(),
                                         [&](const char* data, size_t size) { return output.put(data, size); })
                           : output.put(bytes.data(), bytes.size());
    written = output.written();
    if (!taken) return output.error().empty() ? "the gzip copy: " + gunzip.error() : output.error();
  }
  if (copy.gzip && !gunzip.complete()) return "the gzip copy ends in the middle";
  if (!copy.picture && copy.sizeKnown && written != copy.originSize) {
    return std::to_string(written) + " bytes came back, the original had " + std::to_string(copy.originSize);
  }
  return "";
}

}  // namespace agent
