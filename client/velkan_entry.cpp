#include "client/velkan_entry.h"

#include <atomic>
#include <cstdio>

#include "bindings/cabinet/run_context.h"
#include "bindings/zrcore/config.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "bindings/zrcore/thread.h"
#include "client/client_settings.h"
#include "service/velkan_exceptions.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/path.h"
#include "client/ccm_client.h"
#include "status/run_progress.h"

namespace velkan {
namespace {

void logText(const char* text) {
  if (ZR::CLogger* log = ZR::CLogManager::instance()) log->info("%s", text);
}

// The worker of throttled mode: runs the client object on its own thread,
// which the main thread stops and lets go in 100 ms cycles.
class CClientRunThread : public ZR::CThread {
 public:
  explicit CClientRunThread(std::string configurationPath) : configurationPath_(std::move(configurationPath)) {}
  ~CClientRunThread() override { join(); }

  int run() override {
    done_.store(false, std::memory_order_release);
    exitCode_ = runClient(configurationPath_);
    done_.store(true, std::memory_order_release);  // publishes the exit code
    return 0;
  }
  bool done() const { return done_.load(std::memory_order_acquire); }
  int exitCode() const { return exitCode_; }

 private:
  std::string configurationPath_;
  int exitCode_ = 0;
  std::atomic<bool> done_{false};
};

// The main thread's cycle: the run thread and the registered workers may
// work `percent` ms of every 100. Nothing is allocated, logged or locked
// while they are stopped.
int runThrottled(const std::string& configurationPath, int percent) {
  CClientRunThread worker(configurationPath);
  ZR::CThreadGroup& group = *ZR::CRunContext::processDefaults().throttle;
  group.setSharePercent(percent);
  worker.threadStart();
  while (!worker.done()) {
    platform::sleepMs(static_cast<uint32_t>(percent));
    auto cycle = group.lockForCycle();
    const auto& members = group.members();
    worker.handle().suspend();
    for (platform::Thread* member : members) member->suspend();
    platform::sleepMs(static_cast<uint32_t>(100 - percent));
    for (platform::Thread* member : members) member->resume();
    worker.handle().resume();
  }
  return worker.exitCode();
}

// A configuration that cannot be loaded ends the run like any other
// unreadable configuration: one log line and -102. The log starts with its
// defaults (beside the configuration file), and the reason goes to
// standard error too, since a user who finds no log has nothing else.
int refuseConfiguration(const std::string& path) {
  std::fprintf(stderr, "velkan: %s\n", ZR::CConfigManager::lastError().c_str());
  std::string folder = platform::parentFolder(platform::hostPath(path));
  platform::FileInfo info;
  if (!platform::env()->getFileInfo(folder, &info) || !info.isDirectory) folder.clear();
  ZR::CLogManager::initialize("velkan", folder);
  if (!ZR::CLogManager::instance()) return kExitInitialisation;
  logText(kConfigurationLoadFailed);
  return kExitStandardException;
}

}  // namespace

int runClient(const std::string& configurationPath) {
  RunProgress progress(kStatusFolder, 500, ZR::CLogManager::instance());
  int code = runClient(configurationPath, &progress);
  progress.finish(code == 0 ? RunProgress::State::Finished : RunProgress::State::Failed, code);
  return code;
}

int runClient(const std::string& configurationPath, RunProgress* progress) {
  try {
    CCMClient client(ZR::CRunContext::processDefaults());
    client.reportProgress(progress);
    client.run(configurationPath);
    return 0;
  } catch (const CCacheManagerSpaceLimitException& e) {
    logText(e.what());
    return e.errorCode();
  } catch (const CCacheManagerException& e) {
    logText(e.what());
    return e.errorCode();
  } catch (const std::exception& e) {
    logText(e.what());
    return kExitStandardException;
  } catch (...) {
    logText("Unknown exception : possibly access violation.");
    return kExitUnknownException;
  }
}

int runVelkan(const std::vector<std::string>& arguments) {
  if (arguments.empty()) {
    std::printf("velkan usage: velkan.exe <configuration file>.\n");
    std::fflush(stdout);
    return kExitUsage;
  }
  const std::string& path = arguments[0];
  if (!ZR::CConfigManager::initialize(1, path, false)) return refuseConfiguration(path);
  ZR::CLogManager::initialize("velkan");
  if (!ZR::CLogManager::instance()) return kExitInitialisation;
  int percent = 100;
  if (arguments.size() >= 2) {
    percent = ZR::CNumberText::toInt32(arguments[1]);
    // A negative share would make the first sleep of each cycle endless.
    if (percent > 100 || percent < 0) {
      logText("Wrong value for the second (cpu percentage) parameter.");
      return kExitStandardException;
    }
  }
  return percent < 100 ? runThrottled(path, percent) : runClient(path);
}

}  // namespace velkan
