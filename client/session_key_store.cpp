#include "client/session_key_store.h"

#include <cstdio>
#include <cstring>

#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"

namespace velkan {
namespace {

// The logger, or null before there is one (then nothing is logged).
ZR::CLogger* logger() { return ZR::CLogManager::instance(); }

constexpr const char* kTagMark = "@ep:";

std::string tagOf(const std::string& endpoint) { return kTagMark + ZR::CStringUtils::hashHex(endpoint); }

void warnCannotMap(int error) {
  if (ZR::CLogger* log = logger()) log->warning("Could not map view of file for cache session key(%d).\n", error);
}

}  // namespace

CSessionKeyStore::CSessionKeyStore()
    : mapping_(std::make_unique<platform::SharedMemory>(kSessionKeyBlockName, kSessionKeyBlockSize)) {
  ZR::CLogger* log = logger();
  if (!mapping_->valid() && log) {
    log->warning("Can't open cache session memory mapped file %s.", kSessionKeyBlockName);
    log->warning("%s", mapping_->lastErrorText().c_str());
  }
}

CSessionKeyStore::~CSessionKeyStore() {
  view_ = nullptr;
  mapping_.reset();
  key_.clear();
}

bool CSessionKeyStore::mapView() {
  if (view_) return true;
  if (!mapping_->valid()) return false;
  view_ = mapping_->data();
  return true;
}

std::string CSessionKeyStore::getKey() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!key_.empty()) return key_;
  if (!mapView()) {
    warnCannotMap(mapping_->lastError());
    if (ZR::CLogger* log = logger()) log->warning("Could not get seesion key.\n");
    return key_;
  }
  size_t length = strnlen(view_, kSessionKeyBlockSize);
  std::string key(view_, length);
  if (!endpointTag_.empty() && length + 1 < kSessionKeyBlockSize) {
    std::string tag(view_ + length + 1, strnlen(view_ + length + 1, kSessionKeyBlockSize - length - 1));
    if (tag.compare(0, std::strlen(kTagMark), kTagMark) == 0 && tag != endpointTag_) {
      if (ZR::CLogger* log = logger()) {
        log->info("the stored session key was issued by another server; logging in to this one");
      }
      return key_;
    }
  }
  key_ = key;
  return key_;
}

void CSessionKeyStore::bindToEndpoint(const std::string& endpoint) {
  endpointTag_ = endpoint.empty() ? "" : tagOf(endpoint);
}

bool CSessionKeyStore::setKey(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!mapping_->valid()) return false;
  if (key.size() >= kSessionKeyBlockSize) {
    // The key is a secret: its length goes to the log, not the key.
    if (ZR::CLogger* log = logger()) {
      log->warning("Cache session key too long, %zu characters, max size is %d\n", key.size(),
                   static_cast<int>(kSessionKeyBlockSize));
    }
    return false;
  }
  if (!mapView()) {
    warnCannotMap(mapping_->lastError());
    return false;
  }
  std::memset(view_, 0, kSessionKeyBlockSize);
  std::memcpy(view_, key.data(), key.size());
  // The tag only where it fits whole after the key's zero byte.
  if (!endpointTag_.empty() && !key.empty() && key.size() + 1 + endpointTag_.size() < kSessionKeyBlockSize) {
    std::memcpy(view_ + key.size() + 1, endpointTag_.data(), endpointTag_.size());
  }
  key_ = key;
  return true;
}

}  // namespace velkan
