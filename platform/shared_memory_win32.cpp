#include <aclapi.h>
#include <sddl.h>

#include <memory>

#include "platform/process.h"
#include "platform/shared_memory.h"
#include "platform/win32.h"

// A named file mapping backed by the paging file: Windows removes it when
// the last handle closes. It is created with an access list that admits
// only the creating user, and a mapping someone else created under the
// same name is refused.
namespace platform {
namespace {

struct LocalFreeDeleter {
  void operator()(void* p) const { LocalFree(p); }
};

// A security identifier of our process token, as an owned copy: the user
// (TokenUser) or the owner it gives the objects it creates (TokenOwner: the
// Administrators group for an elevated administrator).
std::unique_ptr<BYTE[]> tokenSid(TOKEN_INFORMATION_CLASS which) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  win32::Handle owner(token);
  DWORD length = 0;
  GetTokenInformation(token, which, nullptr, 0, &length);
  if (length == 0) return nullptr;
  auto buffer = std::make_unique<BYTE[]>(length);
  if (!GetTokenInformation(token, which, buffer.get(), length, &length)) return nullptr;
  PSID sid = which == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid
                                : reinterpret_cast<TOKEN_OWNER*>(buffer.get())->Owner;
  DWORD sidLength = GetLengthSid(sid);
  auto copy = std::make_unique<BYTE[]>(sidLength);
  if (!CopySid(sidLength, copy.get(), sid)) return nullptr;
  return copy;
}

// "D:P(A;;GA;;;<user>)": full access for the user, nobody else.
std::unique_ptr<void, LocalFreeDeleter> ownerOnlyDescriptor(PSID user) {
  char* sidText = nullptr;
  if (!ConvertSidToStringSidA(user, &sidText)) return nullptr;
  std::string sddl = std::string("D:P(A;;GA;;;") + sidText + ")";
  LocalFree(sidText);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    return nullptr;
  }
  return std::unique_ptr<void, LocalFreeDeleter>(descriptor);
}

// True when we (as user or as the owner our objects get) own the object.
bool ownedByUs(HANDLE object, PSID user) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  auto defaultOwner = tokenSid(TokenOwner);
  bool ours = owner && (EqualSid(owner, user) || (defaultOwner && EqualSid(owner, defaultOwner.get())));
  LocalFree(descriptor);
  return ours;
}

}  // namespace

SharedMemory::SharedMemory(const std::string& name, size_t size) : size_(size) {
  // ZR_IPC_NAMESPACE sets processes apart that must not share blocks, e.g.
  // test runs side by side; Local\ keeps the block inside this session.
  std::string space = environmentVariable("ZR_IPC_NAMESPACE");
  objectName_ = "Local\\" + (space.empty() ? name : space + "." + name);
  if (!attach()) release();
}

bool SharedMemory::attach() {
  auto user = tokenSid(TokenUser);
  if (!user) return fail("cannot read the current user");
  auto descriptor = ownerOnlyDescriptor(user.get());
  if (!descriptor) return fail("cannot make an access list for " + objectName_);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE,
                                      static_cast<DWORD>(static_cast<uint64_t>(size_) >> 32),
                                      static_cast<DWORD>(size_ & 0xFFFFFFFFu), objectName_.c_str());
  if (!mapping) return fail("cannot open shared memory " + objectName_);
  mapping_ = mapping;
  if (GetLastError() == ERROR_ALREADY_EXISTS && !ownedByUs(mapping, user.get())) {
    SetLastError(ERROR_ACCESS_DENIED);
    return fail("shared memory " + objectName_ + " belongs to someone else");
  }
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size_);
  if (!view) return fail("cannot map shared memory " + objectName_);
  data_ = static_cast<char*>(view);
  return true;
}

SharedMemory::~SharedMemory() { release(); }

bool SharedMemory::fail(const std::string& what) {
  error_ = static_cast<int>(GetLastError());
  errorText_ = what + ": " + win32::errorText(static_cast<DWORD>(error_));
  return false;
}

void SharedMemory::release() {
  if (data_) UnmapViewOfFile(data_);
  data_ = nullptr;
  if (mapping_) CloseHandle(mapping_);
  mapping_ = nullptr;
}

}  // namespace platform
