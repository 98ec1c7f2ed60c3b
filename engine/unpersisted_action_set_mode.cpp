// The unpersisted-action-set mode: a delete-only action set for the
// folders and files that left the directory listing.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "bindings/zrcore/log.h"
#include "bindings/zrcore/xml_reader.h"
#include "actionset/action_set_file.h"
#include "engine/dornik.h"
#include "engine/exit_codes.h"
#include "engine/prefix_search.h"

namespace dornik {
namespace {

using Paths = std::vector<std::string>;

void makeSortedUnique(Paths& paths) {
  std::sort(paths.begin(), paths.end());
  paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
}

// The `path` values of the root's `directory` and `file` children, as
// written; children without a path, or with an empty one, are skipped.
class ListingHandler : public ZR::CXmlHandler {
 public:
  ListingHandler(Paths& dirs, Paths& files) : dirs_(dirs), files_(files) {}
  void startElement(const char* name, const ZR::CXmlAttributes& attributes) override {
    if (++depth_ != 2) return;
    const char* path = attributes.find("path");
    if (!path || *path == '\0') return;
    if (std::strcmp(name, "directory") == 0) dirs_.emplace_back(path);
    if (std::strcmp(name, "file") == 0) files_.emplace_back(path);
  }
  void endElement(const char*) override { --depth_; }
  void characters(const char*, size_t) override {}

 private:
  Paths& dirs_;
  Paths& files_;
  int depth_ = 0;
};

bool readListing(platform::Env& env, const std::string& path, Paths& dirs, Paths& files, std::string& error) {
  ListingHandler handler(dirs, files);
  if (!ZR::CXmlReader::parseFile(env, path, handler, error)) return false;
  makeSortedUnique(dirs);
  makeSortedUnique(files);
  return true;
}

Paths minus(const Paths& a, const Paths& b) {
  Paths out;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

std::vector<std::string_view> viewsOf(const Paths& paths) { return {paths.begin(), paths.end()}; }

struct Listing {
  Paths dirs;
  Paths files;
};

}  // namespace

int runUnpersistedActionSetMode(platform::Env& env, const Settings& settings, ZR::CLogger& log) {
  Listing current, previous;
  std::string error;
  if (!readListing(env, settings.currdircontent, current.dirs, current.files, error)) {
    log.error(" Error reading currentdir content at  %s", settings.currdircontent.c_str());
    log.error("%s", error.c_str());
    return kExitInputUnreadable;
  }
  if (!readListing(env, settings.prevdircontent, previous.dirs, previous.files, error)) {
    log.error(" Error reading prev dir content at  %s", settings.prevdircontent.c_str());
    log.error("%s", error.c_str());
    return kExitInputUnreadable;
  }

  std::vector<std::string_view> currentFileViews = viewsOf(current.files);
  SortedTexts currentFiles(currentFileViews);
  Paths goneDirs;
  for (std::string& dir : minus(previous.dirs, current.dirs)) {
    if (!currentFiles.anyCoveredBy(dir)) goneDirs.push_back(std::move(dir));
  }
  CoveringPrefixes goneDirPrefixes(viewsOf(goneDirs));
  Paths goneFiles;
  for (std::string& file : minus(previous.files, current.files)) {
    if (!goneDirPrefixes.coverAny(file)) goneFiles.push_back(std::move(file));
  }
  log.info("unpersisted action set: %zu directories and %zu files to delete", goneDirs.size(), goneFiles.size());

  ActionSetWriter writer(env, settings.unpersistedactionset);
  writer.beginAction("delete");
  for (const std::string& dir : goneDirs) writer.addPath("directory", dir);
  for (const std::string& file : goneFiles) writer.addPath("file", file);
  writer.endAction();
  if (!writer.commit()) {
    log.info("Error writing unperisted actionset.xml to path:%s\n ", settings.unpersistedactionset.c_str());
    log.error("%s", writer.error().c_str());
    return kExitWriteFailed;
  }
  return kExitOk;
}

}  // namespace dornik
