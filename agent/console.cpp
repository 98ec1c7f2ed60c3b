#include "agent/console.h"

#include <chrono>

#include <cstdio>

#include "bindings/zrcore/log.h"
#include "platform/clock.h"

namespace agent {
namespace {

constexpr size_t kLineWidth = 100;
constexpr size_t kListedLines = 20;  // of a list of problems; all go to the log

std::string oneDecimal(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// The end of a long path, which says more than its start.
std::string tail(const std::string& text, size_t width) {
  if (text.size() <= width) return text;
  size_t from = text.size() - (width - 3);
  while (from < text.size() && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80) ++from;  // whole characters
  return "..." + text.substr(from);
}

}  // namespace

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

std::string humanCount(uint64_t count) {
  std::string digits = std::to_string(count);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

std::string progressLine(const velkan::ProgressReport& r) {
  std::string line = "uploading " + humanCount(r.filesDone) + "/" + humanCount(r.filesToDo) + " files, " +
                     humanBytes(r.bytesDone) + " of " + humanBytes(r.bytesToDo);
  if (r.rate > 0) {
    line += ", " + humanBytes(r.rate) + "/s";
    // The time left at the rate so far; preparation shrinks what is sent,
    // so this errs on the long side.
    uint64_t left = r.bytesToDo > r.bytesDone ? r.bytesToDo - r.bytesDone : 0;
    line += ", " + humanDuration(left * 1000 / r.rate) + " left";
  }
  if (r.filesFailed > 0) line += ", " + humanCount(r.filesFailed) + " failed";
  if (!r.currentPath.empty()) {
    std::string percent = r.currentSize ? " " + std::to_string(r.currentSent * 100 / r.currentSize) + "%" : "";
    size_t room = line.size() + 10 < kLineWidth ? kLineWidth - line.size() - 10 : 20;
    line += ": " + tail(r.currentPath, room) + percent;
  }
  return line;
}

ProgressConsole::ProgressConsole(bool terminal, uint64_t plainIntervalMs)
    : terminal_(terminal), plainIntervalMs_(plainIntervalMs), lastPlainMs_(platform::tickCountMs()) {}

ProgressConsole::~ProgressConsole() { end(); }

void ProgressConsole::show(const std::string& line) {
  if (terminal_) {
    // Blanks over what is left of a longer line before.
    std::string padded = line.size() < shown_.size() ? line + std::string(shown_.size() - line.size(), ' ') : line;
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

void ProgressConsole::print(const std::string& line) {
  end();
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void ProgressConsole::end() {
  if (!lineOpen_) return;
  std::printf("\n");
  std::fflush(stdout);
  lineOpen_ = false;
  shown_.clear();
}

namespace {
constexpr int64_t kWaitNoticeMs = 10000;
}  // namespace

WaitingNotice::WaitingNotice(std::string server) : server_(std::move(server)), thread_([this] { watch(); }) {}

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
    std::printf("waiting for the cache manager at %s: no answer to %s for %s\n", server_.c_str(), what_.c_str(),
                humanDuration(static_cast<uint64_t>(now - startedMs_)).c_str());
    std::fflush(stdout);
  }
}

}  // namespace agent
