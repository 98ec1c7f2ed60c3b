// `versions` and the moments of `ls --at` and `restore --at`: what the
// cache manager's history keeps of a file, and the time a folder is seen at.
#include "agent/history_command.h"

#include <cctype>
#include <cstdio>

#include "agent/console.h"
#include "agent/exit_codes.h"
#include "agent/restore.h"
#include "bindings/zrcore/string_utils.h"
#include "platform/clock.h"

namespace agent {
namespace {

constexpr int64_t kMaxVersionNumber = 1000000;

std::vector<std::string> wordsOf(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text + " ") {
    if (c != ' ') {
      word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    } else if (!word.empty()) {
      words.push_back(std::move(word));
      word.clear();
    }
  }
  return words;
}

// "N days ago", "N hours ago", "N minutes ago" (singular too).
bool agoMoment(const std::vector<std::string>& words, int64_t now, int64_t& when) {
  int64_t count = 0;
  if (words.size() != 3 || words[2] != "ago" || !ZR::CNumberText::parseExact(words[0], count) || count < 0 ||
      count > 100000) {
    return false;
  }
  std::string unit = words[1];
  if (!unit.empty() && unit.back() == 's') unit.pop_back();
  int64_t seconds = unit == "day" ? 86400 : unit == "hour" ? 3600 : unit == "minute" ? 60 : 0;
  if (seconds == 0) return false;
  when = now - count * seconds;
  return true;
}

// "2026-12-01", "2026-12-01 10:00" or "2026-12-01 10:00:30", local time.
bool dateMoment(const std::string& text, int64_t& when) {
  platform::UtcTime local;
  int consumed = 0;
  int fields = std::sscanf(text.c_str(), "%4d-%2d-%2d%n %2d:%2d%n:%2d%n", &local.year, &local.month, &local.day,
                           &consumed, &local.hour, &local.minute, &consumed, &local.second, &consumed);
  if (fields != 3 && fields != 5 && fields != 6) return false;
  if (static_cast<size_t>(consumed) != text.size()) return false;
  return platform::fromLocalTime(local, when);
}

}  // namespace

bool parseMoment(const std::string& text, int64_t now, int64_t& when) {
  std::vector<std::string> words = wordsOf(text);
  if (words.size() == 1 && words[0] == "now") {
    when = now;
    return true;
  }
  if (words.size() == 1 && words[0] == "yesterday") {
    when = now - 86400;
    return true;
  }
  return agoMoment(words, now, when) || dateMoment(text, when);
}

platform::Status resolveMoment(CacheService& service, const std::string& text, const std::string& path, int64_t now,
                               int64_t& when) {
  int64_t number = 0;
  if (!ZR::CNumberText::parseExact(text, number) || number > kMaxVersionNumber) {
    if (parseMoment(text, now, when)) return platform::Status::ok();
    return platform::Status::invalid("--at " + text +
                                     ": not a time (2026-12-01 10:00, yesterday, 3 days ago) nor a version number");
  }
  std::vector<FileVersion> versions;
  if (platform::Status listed = service.versions(logicalOf(path), versions); !listed) return listed;
  if (number < 1 || number > static_cast<int64_t>(versions.size()) + 1) {
    return platform::Status::invalid("--at " + text + ": " + path + " has versions 1 to " +
                                     std::to_string(versions.size() + 1) + " (the last is the current one)");
  }
  when = number == static_cast<int64_t>(versions.size()) + 1 ? now : versions[static_cast<size_t>(number - 1)].became;
  return platform::Status::ok();
}

int runVersions(const AgentConfig& config, const std::string& path, ZR::CLogger& log, RunReport& report) {
  CacheService service(config, log);
  service.tellWhenWaiting();
  std::string logical = logicalOf(path);
  std::vector<FileVersion> versions;
  if (platform::Status listed = service.versions(logical, versions); !listed) {
    return fail(kExitService, listed.message());
  }
  // The size a user knows: the original's, where the uploader said it.
  auto sizeText = [](const std::string& originSize, uint64_t stored) {
    return originSize.empty() ? std::to_string(stored) : originSize;
  };
  std::printf("%-4s  %-19s  %-19s  %12s\n", "#", "from (UTC)", "until (UTC)", "size");
  size_t number = 0;
  for (const FileVersion& version : versions) {
    std::string until = utcTimeText(version.ended) + (version.deleted ? "  (deleted then)" : "");
    std::string size = sizeText(version.originSize, version.size);
    std::printf("%-4zu  %-19s  %-19s  %12s\n", ++number, utcTimeText(version.became).c_str(), until.c_str(),
                size.c_str());
    report.entry("versions", std::to_string(number),
                 utcTimeText(version.became) + " to " + utcTimeText(version.ended) + ", " + size + " bytes" +
                     (version.deleted ? ", deleted then" : ""));
  }
  std::vector<CachedFile> siblings;
  bool current = false;
  if (platform::Status listed = service.listFolder(parentOf(logical), siblings); listed) {
    for (const CachedFile& file : siblings) {
      if (file.path != logical) continue;
      current = true;
      std::string size = sizeText(file.originSize, file.size);
      std::printf("%-4zu  %-19s  %-19s  %12s\n", ++number, utcTimeText(file.updated).c_str(), "(current)",
                  size.c_str());
      report.entry("versions", std::to_string(number),
                   utcTimeText(file.updated) + " to now (current), " + size + " bytes");
    }
  }
  report.figure("versionCount", static_cast<int64_t>(number));
  std::fflush(stdout);
  if (number == 0) return fail(kExitIncomplete, "the cache holds no version of " + logical);
  if (!current) std::printf("(%s is deleted; restore a version with --at NUMBER)\n", logical.c_str());
  return kExitOk;
}

}  // namespace agent
