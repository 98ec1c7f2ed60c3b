#include "client/session_key_store.h"

#include <cstring>

#include "bindings/zrcore/log.h"

namespace velkan {
namespace {

// The logger, or null before there is one (then nothing is logged).
ZR::CLogger* logger() { return ZR::CLogManager::instance(); }

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
  if (!key_.empty()) return key_;
  if (!mapView()) {
    warnCannotMap(mapping_->lastError());
    if (ZR::CLogger* log = logger()) log->warning("Could not get seesion key.\n");
    return key_;
  }
  key_.assign(view_, strnlen(view_, kSessionKeyBlockSize));
  return key_;
}

bool CSessionKeyStore::setKey(const std::string& key) {
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
  key_ = key;
  return true;
}

}  // namespace velkan
