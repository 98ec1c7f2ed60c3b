// A small block of memory shared by name between the processes of one user,
// as long as at least one of them has it open: when the last one closes
// it, its content is gone. The block may hold secrets, so it is only ever
// readable and writable by its owner, and a block that someone else
// created, or that others could read, is refused. The environment variable
// ZR_IPC_NAMESPACE, when set, scopes the name.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

class SharedMemory {
 public:
  // Creates the block or opens the existing one. Check valid().
  SharedMemory(const std::string& name, size_t size);
  ~SharedMemory();
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  bool valid() const { return data_ != nullptr; }
  // The block, `size` bytes, zero when newly created. Null when not valid.
  char* data() const { return data_; }
  size_t size() const { return size_; }
  // The system's error number of the failure that made it invalid.
  int lastError() const { return error_; }
  // Why it is not valid, for messages.
  const std::string& lastErrorText() const { return errorText_; }

 private:
  bool attach();
  bool fail(const std::string& what);
  void release();

  std::string objectName_;
#ifdef _WIN32
  void* mapping_ = nullptr;
#else
  std::string usersFile_;
  int usersFd_ = -1;
#endif
  char* data_ = nullptr;
  size_t size_;
  int error_ = 0;
  std::string errorText_;
};

}  // namespace platform
