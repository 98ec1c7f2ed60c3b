// The session key shared with the agent and later runs, in a named block
// of shared memory: 256 bytes, the key as text ended by a zero byte. The
// block exists while any process has it open; it is private to the user.
//
// A key this store writes is tagged with the endpoint it was issued by:
// after the key's zero byte come "@ep:" and 16 hexadecimal digits of a hash
// of the endpoint (readers of the key stop at the zero byte and never see
// it). A store bound to an endpoint takes a tagged key only from the same
// endpoint, so that a key of one server is never sent to another; a key
// without a tag (the agent's) is taken as before.
#pragma once

#include <memory>
#include <mutex>
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
  // The endpoint of the service this run talks to (before the first getKey).
  void bindToEndpoint(const std::string& endpoint);

 private:
  bool mapView();

  std::mutex mutex_;  // the run's upload sessions share the key
  std::string key_;
  std::string endpointTag_;  // empty: not bound
  std::unique_ptr<platform::SharedMemory> mapping_;
  char* view_ = nullptr;
};

}  // namespace velkan
