#include "bindings/cabinet/env_vfs.h"

#include <sqlite3.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/env.h"

namespace ZR {
namespace {

// A file of the default VFS, with the path it was opened under.
struct EnvFile {
  sqlite3_file base;  // first: SQLite sees an EnvFile as a sqlite3_file
  sqlite3_file* real;
  const char* path;
  platform::Env* env;
};

platform::Env& envOf(sqlite3_vfs* vfs) { return *static_cast<platform::Env*>(vfs->pAppData); }

sqlite3_vfs* realVfs = nullptr;
sqlite3_io_methods methods;

sqlite3_file* real(sqlite3_file* file) { return reinterpret_cast<EnvFile*>(file)->real; }

bool permitted(sqlite3_file* file, const char* operation) {
  auto* wrapped = reinterpret_cast<EnvFile*>(file);
  return wrapped->env->permitForeignOperation(operation, wrapped->path ? wrapped->path : "");
}

int closeFile(sqlite3_file* file) {
  sqlite3_file* r = real(file);
  int rc = r->pMethods ? r->pMethods->xClose(r) : SQLITE_OK;
  sqlite3_free(r);
  return rc;
}
int readFile(sqlite3_file* f, void* b, int n, sqlite3_int64 o) { return real(f)->pMethods->xRead(real(f), b, n, o); }
int writeFile(sqlite3_file* f, const void* b, int n, sqlite3_int64 o) {
  if (!permitted(f, "append")) return SQLITE_IOERR_WRITE;
  return real(f)->pMethods->xWrite(real(f), b, n, o);
}
int truncateFile(sqlite3_file* f, sqlite3_int64 size) {
  if (!permitted(f, "append")) return SQLITE_IOERR_TRUNCATE;
  return real(f)->pMethods->xTruncate(real(f), size);
}
int syncFile(sqlite3_file* f, int flags) {
  if (!permitted(f, "sync")) return SQLITE_IOERR_FSYNC;
  return real(f)->pMethods->xSync(real(f), flags);
}
int fileSize(sqlite3_file* f, sqlite3_int64* size) { return real(f)->pMethods->xFileSize(real(f), size); }
int lockFile(sqlite3_file* f, int level) { return real(f)->pMethods->xLock(real(f), level); }
int unlockFile(sqlite3_file* f, int level) { return real(f)->pMethods->xUnlock(real(f), level); }
int checkLock(sqlite3_file* f, int* out) { return real(f)->pMethods->xCheckReservedLock(real(f), out); }
int fileControl(sqlite3_file* f, int op, void* arg) { return real(f)->pMethods->xFileControl(real(f), op, arg); }
int sectorSize(sqlite3_file* f) { return real(f)->pMethods->xSectorSize(real(f)); }
int deviceCharacteristics(sqlite3_file* f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); }
int shmMap(sqlite3_file* f, int page, int size, int extend, void volatile** out) {
  return real(f)->pMethods->xShmMap(real(f), page, size, extend, out);
}
int shmLock(sqlite3_file* f, int offset, int n, int flags) { return real(f)->pMethods->xShmLock(real(f), offset, n, flags); }
void shmBarrier(sqlite3_file* f) { real(f)->pMethods->xShmBarrier(real(f)); }
int shmUnmap(sqlite3_file* f, int deleteFlag) { return real(f)->pMethods->xShmUnmap(real(f), deleteFlag); }

int openFile(sqlite3_vfs* vfs, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
  auto* wrapped = reinterpret_cast<EnvFile*>(file);
  wrapped->base.pMethods = nullptr;
  wrapped->path = name;
  wrapped->env = &envOf(vfs);
  if (name && !wrapped->env->permitForeignOperation("open", name)) return SQLITE_CANTOPEN;
  wrapped->real = static_cast<sqlite3_file*>(sqlite3_malloc(realVfs->szOsFile));
  if (!wrapped->real) return SQLITE_NOMEM;
  std::memset(wrapped->real, 0, static_cast<size_t>(realVfs->szOsFile));
  int rc = realVfs->xOpen(realVfs, name, wrapped->real, flags, outFlags);
  if (rc != SQLITE_OK) {
    if (wrapped->real->pMethods) wrapped->real->pMethods->xClose(wrapped->real);
    sqlite3_free(wrapped->real);
    return rc;
  }
  wrapped->base.pMethods = &methods;
  return SQLITE_OK;
}

int deleteFile(sqlite3_vfs* vfs, const char* name, int syncDirectory) {
  if (!envOf(vfs).permitForeignOperation("remove", name)) return SQLITE_IOERR_DELETE;
  return realVfs->xDelete(realVfs, name, syncDirectory);
}
int access(sqlite3_vfs*, const char* name, int flags, int* out) { return realVfs->xAccess(realVfs, name, flags, out); }
int fullPathname(sqlite3_vfs*, const char* name, int n, char* out) { return realVfs->xFullPathname(realVfs, name, n, out); }
void* dlOpen(sqlite3_vfs*, const char* name) { return realVfs->xDlOpen(realVfs, name); }
void dlError(sqlite3_vfs*, int n, char* out) { realVfs->xDlError(realVfs, n, out); }
void (*dlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) { return realVfs->xDlSym(realVfs, handle, symbol); }
void dlClose(sqlite3_vfs*, void* handle) { realVfs->xDlClose(realVfs, handle); }
int randomness(sqlite3_vfs*, int n, char* out) { return realVfs->xRandomness(realVfs, n, out); }
int sleep(sqlite3_vfs*, int microseconds) { return realVfs->xSleep(realVfs, microseconds); }
int currentTime(sqlite3_vfs*, double* out) { return realVfs->xCurrentTime(realVfs, out); }
int lastError(sqlite3_vfs*, int n, char* out) { return realVfs->xGetLastError ? realVfs->xGetLastError(realVfs, n, out) : 0; }
int currentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) { return realVfs->xCurrentTimeInt64(realVfs, out); }

bool findRealVfs() {
  static std::once_flag found;
  std::call_once(found, [] {
    realVfs = sqlite3_vfs_find(nullptr);
    methods = sqlite3_io_methods{2,          closeFile, readFile,  writeFile,    truncateFile, syncFile,
                                 fileSize,   lockFile,  unlockFile, checkLock,   fileControl,  sectorSize,
                                 deviceCharacteristics, shmMap, shmLock, shmBarrier, shmUnmap, nullptr, nullptr};
  });
  return realVfs != nullptr;
}

// One registered VFS and the name SQLite knows it by.
struct EnvVfs {
  std::string name;
  sqlite3_vfs vfs;
};

}  // namespace

const char* envVfsName(platform::Env& env) {
  static std::mutex mutex;
  static auto* registered = new std::map<platform::Env*, std::unique_ptr<EnvVfs>>;  // used until exit
  if (!findRealVfs()) return nullptr;
  std::lock_guard<std::mutex> lock(mutex);
  std::unique_ptr<EnvVfs>& entry = (*registered)[&env];
  if (!entry) {
    auto made = std::make_unique<EnvVfs>();
    made->name = "zr-env-" + std::to_string(registered->size());
    made->vfs = sqlite3_vfs{2, static_cast<int>(sizeof(EnvFile)), realVfs->mxPathname, nullptr, made->name.c_str(),
                            &env, openFile, deleteFile, access, fullPathname, dlOpen, dlError, dlSym, dlClose,
                            randomness, sleep, currentTime, lastError, currentTimeInt64, nullptr, nullptr, nullptr};
    if (sqlite3_vfs_register(&made->vfs, 0) != SQLITE_OK) {
      registered->erase(&env);
      return nullptr;
    }
    entry = std::move(made);
  }
  return entry->name.c_str();
}

}  // namespace ZR
