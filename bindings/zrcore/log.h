// The product's logger: printf-style messages into a rotating file named
// after the program (dornik.log, velkan.log) in the folder that the
// configuration file's <logging> element names.
//
// Formats are checked at compile time; a text that must appear as it
// stands is passed as an argument: info("%s", text.c_str()).
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/crash.h"

// The C99 printf rules (%zu, %lld) on every system: the Windows build uses
// mingw's own stdio (__USE_MINGW_ANSI_STDIO), so the check must follow GNU.
#if defined(__MINGW32__) && !defined(__clang__)
#define ZR_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define ZR_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

namespace spdlog {
class logger;
}

namespace ZR {

class CLogger {
 public:
  CLogger(std::shared_ptr<spdlog::logger> sink, std::string filePath);
  virtual ~CLogger();
  CLogger(const CLogger&) = delete;
  CLogger& operator=(const CLogger&) = delete;

  // Safe from several threads at once. Trailing line ends and blanks of a
  // message are dropped: the file has one line per message.
  virtual void info(const char* format, ...) ZR_PRINTF(2, 3);
  virtual void trace(const char* format, ...) ZR_PRINTF(2, 3);
  virtual void warning(const char* format, ...) ZR_PRINTF(2, 3);
  virtual void error(const char* format, ...) ZR_PRINTF(2, 3);

  // The log file; empty when messages go to standard error instead.
  const std::string& filePath() const { return filePath_; }
  // The last message logged through error(): what a program that ends
  // with a failure tells on standard error. Empty when there was none.
  std::string lastProblem() const;
  void flush();

  // A logger that drops every message, for code that must log but has no
  // log to write to. Never deleted.
  static CLogger& discarding();

 private:
  std::shared_ptr<spdlog::logger> sink_;
  std::string filePath_;
  mutable std::mutex problemMutex_;
  std::string lastProblem_;
};

class CLogManager {
 public:
  // Opens the log of a module. The log goes to <folder>/<module>.log; when
  // that file cannot be opened the log goes to standard error and a line
  // there says why. Returns false in that case, true otherwise.
  // `defaultFolder` is the folder used when no configuration is loaded
  // (empty: the current folder).
  static bool initialize(const std::string& module, const std::string& defaultFolder = "");
  // The logger; null before initialize.
  static CLogger* instance();
  // The logger, or the discarding one before initialize: never null.
  static CLogger& logger();
  // Closes the log (tests, and the end of a program).
  static void shutdown();
};

// Writes a crash report (the module, what happened, where) to standard
// error and to the module's log file. Safe to call from a fault handler.
// Returns the verdict: 1 when the fault is to be handled (always).
int RecordExceptionInfo(const platform::CrashInfo* info, const char* module);

// The exit code of a program that ended through a handled crash. Not 0: a
// crash is never reported as success.
constexpr int kCrashExitCode = 70;

// Installs the fault handler of a program: RecordExceptionInfo with the
// module's name, then exit with kCrashExitCode.
void installCrashGuard(const char* module);

}  // namespace ZR
