#include "client/velkan_entry.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "bindings/cabinet/cabinet.h"
#include "bindings/context/run_context.h"
#include "bindings/zrcore/config.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "bindings/zrcore/thread.h"
#include "bindings/zrcore/xml_builder.h"
#include "client/ccm_client.h"
#include "client/client_settings.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/file_lock.h"
#include "platform/interrupt.h"
#include "platform/link_free_env.h"
#include "platform/path.h"
#include "platform/process.h"
#include "service/velkan_exceptions.h"
#include "status/run_progress.h"
#include "status/status_files.h"

namespace velkan {
namespace {

constexpr const char* kUsage =
    "velkan usage: velkan.exe <configuration file>.\n";
constexpr const char* kHelp =
    "usage: velkan CONFIGURATION_FILE [CPU_PERCENT]\n"
    "\n"
    "Carries out the action set that the configuration's cacheManagerClient\n"
    "section names against the cache manager: service requests, deletions and\n"
    "uploads. With CPU_PERCENT (0 to 100) the run takes about that share of one\n"
    "core. Status files and the run's progress are kept in status/ below the\n"
    "current folder; the log goes to the configuration's logging folder.\n"
    "\n"
    "exit codes: 0 done; 2 files were not uploaded (not for a limit); 3 the\n"
    "service cannot be reached; 4 the agent authentication file is missing;\n"
    "5 another velkan works on the same file index; 130 interrupted;\n"
    "-1 (255) no configuration or log; -101 (155) no argument; -102 (154) a\n"
    "standard error (configuration, action set, percentage, ...); -103 (153)\n"
    "an unknown error; -9 (247) the store is full; another negative code: the\n"
    "service ended the run; 70 a crash.\n";

void logText(const char* text) {
  if (ZR::CLogger* log = ZR::CLogManager::instance()) log->info("%s", text);
}

std::string trimmed(const char* text) { return ZR::CStringUtils::rtrim(text, " \t\r\n"); }

// The worker of throttled mode: runs the client object on its own thread,
// which the main thread stops and lets go in 100 ms cycles.
class CClientRunThread : public ZR::CThread {
 public:
  CClientRunThread(std::string configurationPath, RunProgress* progress)
      : configurationPath_(std::move(configurationPath)), progress_(progress) {}
  ~CClientRunThread() override { join(); }

  int run() override {
    done_.store(false, std::memory_order_release);
    ending_ = runClient(configurationPath_, progress_);
    done_.store(true, std::memory_order_release);  // publishes the ending
    return 0;
  }
  bool done() const { return done_.load(std::memory_order_acquire); }
  const RunEnding& ending() const { return ending_; }

 private:
  std::string configurationPath_;
  RunProgress* progress_;
  RunEnding ending_;
  std::atomic<bool> done_{false};
};

// The main thread's cycle: the run thread and the registered workers may
// work `percent` ms of every 100. Nothing is allocated, logged or locked
// while they are stopped.
RunEnding runThrottled(const std::string& configurationPath, int percent, RunProgress* progress) {
  CClientRunThread worker(configurationPath, progress);
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
  return worker.ending();
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

RunEnding runClient(const std::string& configurationPath, RunProgress* progress) {
  try {
    CCMClient client(ZR::CRunContext::processDefaults());
    client.reportProgress(progress);
    client.run(configurationPath);
    if (uint64_t missed = client.notUploaded()) {
      return {kExitNotAllUploaded, std::to_string(missed) + (missed == 1 ? " file was" : " files were") +
                                       " not uploaded, the first: " + client.firstNotUploaded() +
                                       "; they go again in the next run"};
    }
    return {};
  } catch (const CRunEndedEarly& e) {
    logText(e.what());
    return {e.exitCode(), trimmed(e.what())};
  } catch (const CCacheManagerSpaceLimitException& e) {
    logText(e.what());
    return {e.errorCode(), trimmed(e.what())};
  } catch (const CCacheManagerException& e) {
    logText(e.what());
    return {e.errorCode(), "the cache manager ended the run: " + trimmed(e.what())};
  } catch (const CSoapException& e) {
    logText(e.what());
    return {kExitStandardException, e.detail().empty() ? trimmed(e.what()) : e.detail()};
  } catch (const std::exception& e) {
    logText(e.what());
    return {kExitStandardException, trimmed(e.what())};
  } catch (...) {
    logText("Unknown exception : possibly access violation.");
    return {kExitUnknownException, "an unknown error ended the run"};
  }
}

namespace {

// The percentage argument: whole numbers 0 to 100 only. A text that is no
// number would otherwise read as 0 and throttle the run to a crawl.
bool readPercent(const std::string& text, int& percent) {
  int64_t value = -1;
  if (!ZR::CNumberText::parseExact(text, value) || value < 0 || value > 100) return false;
  percent = static_cast<int>(value);
  return true;
}

RunProgress::State stateOf(int code) {
  if (code == kExitInterrupted) return RunProgress::State::Interrupted;
  return code == 0 || code == kExitNotAllUploaded ? RunProgress::State::Finished : RunProgress::State::Failed;
}

// One velkan at a time per file index: a second one would send the same
// files beside the first and record them twice.
bool lockTheIndex(platform::FileLock& lock, std::string& message) {
  std::string index = ZR::CCabinet::indexPath();
  if (index.empty()) return true;
  std::string holder = "velkan, process " + std::to_string(platform::processId()) + ", working in " +
                       platform::currentFolder();
  if (lock.tryLock(index + ".lock", holder)) return true;
  std::string running = platform::FileLock::holderOf(index + ".lock");
  message = "another velkan is running on the file index " + index + (running.empty() ? "" : " (" + running + ")");
  return false;
}

// The folders the configuration's <agent> section watches, as velkan's
// paths reach them: below them velkan follows no link, so that a folder
// swapped for a link after the scan cannot have a file from elsewhere
// stored under a watched path.
std::vector<std::string> watchedFolders(const std::string& configurationPath) {
  std::vector<std::string> roots;
  const ZR::CConfigManager* configuration = ZR::CConfigManager::instance();
  const ZR::CXmlElement* agent = configuration ? configuration->document().getChild("agent") : nullptr;
  std::string folder = platform::parentFolder(platform::resolvedPath(platform::hostPath(configurationPath)));
  for (size_t i = 0; agent && i < agent->getChildCount(); ++i) {
    const ZR::CXmlElement* watch = agent->getChild(i);
    const ZR::CXmlAttribute* where = watch->getName() == "watch" ? watch->getAttribute("path") : nullptr;
    if (!where || where->value.empty()) continue;
    std::string host = platform::hasDriveLetter(where->value) ? platform::hostPath(where->value)
                                                               : platform::pathFrom(folder, where->value);
    roots.push_back(platform::hostPath(platform::logicalPath(host)));
  }
  return roots;
}

// The run proper, once the configuration and the log are there.
RunEnding runConfigured(const std::string& path, int percent) {
  platform::FileLock lock;
  std::string busy;
  if (!lockTheIndex(lock, busy)) return {kExitAlreadyRunning, busy};
  std::vector<std::string> watched = watchedFolders(path);
  platform::LinkFreeEnv linkFree(platform::env(), watched);
  std::optional<platform::ScopedEnvOverride> noLinks;
  if (!watched.empty()) noLinks.emplace(&linkFree);
  platform::watchForInterruption();
  // The status page has a folder to read from, also on a first run.
  platform::env()->createDirectories(kStatusFolder);
  RunProgress progress(*platform::env(), kStatusFolder, 500, ZR::CLogManager::instance());
  ZR::CLogManager::logger().info("velkan started with %s%s", path.c_str(),
                                 percent < 100 ? (", " + std::to_string(percent) + " % of one core").c_str() : "");
  // What changed while the run waits (for the service, say) is written all
  // the same, by a thread of its own, woken at the run's end so that a
  // short run does not wait for it; so are the lines of uploaded files.
  std::mutex flushing;
  std::condition_variable runEnded;
  bool ended = false;
  std::thread flusher([&] {
    std::unique_lock<std::mutex> waiting(flushing);
    while (!runEnded.wait_for(waiting, std::chrono::milliseconds(200), [&] { return ended; })) {
      progress.flush();
      std::fflush(stdout);
    }
  });
  RunEnding ending = percent < 100 ? runThrottled(path, percent, &progress) : runClient(path, &progress);
  {
    std::lock_guard<std::mutex> told(flushing);
    ended = true;
  }
  runEnded.notify_all();
  flusher.join();
  progress.finish(stateOf(ending.code), ending.code);
  ZR::CLogManager::logger().info("velkan finished: %s; exit code %d", progress.summary().c_str(), ending.code);
  return ending;
}

}  // namespace

int runVelkan(const std::vector<std::string>& arguments) {
  if (arguments.empty()) {
    std::printf("%s", kUsage);
    std::fflush(stdout);
    return kExitUsage;
  }
  if (arguments[0] == "--help" || arguments[0] == "-h") {
    std::printf("%s", kHelp);
    return 0;
  }
  if (arguments[0] == "--version") {
    std::printf("velkan %s\n", kVelkanVersion);
    return 0;
  }
  const std::string& path = arguments[0];
  if (!ZR::CConfigManager::initialize(1, path, false)) return refuseConfiguration(path);
  ZR::CLogManager::initialize("velkan");
  if (!ZR::CLogManager::instance()) {
    std::fprintf(stderr, "velkan: no log could be set up\n");
    return kExitInitialisation;
  }
  int percent = 100;
  if (arguments.size() >= 2 && !readPercent(arguments[1], percent)) {
    logText("Wrong value for the second (cpu percentage) parameter.");
    std::fprintf(stderr, "velkan: the cpu percentage \"%s\" is not a whole number from 0 to 100\n", arguments[1].c_str());
    return kExitStandardException;
  }
  RunEnding ending = runConfigured(path, percent);
  if (ending.code != 0) std::fprintf(stderr, "velkan: %s (exit code %d)\n", ending.message.c_str(), ending.code);
  return ending.code;
}

}  // namespace velkan
