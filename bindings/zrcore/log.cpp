#include "bindings/zrcore/log.h"

#include <spdlog/sinks/null_sink.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "bindings/zrcore/config.h"
#include "platform/env.h"
#include "platform/path.h"
#include "platform/process.h"

namespace ZR {
namespace {

std::unique_ptr<CLogger>& loggerSlot() {
  static std::unique_ptr<CLogger> slot;
  return slot;
}

// Kept apart from the logger so the fault handler needs no allocation.
char crashLogPath[4096];
char crashModule[64];

ZR_PRINTF(1, 0) std::string formatMessage(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[512];
  int needed = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (needed < 0) return format;
  std::string text;
  if (static_cast<size_t>(needed) < sizeof small) {
    text.assign(small, static_cast<size_t>(needed));
  } else {
    std::vector<char> big(static_cast<size_t>(needed) + 1);
    std::vsnprintf(big.data(), big.size(), format, args);
    text.assign(big.data(), static_cast<size_t>(needed));
  }
  size_t end = text.find_last_not_of(" \t\r\n");
  text.erase(end == std::string::npos ? 0 : end + 1);
  return text;
}

spdlog::level::level_enum toSpdlog(CLogLevel level) {
  switch (level) {
    case CLogLevel::Trace: return spdlog::level::trace;
    case CLogLevel::Info: return spdlog::level::info;
    case CLogLevel::Warning: return spdlog::level::warn;
    case CLogLevel::Error: return spdlog::level::err;
  }
  return spdlog::level::info;
}

void rememberForCrash(const std::string& path, const std::string& module) {
  std::snprintf(crashLogPath, sizeof crashLogPath, "%s", path.c_str());
  std::snprintf(crashModule, sizeof crashModule, "%s", module.c_str());
}

}  // namespace

CLogger::CLogger(std::shared_ptr<spdlog::logger> sink, std::string filePath)
    : sink_(std::move(sink)), filePath_(std::move(filePath)) {}

CLogger::~CLogger() { flush(); }

void CLogger::flush() { sink_->flush(); }

#define ZR_LOG_AT(level)                                         \
  do {                                                           \
    if (!sink_->should_log(level)) return;                       \
    va_list args;                                                \
    va_start(args, format);                                      \
    std::string text = formatMessage(format, args);              \
    va_end(args);                                                \
    sink_->log(level, spdlog::string_view_t(text.data(), text.size())); \
  } while (0)

void CLogger::info(const char* format, ...) { ZR_LOG_AT(spdlog::level::info); }
void CLogger::trace(const char* format, ...) { ZR_LOG_AT(spdlog::level::trace); }
void CLogger::warning(const char* format, ...) { ZR_LOG_AT(spdlog::level::warn); }
void CLogger::error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = formatMessage(format, args);
  va_end(args);
  {
    std::lock_guard<std::mutex> lock(problemMutex_);
    lastProblem_ = text;
  }
  sink_->log(spdlog::level::err, spdlog::string_view_t(text.data(), text.size()));
}

std::string CLogger::lastProblem() const {
  std::lock_guard<std::mutex> lock(problemMutex_);
  return lastProblem_;
}

#undef ZR_LOG_AT

bool CLogManager::initialize(const std::string& module, const std::string& defaultFolder) {
  CLogSettings settings;
  if (CConfigManager* config = CConfigManager::instance()) settings = config->logSettings();
  if (settings.folder.empty()) settings.folder = defaultFolder;
  if (settings.folder.empty()) settings.folder = platform::currentFolder();
  std::string path = platform::joinPath(settings.folder, module + ".log");
  std::shared_ptr<spdlog::logger> sink;
  bool toFile = true;
  try {
    platform::env()->createDirectories(settings.folder);
    auto fileSink =
        std::make_shared<spdlog::sinks::rotating_file_sink_mt>(path, settings.maxFileBytes, settings.maxFiles);
    sink = std::make_shared<spdlog::logger>(module, fileSink);
  } catch (const spdlog::spdlog_ex& e) {
    std::fprintf(stderr, "cannot open log file %s (%s); logging to standard error\n", path.c_str(), e.what());
    sink = std::make_shared<spdlog::logger>(module, std::make_shared<spdlog::sinks::stderr_sink_mt>());
    path.clear();
    toFile = false;
  }
  sink->set_pattern("[%Y-%m-%d %H:%M:%S.%e] [%l] [%t] %v");
  sink->set_level(toSpdlog(settings.level));
  sink->flush_on(spdlog::level::trace);
  rememberForCrash(path, module);
  loggerSlot() = std::make_unique<CLogger>(std::move(sink), path);
  return toFile;
}

CLogger* CLogManager::instance() { return loggerSlot().get(); }

CLogger& CLogManager::logger() {
  CLogger* log = instance();
  return log ? *log : CLogger::discarding();
}

CLogger& CLogger::discarding() {
  static CLogger* none = [] {
    auto sink = std::make_shared<spdlog::logger>("none", std::make_shared<spdlog::sinks::null_sink_mt>());
    sink->set_level(spdlog::level::off);
    return new CLogger(std::move(sink), "");
  }();
  return *none;
}

void CLogManager::shutdown() {
  crashLogPath[0] = '\0';
  loggerSlot().reset();
}

int RecordExceptionInfo(const platform::CrashInfo* info, const char* module) {
  char cause[48];
  if (info && info->exceptionCode != 0) {
    std::snprintf(cause, sizeof cause, "exception 0x%08lX", info->exceptionCode);
  } else {
    std::snprintf(cause, sizeof cause, "signal %d", info ? info->signalNumber : 0);
  }
  char report[1024];
  std::snprintf(report, sizeof report, "[crash] %s stopped by a fatal fault: %s (%s) at address %p; exit code %d\n",
                module ? module : "program", info ? info->description : "unknown", cause,
                info ? info->faultAddress : nullptr, kCrashExitCode);
  platform::writeToStandardErrorNow(report);
  if (crashLogPath[0] != '\0') platform::appendToFileNow(crashLogPath, report);
  return 1;
}

namespace {

int handleCrash(const platform::CrashInfo& info) {
  RecordExceptionInfo(&info, crashModule[0] ? crashModule : nullptr);
  return kCrashExitCode;
}

}  // namespace

void installCrashGuard(const char* module) {
  std::snprintf(crashModule, sizeof crashModule, "%s", module);
  platform::installCrashHandler(handleCrash);
}

}  // namespace ZR
