// What one command did, kept whole: its figures, every problem, every skip
// and every file that failed, in the order they came. It is written as the
// report file of a backup (reports/ in the work folder, the last 30 kept),
// so that "all in the report" stays true whatever the log's rotation did,
// and as the one JSON document of --json. REQUIRES: external
// synchronization.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/env.h"
#include "platform/status.h"

namespace agent {

class RunReport {
 public:
  explicit RunReport(std::string command);

  void figure(const std::string& name, int64_t value);
  void text(const std::string& name, const std::string& value);
  // An entry of a named list ("problems", "skips", "failures", ...): a
  // path and what is to be said of it.
  void entry(const std::string& list, const std::string& path, const std::string& what);
  // A line of the summary as it was printed.
  void line(const std::string& printed);
  // Prints a summary line on standard output and keeps it.
#if defined(__GNUC__)
  __attribute__((format(printf, 2, 3)))
#endif
  void say(const char* format, ...);
  void end(int exitCode);

  int exitCode() const { return exitCode_; }
  // Every entry of a list, for a person: "path: what".
  std::vector<std::string> lines(const std::string& list) const;

  // {"command": ..., "exitCode": N, <figures>, <texts>, "<list>": [{"path": ..., "what": ...}], "summary": [...]}
  std::string json() const;
  // The report file's text: the summary, then each list whole.
  std::string plainText() const;
  // Writes the report file into `folder` (made when missing), keeping the
  // last `kept` of them; returns where it went.
  platform::Status save(platform::Env& env, const std::string& folder, std::string& path, size_t kept = 30) const;

 private:
  std::string command_;
  int exitCode_ = 0;
  std::vector<std::pair<std::string, int64_t>> figures_;
  std::vector<std::pair<std::string, std::string>> texts_;
  std::vector<std::string> listOrder_;
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> lists_;
  std::vector<std::string> summary_;
};

// A JSON string, quotes included; bytes that are not UTF-8 written as \\xNN.
std::string jsonString(const std::string& text);

}  // namespace agent
