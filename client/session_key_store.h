// The session key shared with the agent and later runs, in a named block
// of shared memory: 256 bytes, the key as text ended by a zero byte. The
// block exists while any process has it open; it is private to the user.
#pragma once

#include <memory>
#include <string>

#include "platform/shared_memory.h"
#include "service/cache_manager_calls.h"

namespace velkan {

constexpr const char* kSessionKeyBlockName = "OrbekVelkanSessionKey";
constexpr size_t kSessionKeyBlockSize = 256;

// Used by one thread at a time. Failures degrade to "no stored key"; each
// is logged as a warning (the key itself never is).
class CSessionKeyStore : public SessionKeys {
 public:
  CSessionKeyStore();
  ~CSessionKeyStore() override;
  CSessionKeyStore(const CSessionKeyStore&) = delete;
  CSessionKeyStore& operator=(const CSessionKeyStore&) = delete;

  // The key last read or written by this process, else the block's key;
  // empty when there is none.
  std::string getKey() override;
  // Stores a key of at most 255 characters; true when the block holds it.
  bool setKey(const std::string& key) override;

 private:
  bool mapView();

  std::string key_;
  std::unique_ptr<platform::SharedMemory> mapping_;
  char* view_ = nullptr;
};

}  // namespace velkan
