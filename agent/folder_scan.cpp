#include "agent/folder_scan.h"

#include <algorithm>

#include "agent/exclude_rules.h"
#include "bindings/zrcore/string_utils.h"
#include "platform/env.h"
#include "platform/interrupt.h"
#include "platform/path.h"

namespace agent {
namespace {

using platform::DirectoryEntry;

struct Pending {
  std::string host;
  std::string logical;
  std::string relative;  // below the watched folder, "/" between parts
};

// One watched folder's walk.
class FolderWalk {
 public:
  FolderWalk(platform::Env& env, const WatchedFolder& watch, const std::vector<std::string>& roots, ScanSink& sink,
             ScanResult& result)
      : env_(env), rules_(watch.excludes), roots_(roots), sink_(sink), result_(result) {
    stack_.push_back({watch.hostPath, watch.logicalPath, watch.below});
    sink_.folder(watch.logicalPath);
    ++result_.folders;
  }

  void run() {
    std::vector<DirectoryEntry> entries;
    while (!stack_.empty() && !platform::interruptionRequested()) {
      Pending current = std::move(stack_.back());
      stack_.pop_back();
      if (platform::Status listed = env_.scanDirectory(current.host, &entries); !listed) {
        skip(current.host, listed.message());
        result_.unreadable.push_back(current.logical);
        continue;
      }
      std::sort(entries.begin(), entries.end(),
                [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
      size_t firstChild = stack_.size();
      for (DirectoryEntry& entry : entries) visit(current, entry);
      // Folders are walked in name order: the stack takes them reversed.
      std::reverse(stack_.begin() + static_cast<std::ptrdiff_t>(firstChild), stack_.end());
    }
  }

 private:
  void visit(const Pending& parent, DirectoryEntry& entry) {
    std::string host = platform::joinPath(parent.host, entry.name);
    if (!representable(entry.name)) {
      skip(host, "the name is not UTF-8 text a snapshot can carry");
      result_.problems.back().badName = true;
      return;
    }
    std::string relative = parent.relative.empty() ? entry.name : parent.relative + "/" + entry.name;
    if (!rules_.empty() && rules_.excludes(relative, entry.name)) {
      ++result_.excluded;
      return;
    }
    std::string logical = parent.logical + "\\" + entry.name;
    switch (entry.kind) {
      case DirectoryEntry::Kind::Directory:
        sink_.folder(logical);
        ++result_.folders;
        stack_.push_back({std::move(host), std::move(logical), std::move(relative)});
        return;
      case DirectoryEntry::Kind::File: return addFile(host, logical, entry.info);
      case DirectoryEntry::Kind::Link: return followLink(host, logical);
      case DirectoryEntry::Kind::Other:
        return skipByRule(host, "a pipe, device or socket", "not a regular file (a pipe, device or socket)");
    }
  }

  static bool representable(const std::string& name) {
    // A backslash would be read back as a folder separator (Windows names have none).
    if (name.find('\\') != std::string::npos) return false;
    return ZR::CStringUtils::isXmlText(name);
  }

  void addFile(const std::string& host, const std::string& logical, const platform::FileInfo& info) {
    if (!info.mayRead && !env_.canRead(host)) {
      skip(host, "cannot be read (permission denied)");
      result_.unreadable.push_back(logical);
      return;
    }
    sink_.file(logical, info.size, info.modifiedUnixSeconds);
    ++result_.files;
    result_.bytes += info.size;
  }

  // A link is never followed; what the cache holds at its place stays.
  void followLink(const std::string& host, const std::string& logical) {
    std::string target = env_.resolvedPath(host);
    platform::FileInfo info;
    if (target.empty() || !env_.getFileInfo(host, &info)) {
      return skipByRule(host, "a dangling link", "a link that leads nowhere (or into a loop)");
    }
    result_.unreadable.push_back(logical);
    if (info.isDirectory) {
      return skipByRule(host, "a link to a folder",
                        "now a link to a folder (" + target + "); not followed, what the cache holds below it is kept");
    }
    bool inside = std::any_of(roots_.begin(), roots_.end(),
                              [&](const std::string& root) { return platform::isBelow(target, root); });
    if (inside) return skipByRule(host, "a link to a file", "a link; not followed, the file it leads to is backed up where it lies");
    skipByRule(host, "a link out of the watched folders", "a link out of the watched folders (to " + target + "); not followed");
  }

  void skipByRule(const std::string& host, const std::string& rule, const std::string& reason) {
    result_.problems.push_back({host, reason, false, rule});
  }

  // A file or folder of the backup that could not be taken: a problem.
  void skip(const std::string& host, const std::string& reason) {
    result_.problems.push_back({host, reason, true, ""});
  }

  platform::Env& env_;
  ExcludeRules rules_;
  const std::vector<std::string>& roots_;
  ScanSink& sink_;
  ScanResult& result_;
  std::vector<Pending> stack_;
};

}  // namespace

std::vector<std::pair<std::string, uint64_t>> ScanResult::skipsByRule() const {
  std::vector<std::pair<std::string, uint64_t>> counts;
  for (const ScanProblem& problem : problems) {
    if (problem.rule.empty()) continue;
    auto found = std::find_if(counts.begin(), counts.end(), [&](const auto& c) { return c.first == problem.rule; });
    if (found == counts.end()) {
      counts.emplace_back(problem.rule, 1);
    } else {
      ++found->second;
    }
  }
  return counts;
}

platform::Status scanFolders(platform::Env& env, const std::vector<WatchedFolder>& watches, ScanSink& sink,
                             ScanResult& result) {
  if (watches.empty()) return platform::Status::invalid("no folder is watched: add a <watch path=\"...\"/> to <agent>");
  std::vector<std::string> roots;
  for (const WatchedFolder& watch : watches) {
    platform::FileInfo info;
    if (!env.getFileInfo(watch.hostPath, &info)) {
      return platform::Status::notFound("the watched folder " + watch.hostPath + " does not exist");
    }
    if (!info.isDirectory) return platform::Status::invalid("the watched folder " + watch.hostPath + " is not a folder");
    roots.push_back(env.resolvedPath(watch.hostPath));
  }
  for (const WatchedFolder& watch : watches) {
    if (platform::interruptionRequested()) return platform::Status::refused("the scan was interrupted");
    uint64_t before = result.files;
    FolderWalk(env, watch, roots, sink, result).run();
    result.filesPerWatch.emplace_back(watch.logicalPath, result.files - before);
  }
  // A walk cut short is no listing: written, it would have files deleted.
  if (platform::interruptionRequested()) return platform::Status::refused("the scan was interrupted");
  return platform::Status::ok();
}

DirContentWriter::DirContentWriter(platform::Env& env, const std::string& path)
    : out_(env, path, dornik::kDirContentKind) {}

void DirContentWriter::folder(std::string_view logicalPath) { out_.directory(logicalPath); }

void DirContentWriter::file(std::string_view logicalPath, uint64_t size, int64_t modifiedSeconds) {
  std::string sizeText = std::to_string(size), modifiedText = std::to_string(modifiedSeconds);
  out_.file(logicalPath, {sizeText, modifiedText, {}, {}});
}

}  // namespace agent
