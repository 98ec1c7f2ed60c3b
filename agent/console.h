// What cacheagent shows a person: sizes, durations and counts as people
// read them, and the one progress line that is redrawn in place on a
// terminal (or printed now and then when the output is a file or a pipe).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "status/run_progress.h"

namespace ZR {
class CLogger;
}

namespace agent {

// 0 B, 512 B, 1.5 KB, 23.4 MB, 1.2 GB (powers of 1024).
std::string humanBytes(uint64_t bytes);
// 0.4 s, 12.3 s, 4 min 05 s, 2 h 03 min.
std::string humanDuration(uint64_t ms);
// 1234567 as 1,234,567.
std::string humanCount(uint64_t count);

// Says on standard error what went wrong ("cacheagent: ..."); returns `code`.
int fail(int code, const std::string& message);

// Prints the first lines of a list, each indented (and how many more), and
// logs every one as a warning, after `logPrefix`.
void printListed(const std::vector<std::string>& lines, ZR::CLogger& log, const std::string& logPrefix = "");

// One line of a running upload: files and bytes done of all, the rate,
// the time left and the file being sent.
std::string progressLine(const velkan::ProgressReport& report);

// Tells, every 10 s, that a call to the cache manager has had no answer
// yet (what call, to where, for how long), so that a run against a silent
// service is never silent itself. Thread-safe.
class WaitingNotice {
 public:
  explicit WaitingNotice(std::string server);
  ~WaitingNotice();
  WaitingNotice(const WaitingNotice&) = delete;
  WaitingNotice& operator=(const WaitingNotice&) = delete;

  // A call begins (`what` names it for a person), or has ended.
  void begin(const std::string& what);
  void end();
  // The same for a call whose start is known (Unix milliseconds): velkan's.
  void since(const std::string& what, int64_t startedUnixMs);

 private:
  void watch();

  std::string server_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::string what_;
  int64_t startedMs_ = 0;
  int64_t toldAtMs_ = 0;
  std::thread thread_;
};

class ProgressConsole {
 public:
  // `terminal`: redraw one line in place; otherwise print a line at most
  // every `plainIntervalMs`.
  ProgressConsole(bool terminal, uint64_t plainIntervalMs = 10000);
  ~ProgressConsole();
  ProgressConsole(const ProgressConsole&) = delete;
  ProgressConsole& operator=(const ProgressConsole&) = delete;

  void show(const std::string& line);
  // A line of its own (an error, say) that stays above the progress line.
  void print(const std::string& line);
  // Leaves the progress line as it is and goes on below it.
  void end();

 private:
  bool terminal_;
  uint64_t plainIntervalMs_;
  uint64_t lastPlainMs_;  // a first plain line only after one interval
  bool lineOpen_ = false;
  std::string shown_;
};

}  // namespace agent
