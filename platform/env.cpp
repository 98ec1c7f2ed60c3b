#include "platform/env.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<Env*> currentEnv{nullptr};

}  // namespace

Env* env() {
  Env* e = currentEnv.load(std::memory_order_acquire);
  return e ? e : Env::defaultEnv();
}

ScopedEnvOverride::ScopedEnvOverride(Env* replacement) : previous_(currentEnv.exchange(replacement)) {}

ScopedEnvOverride::~ScopedEnvOverride() { currentEnv.store(previous_); }

bool readFileToString(const std::string& path, std::string* out, std::string* error) {
  auto file = env()->openReadable(path, error);
  if (!file) return false;
  out->clear();
  char buf[65536];
  for (;;) {
    int64_t got = file->read(buf, sizeof buf);
    if (got < 0) {
      if (error) *error = "cannot read " + path;
      return false;
    }
    if (got == 0) return true;
    out->append(buf, static_cast<size_t>(got));
  }
}

}  // namespace platform
