// What cacheagent shows a person: sizes, durations and counts as people
// read them, and the one progress line that is redrawn in place on a
// terminal (or printed now and then when the output is a file or a pipe).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
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
// A moment (seconds since 1970) as "2026-12-01 10:00:00", in UTC.
std::string utcTimeText(int64_t unixSeconds);

// Says on standard error what went wrong ("cacheagent: ..."); returns `code`.
int fail(int code, const std::string& message);

// Prints the first lines of a list, each indented (and how many more), and
// logs every one as a warning, after `logPrefix`.
void printListed(const std::vector<std::string>& lines, ZR::CLogger& log, const std::string& logPrefix = "");

// The time a run has left, from the bytes done (those of the file being
// sent included) at a rate smoothed over the run; none in its first
// seconds rather than a wild one.
class TimeLeft {
 public:
  void sample(uint64_t nowMs, uint64_t done, uint64_t total);
  // Milliseconds left; -1 when there is no estimate yet.
  int64_t leftMs() const { return leftMs_; }

 private:
  uint64_t firstMs_ = 0, lastMs_ = 0, lastDone_ = 0;
  double rate_ = 0;  // bytes per millisecond, smoothed
  int64_t leftMs_ = -1;
};

// What a run's line says: what it is doing now (before the counts are
// known, a phase word: "starting the upload"), files and bytes done of
// all, the rate, the time left (`leftMs`, -1: none), the failures and the
// file being sent; after the run, how it ended. It fits `columns` - 1
// characters (never wrapping a terminal's line): the file's name is cut
// first, then the rate and the time, then the rest.
std::string progressLine(const velkan::ProgressReport& report, size_t columns = 100, int64_t leftMs = -1);

// The first `width` characters of UTF-8 text.
std::string head(const std::string& text, size_t width);

// A count and a noun in the right number: "1 file", "2 files".
std::string countOf(uint64_t count, const std::string& singular, const std::string& plural);

// Bytes that are not UTF-8 written as \xE9, so that a name reaches a
// terminal or a log as text.
std::string printable(const std::string& text);

// Tells, every 10 s, that a call to the cache manager has had no answer
// yet (what call, to where, for how long), so that a run against a silent
// service is never silent itself. Thread-safe.
class WaitingNotice {
 public:
  // `say` (may be empty: standard output) prints a notice.
  explicit WaitingNotice(std::string server, std::function<void(const std::string&)> say = {});
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
  std::function<void(const std::string&)> say_;
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
  // `terminal`: redraw one line in place, as wide as the terminal is;
  // otherwise print a line at most every `plainIntervalMs`. Thread-safe.
  ProgressConsole(bool terminal, uint64_t plainIntervalMs = 10000);
  ~ProgressConsole();
  ProgressConsole(const ProgressConsole&) = delete;
  ProgressConsole& operator=(const ProgressConsole&) = delete;

  void show(const std::string& line);
  // A line of its own (an error, say) that stays above the progress line:
  // the line is cleared, the message printed and the line drawn again.
  void print(const std::string& line);
  // Leaves the progress line as it is and goes on below it.
  void end();
  // Takes the line away (a phase word that is over), so that what is
  // printed next starts on a clean line.
  void clear();
  // The columns a line may fill (the terminal's width less one).
  size_t columns() const;

 private:
  void clearLocked();

  mutable std::mutex mutex_;
  bool terminal_;
  uint64_t plainIntervalMs_;
  uint64_t lastPlainMs_;  // a first plain line only after one interval
  bool lineOpen_ = false;
  std::string shown_;
};

}  // namespace agent
