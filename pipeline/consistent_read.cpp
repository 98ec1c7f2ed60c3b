#include "pipeline/consistent_read.h"

#include <algorithm>
#include <vector>

#include "platform/clock.h"

namespace velkan {
namespace {

// File times lag the wall clock by up to a scheduler tick.
constexpr int64_t kClockMarginMs = 30;
constexpr int64_t kLongestWaitMs = 1100;
constexpr size_t kCopyBlock = 1 << 20;

// Sleeps in small steps so that a stop is noticed soon.
bool sleepUnlessStopped(int64_t ms, const std::function<bool()>& stopped) {
  while (ms > 0) {
    if (stopped && stopped()) return false;
    uint32_t step = static_cast<uint32_t>(std::min<int64_t>(ms, 50));
    platform::sleepMs(step);
    ms -= step;
  }
  return !(stopped && stopped());
}

platform::Status copyOnce(platform::Env& env, const std::string& source, const std::string& target) {
  std::unique_ptr<platform::ReadableFile> in;
  if (platform::Status opened = env.openReadable(source, &in); !opened) return opened;
  std::unique_ptr<platform::WritableFile> out;
  if (platform::Status created = env.openWritable(target, &out); !created) return created;
  std::vector<char> block(kCopyBlock);
  for (;;) {
    int64_t got = in->read(block.data(), block.size());
    if (got < 0) return platform::Status::ioError("cannot read " + source);
    if (got == 0) break;
    if (!out->append(block.data(), static_cast<size_t>(got))) return platform::Status::ioError("cannot write " + target);
  }
  if (!out->close()) return platform::Status::ioError("cannot write " + target);
  return platform::Status::ok();
}

}  // namespace

uint32_t backOffMs(int attempt) {
  uint32_t ms = 200;
  for (int i = 2; i < attempt; ++i) ms *= 3;
  return std::min<uint32_t>(ms, 2000);
}

uint32_t copyPauseMs(int attempt) {
  // A fixed, spread sequence: steps of 83 ms folded into 50..250 ms.
  return 50 + static_cast<uint32_t>(attempt * 83) % 201;
}

bool waitPastWriteSecond(const platform::FileInfo& version, const std::function<bool()>& stopped) {
  int64_t due = (version.modifiedUnixSeconds + 1) * 1000 + kClockMarginMs;
  int64_t wait = due - platform::unixTimeMs();
  if (wait <= 0 || wait > kLongestWaitMs) return true;
  return sleepUnlessStopped(wait, stopped);
}

platform::Status copyWhileStill(platform::Env& env, const std::string& source, const std::string& target,
                                platform::FileInfo& version, int attempts, const std::function<bool()>& stopped) {
  std::string why = "it changed during every copy";
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    if (attempt > 1 && !sleepUnlessStopped(copyPauseMs(attempt), stopped)) break;
    platform::FileInfo before, after;
    // No wait for the second of the last write here: a file that never
    // holds still would never be copied.
    if (!env.getFileInfo(source, &before)) return platform::Status::notFound(source + " no longer exists");
    platform::Status copied = copyOnce(env, source, target);
    bool still = copied && env.getFileInfo(source, &after) && after.sameVersion(before);
    if (still) {
      version = before;
      return platform::Status::ok();
    }
    env.removeFile(target);
    if (!copied) why = copied.message();
  }
  env.removeFile(target);
  if (stopped && stopped()) return platform::Status::refused("the run was stopped");
  return platform::Status::ioError("no consistent copy of " + source + " could be made: " + why);
}

}  // namespace velkan
