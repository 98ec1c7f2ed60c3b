#include "agent/console.h"

#include <chrono>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bindings/zrcore/log.h"
#include "platform/clock.h"
#include "platform/process.h"

namespace agent {
namespace {

constexpr size_t kListedLines = 20;  // of a list of problems; all go to the log

std::string oneDecimal(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// Characters (not bytes) of UTF-8 text: what a terminal column holds.
size_t columnsOf(const std::string& text) {
  size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

// The end of a long path, which says more than its start, in `width`
// characters at most.
std::string tail(const std::string& text, size_t width) {
  size_t have = columnsOf(text);
  if (have <= width) return text;
  if (width <= 3) return head("...", width);
  // What is left out is the head of `have - (width - 3)` characters.
  return "..." + text.substr(head(text, have - (width - 3)).size());
}

}  // namespace

std::string head(const std::string& text, size_t width) {
  size_t at = 0, count = 0;
  while (at < text.size() && count < width) {
    ++at;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
    ++count;
  }
  return text.substr(0, at);
}

int fail(int code, const std::string& message) {
  std::fprintf(stderr, "cacheagent: %s\n", message.c_str());
  return code;
}

void printListed(const std::vector<std::string>& lines, ZR::CLogger& log, const std::string& logPrefix) {
  for (size_t i = 0; i < lines.size(); ++i) {
    log.warning("%s", (logPrefix + lines[i]).c_str());
    if (i < kListedLines) std::printf("  %s\n", lines[i].c_str());
  }
  if (lines.size() > kListedLines) std::printf("  ... and %zu more (all in the log)\n", lines.size() - kListedLines);
  std::fflush(stdout);
}

std::string humanBytes(uint64_t bytes) {
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024;
  size_t unit = 0;
  while (value >= 1024 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1024;
    ++unit;
  }
  return oneDecimal(value) + " " + kUnits[unit];
}

std::string humanDuration(uint64_t ms) {
  if (ms < 60000) return oneDecimal(static_cast<double>(ms) / 1000) + " s";
  uint64_t seconds = ms / 1000;
  char text[48];
  if (seconds < 3600) {
    std::snprintf(text, sizeof text, "%llu min %02llu s", static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%llu h %02llu min", static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>(seconds / 60 % 60));
  }
  return text;
}

std::string utcTimeText(int64_t unixSeconds) {
  platform::UtcTime t = platform::toUtc(unixSeconds);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
  return text;
}

std::string humanCount(uint64_t count) {
  std::string digits = std::to_string(count);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

void TimeLeft::sample(uint64_t nowMs, uint64_t done, uint64_t total) {
  constexpr uint64_t kFirstEstimateMs = 5000;
  if (firstMs_ == 0) firstMs_ = lastMs_ = nowMs;
  if (nowMs > lastMs_ && done >= lastDone_) {
    double rate = static_cast<double>(done - lastDone_) / static_cast<double>(nowMs - lastMs_);
    double weight = std::min(1.0, static_cast<double>(nowMs - lastMs_) / 10000.0);  // about 10 s of memory
    rate_ = rate_ == 0 ? rate : rate_ + weight * (rate - rate_);
    lastMs_ = nowMs;
    lastDone_ = done;
  }
  bool known = nowMs - firstMs_ >= kFirstEstimateMs && rate_ > 0;
  leftMs_ = known ? static_cast<int64_t>(static_cast<double>(total > done ? total - done : 0) / rate_) : -1;
}

std::string countOf(uint64_t count, const std::string& singular, const std::string& plural) {
  return humanCount(count) + " " + (count == 1 ? singular : plural);
}

std::string printable(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    bool whole = length > 0 && i + length <= text.size();
    for (size_t k = 1; whole && k < length; ++k) whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (whole && (c >= 0x20 || c == '\t') && c != 0x7F) {
      out.append(text, i, length);
      i += length;
      continue;
    }
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
    out += escaped;
    ++i;
  }
  return out;
}

std::string progressLine(const velkan::ProgressReport& r, size_t columns, int64_t leftMs) {
  size_t width = columns > 0 ? columns - 1 : 0;
  std::string core;
  if (r.state == "interrupted" || r.state == "failed" || r.state == "finished") {
    core = r.state + " after " + humanCount(r.filesDone) + " of " + countOf(r.filesToDo, "file", "files");
  } else if (r.filesToDo == 0 && r.deletionsToDo == 0) {
    core = "starting the upload";
  } else {
    core = "uploading " + humanCount(r.filesDone) + "/" + countOf(r.filesToDo, "file", "files") + ", " +
           humanBytes(r.bytesDone + r.currentSent) + " of " + humanBytes(r.bytesToDo);
  }
  std::vector<std::string> extras;
  bool running = r.state.empty() || r.state == "running";
  if (running && r.rate > 0) extras.push_back(humanBytes(r.rate) + "/s");
  if (running && leftMs >= 0) extras.push_back(humanDuration(static_cast<uint64_t>(leftMs)) + " left");
  if (r.filesFailed > 0) extras.push_back(humanCount(r.filesFailed) + " failed");
  std::string file;
  if (running && !r.currentPath.empty()) {
    std::string percent = r.currentSize ? " " + std::to_string(r.currentSent * 100 / r.currentSize) + "%" : "";
    file = printable(r.currentPath) + percent;
  }
  // The extras go from the last while the line does not fit without the file.
  std::string line;
  for (;;) {
    line = core;
    for (const std::string& extra : extras) line += ", " + extra;
    if (columnsOf(line) <= width || extras.empty()) break;
    extras.pop_back();
  }
  if (columnsOf(line) > width) return head(line, width);
  constexpr size_t kLeastForAFile = 12;
  size_t room = width - columnsOf(line);
  if (!file.empty() && room >= kLeastForAFile + 2) line += ": " + tail(file, room - 2);
  return line;
}

ProgressConsole::ProgressConsole(bool terminal, uint64_t plainIntervalMs)
    : terminal_(terminal), plainIntervalMs_(plainIntervalMs), lastPlainMs_(platform::tickCountMs()) {}

ProgressConsole::~ProgressConsole() { end(); }

size_t ProgressConsole::columns() const {
  int columns = platform::terminalColumns();
  return columns > 0 ? static_cast<size_t>(columns) : 100;
}

void ProgressConsole::show(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (terminal_) {
    // Blanks over what is left of a longer line before.
    size_t was = columnsOf(shown_), now = columnsOf(line);
    std::string padded = now < was ? line + std::string(was - now, ' ') : line;
    std::printf("\r%s", padded.c_str());
    std::fflush(stdout);
    shown_ = line;
    lineOpen_ = true;
    return;
  }
  uint64_t now = platform::tickCountMs();
  if (now - lastPlainMs_ < plainIntervalMs_) return;
  lastPlainMs_ = now;
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void ProgressConsole::clearLocked() {
  if (!lineOpen_) return;
  std::printf("\r%s\r", std::string(columnsOf(shown_), ' ').c_str());
}

void ProgressConsole::print(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  clearLocked();
  std::printf("%s\n", line.c_str());
  if (lineOpen_) std::printf("%s", shown_.c_str());
  std::fflush(stdout);
}

void ProgressConsole::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  clearLocked();
  std::fflush(stdout);
  lineOpen_ = false;
  shown_.clear();
}

void ProgressConsole::end() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!lineOpen_) return;
  std::printf("\n");
  std::fflush(stdout);
  lineOpen_ = false;
  shown_.clear();
}

namespace {
constexpr int64_t kWaitNoticeMs = 10000;
}  // namespace

WaitingNotice::WaitingNotice(std::string server, std::function<void(const std::string&)> say)
    : server_(std::move(server)), say_(std::move(say)), thread_([this] { watch(); }) {}

WaitingNotice::~WaitingNotice() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void WaitingNotice::begin(const std::string& what) { since(what, platform::unixTimeMs()); }

void WaitingNotice::since(const std::string& what, int64_t startedUnixMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (what == what_ && startedUnixMs == startedMs_) return;
  what_ = what;
  startedMs_ = startedUnixMs;
  toldAtMs_ = 0;
}

void WaitingNotice::end() {
  std::lock_guard<std::mutex> lock(mutex_);
  what_.clear();
}

void WaitingNotice::watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, std::chrono::milliseconds(250));
    if (what_.empty()) continue;
    int64_t now = platform::unixTimeMs();
    if (now - startedMs_ < kWaitNoticeMs || (toldAtMs_ != 0 && now - toldAtMs_ < kWaitNoticeMs)) continue;
    toldAtMs_ = now;
    std::string line = "waiting for the cache manager at " + server_ + ": no answer to " + what_ + " for " +
                       humanDuration(static_cast<uint64_t>(now - startedMs_));
    if (say_) {
      say_(line);
    } else {
      std::printf("%s\n", line.c_str());
      std::fflush(stdout);
    }
  }
}

}  // namespace agent
