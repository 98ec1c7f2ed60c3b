#include "agent/run_report.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "agent/console.h"
#include "bindings/zrcore/file.h"
#include "bindings/zrcore/string_utils.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/path.h"

namespace agent {

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : printable(text)) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

RunReport::RunReport(std::string command) : command_(std::move(command)) {}

void RunReport::figure(const std::string& name, int64_t value) { figures_.emplace_back(name, value); }

void RunReport::text(const std::string& name, const std::string& value) { texts_.emplace_back(name, value); }

void RunReport::entry(const std::string& list, const std::string& path, const std::string& what) {
  if (!lists_.count(list)) listOrder_.push_back(list);
  lists_[list].emplace_back(path, what);
}

void RunReport::line(const std::string& printed) { summary_.push_back(printed); }

void RunReport::say(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list again;
  va_copy(again, arguments);
  int length = std::vsnprintf(nullptr, 0, format, arguments);
  va_end(arguments);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  std::fputs(text.c_str(), stdout);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty()) summary_.push_back(text);
}

void RunReport::end(int exitCode) { exitCode_ = exitCode; }

std::vector<std::string> RunReport::lines(const std::string& list) const {
  std::vector<std::string> out;
  auto found = lists_.find(list);
  if (found == lists_.end()) return out;
  for (const auto& [path, what] : found->second) out.push_back(printable(path) + (what.empty() ? "" : ": " + what));
  return out;
}

std::string RunReport::json() const {
  std::string out = "{\"command\": " + jsonString(command_) + ", \"exitCode\": " + std::to_string(exitCode_);
  for (const auto& [name, value] : figures_) out += ", " + jsonString(name) + ": " + std::to_string(value);
  for (const auto& [name, value] : texts_) out += ", " + jsonString(name) + ": " + jsonString(value);
  for (const std::string& list : listOrder_) {
    out += ", " + jsonString(list) + ": [";
    const auto& entries = lists_.at(list);
    for (size_t i = 0; i < entries.size(); ++i) {
      out += (i ? ", " : "") + std::string("{\"path\": ") + jsonString(entries[i].first) +
             ", \"what\": " + jsonString(entries[i].second) + "}";
    }
    out += "]";
  }
  out += ", \"summary\": [";
  for (size_t i = 0; i < summary_.size(); ++i) out += (i ? ", " : "") + jsonString(summary_[i]);
  return out + "]}\n";
}

std::string RunReport::plainText() const {
  std::string out = "cacheagent " + command_ + ", exit code " + std::to_string(exitCode_) + "\n";
  for (const std::string& printed : summary_) out += printed + "\n";
  for (const std::string& list : listOrder_) {
    out += "\n" + list + " (" + std::to_string(lists_.at(list).size()) + "):\n";
    for (const std::string& entryLine : lines(list)) out += "  " + entryLine + "\n";
  }
  return out;
}

platform::Status RunReport::save(platform::Env& env, const std::string& folder, std::string& path, size_t kept) const {
  env.createDirectories(folder);
  platform::UtcTime t = platform::toUtc(platform::unixTimeSeconds());
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%s-%04d%02d%02d-%02d%02d%02d-", command_.c_str(), t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  // Names sort by time; a later run within the same second takes a number
  // above every one already there.
  std::vector<std::string> names;
  env.listDirectory(folder, &names);
  int64_t number = 0;
  for (const std::string& name : names) {
    int64_t taken = 0;
    if (name.rfind(stamp, 0) == 0 && name.size() == std::strlen(stamp) + 8 &&
        ZR::CNumberText::parseExact(name.substr(std::strlen(stamp), 4), taken)) {
      number = std::max(number, taken + 1);
    }
  }
  char numbered[16];
  std::snprintf(numbered, sizeof numbered, "%04d.txt", static_cast<int>(std::min<int64_t>(number, 9999)));
  std::string name = std::string(stamp) + numbered;
  path = platform::joinPath(folder, name);
  std::string error;
  if (!ZR::CFileUtils::writeFileAtomically(env, path, plainText(), error, true, ZR::LinkAtTarget::Refuse)) {
    return platform::Status::ioError("cannot write the report " + path + ": " + error);
  }
  // The names sort by time: the oldest beyond `kept` go.
  names.push_back(name);
  std::string prefix = command_ + "-";
  names.erase(std::remove_if(names.begin(), names.end(),
                             [&](const std::string& n) { return n.rfind(prefix, 0) != 0 || n.size() < 5 || n.substr(n.size() - 4) != ".txt"; }),
              names.end());
  std::sort(names.begin(), names.end());
  for (size_t i = 0; i + kept < names.size(); ++i) env.removeFile(platform::joinPath(folder, names[i]));
  return platform::Status::ok();
}

}  // namespace agent
