#include "status/status_files.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "bindings/zrcore/xml_builder.h"
#include "bindings/zrcore/xml_reader.h"
#include "bindings/zrcore/xml_writer.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/path.h"

namespace velkan {
namespace {

// Listings longer than this are summed up in one line, so that a run of
// many files does not print its whole list for every file.
constexpr size_t kListedEntries = 50;

// A list is written as it goes, not built as a tree first: it can hold
// every upload of a day.
void startList(ZR::CXmlWriter& xml, const char* name) {
  xml.declaration();
  xml.stylesheet(kStatusStylesheet);
  xml.startElement(name);
}

void addFile(ZR::CXmlWriter& xml, const std::string& path, const std::string* policy, const std::string* size = nullptr,
             const std::string* time = nullptr) {
  xml.startElement("file");
  if (size && !size->empty()) xml.attribute("size", *size);
  if (time && !time->empty()) xml.attribute("time", *time);
  xml.startElement("path");
  xml.text(path);
  xml.endElement();
  if (policy) {
    xml.startElement("policy");
    xml.text(*policy);
    xml.endElement();
  }
  xml.endElement();
}

}  // namespace

// Writes the whole file; a failure only costs the page an update, and is said.
void StatusFiles::writeText(const std::string& file, const std::string& text) {
  std::string error;
  if (!ZR::CFileUtils::writeFileAtomically(env_, file, text, error, false, ZR::LinkAtTarget::Refuse) && log_) {
    log_->warning("%s", ("status file " + file + " not updated: " + error).c_str());
  }
}

// A missing file is no news (the callers print their own line); one that is
// there but cannot be read is said.
std::unique_ptr<ZR::CXmlElement> StatusFiles::read(const std::string& file) {
  std::string error;
  std::unique_ptr<ZR::CXmlElement> document(ZR::CXmlBuilder::fileToDocument(env_, file, error));
  if (!document && log_ && ZR::CFileUtils::fileExists(env_, file)) {
    log_->warning("%s", ("status file " + file + " not read: " + error).c_str());
  }
  return document;
}

std::string StatusFiles::normalise(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

// A list that takes long to write (it grows with the run) is written less
// often: at most a twentieth of the time goes into rewriting it, so a run
// of a million files does not spend its time on its status page.
bool StatusFiles::due(uint64_t lastWrite, uint64_t lastCostMs) const {
  return writeIntervalMs_ == 0 ||
         platform::tickCountMs() - lastWrite >= std::max<uint64_t>(writeIntervalMs_, 20 * lastCostMs);
}

void StatusFiles::flush() {
  std::lock_guard<std::mutex> lock(mutex_);
  flushLocked();
}

void StatusFiles::flushLocked() {
  if (uploadingKnown_ ? uploading_ != uploadingOnDisk_ : uploading_.has_value()) writeUploading();
  if (waitingDirty_) writeWaiting();
  if (todayDirty_) writeUploadedToday();
}

bool StatusFiles::changedOnDisk(const std::string& file, std::optional<platform::FileInfo>& seen) const {
  platform::FileInfo now;
  bool there = env_.getFileInfo(platform::hostPath(file), &now);
  if (!seen) return there;
  return !there || !now.sameVersion(*seen);
}

void StatusFiles::noteVersion(const std::string& file, std::optional<platform::FileInfo>& seen) const {
  platform::FileInfo now;
  if (env_.getFileInfo(platform::hostPath(file), &now)) {
    seen = now;
  } else {
    seen.reset();
  }
}

void StatusFiles::writeUploading() {
  std::string text;
  ZR::CXmlWriter xml(text, false);
  startList(xml, "cs_uploading");
  if (uploading_) addFile(xml, *uploading_, nullptr);
  xml.finish();
  writeText(uploadingFile(), text);
  uploadingOnDisk_ = uploading_;
  uploadingKnown_ = true;
  uploadingWritten_ = platform::tickCountMs();
}

void StatusFiles::setUploading(const std::string& path, bool lasting) {
  std::lock_guard<std::mutex> lock(mutex_);
  uploading_ = path;
  if (lasting || due(uploadingWritten_, 0)) writeUploading();
}

// At once, whenever the file names a file: it never names one whose
// upload has ended.
void StatusFiles::clearUploading() {
  std::lock_guard<std::mutex> lock(mutex_);
  uploading_.reset();
  if (!uploadingKnown_ || uploadingOnDisk_) writeUploading();
}

template <typename Drop>
bool StatusFiles::readWaiting(std::vector<Waiting>& kept, Drop drop) {
  auto document = read(waitingFile());
  if (!document) {
    std::printf("no waitng policies.");
    return false;
  }
  for (size_t i = 0; i < document->getChildCount(); ++i) {
    const ZR::CXmlElement* entry = document->getChild(i);
    if (entry->getChildCount() == 0) continue;
    Waiting w;
    std::string message;
    if (!entry->getValue("/file/path", w.path, message)) {
      std::printf("unable to find path value in cs_waiting.xml : %s", message.c_str());
      continue;
    }
    if (!entry->getValue("/file/policy", w.policy, message)) {
      std::printf("unable to find policy value in cs_waiting.xml : %s", message.c_str());
      continue;
    }
    if (drop(w)) continue;
    w.path = normalise(w.path);
    kept.push_back(w);
  }
  return true;
}

void StatusFiles::writeWaiting() {
  if (writeIntervalMs_ > 0 && changedOnDisk(waitingFile(), waitingSeen_)) reloadWaiting();
  if (!waiting_) return;
  uint64_t started = platform::tickCountMs();
  std::string text;
  ZR::CXmlWriter xml(text, false);
  startList(xml, "cs_waiting");
  xml.attribute("origin", "velkan");
  const std::vector<Waiting>& entries = *waiting_;
  for (const Waiting& w : entries) {
    addFile(xml, w.path, &w.policy);
    if (entries.size() <= kListedEntries) {
      std::printf("listWaiting : path=%s, policy=%s\n", w.path.c_str(), w.policy.c_str());
    }
  }
  if (entries.size() > kListedEntries) std::printf("listWaiting : %zu entries\n", entries.size());
  xml.finish();
  writeText(waitingFile(), text);
  noteVersion(waitingFile(), waitingSeen_);
  removedSinceWrite_.clear();
  waitingDirty_ = false;
  waitingCostMs_ = platform::tickCountMs() - started;
  waitingWritten_ = platform::tickCountMs();
}

void StatusFiles::reloadWaiting() {
  std::vector<Waiting> kept;
  auto drop = [&](const Waiting& w) {
    return std::find(removedSinceWrite_.begin(), removedSinceWrite_.end(), w.path) != removedSinceWrite_.end();
  };
  if (!readWaiting(kept, drop)) {
    waiting_.reset();  // gone: nothing to rewrite
    waitingAbsent_ = true;
    return;
  }
  noteVersion(waitingFile(), waitingSeen_);
  waiting_ = std::move(kept);
  waitingAbsent_ = false;
}

void StatusFiles::removeWaiting(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto drop = [&](const Waiting& w) {
    if (w.path != path) return false;
    std::printf("ignore this target %s.\n", w.path.c_str());
    return true;
  };
  if (waitingAbsent_ && !changedOnDisk(waitingFile(), waitingSeen_)) return;  // there is none
  if (!waiting_ || writeIntervalMs_ == 0 || changedOnDisk(waitingFile(), waitingSeen_)) {
    std::vector<Waiting> kept;
    if (!readWaiting(kept, drop)) {
      waitingAbsent_ = writeIntervalMs_ > 0;
      noteVersion(waitingFile(), waitingSeen_);
      return;
    }
    noteVersion(waitingFile(), waitingSeen_);
    waitingAbsent_ = false;
    // What this instance removed and has not written yet stays removed.
    kept.erase(std::remove_if(kept.begin(), kept.end(),
                              [&](const Waiting& w) {
                                return std::find(removedSinceWrite_.begin(), removedSinceWrite_.end(), w.path) !=
                                       removedSinceWrite_.end();
                              }),
               kept.end());
    waiting_ = std::move(kept);
  } else {
    // The list in memory is what the file holds once rewritten.
    std::vector<Waiting>& entries = *waiting_;
    entries.erase(std::remove_if(entries.begin(), entries.end(), drop), entries.end());
  }
  removedSinceWrite_.push_back(path);
  waitingDirty_ = true;
  if (due(waitingWritten_, waitingCostMs_)) writeWaiting();
}

void StatusFiles::replaceWaiting(const std::string& policy, const std::vector<std::string>& targets) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Waiting> entries;
  for (const std::string& target : targets) entries.push_back(Waiting{target, policy});
  std::vector<Waiting> kept;
  bool loaded = readWaiting(kept, [&](const Waiting& w) {
    if (w.policy != policy) return false;
    std::printf("replace target %s of policy %s.\n", w.path.c_str(), w.policy.c_str());
    return true;
  });
  if (!loaded) return;
  waitingAbsent_ = false;
  noteVersion(waitingFile(), waitingSeen_);
  entries.insert(entries.end(), kept.begin(), kept.end());
  waiting_ = std::move(entries);
  writeWaiting();
}

namespace {

// Reads the uploaded-today list as it streams by: it holds every upload of
// the day, a hundred thousand after a first backup, and a tree of it would
// cost more than the run it reports.
class UploadedTodayReader : public ZR::CXmlHandler {
 public:
  struct Entry {
    std::string path, size, time;
    bool hasPath = false;
  };
  std::optional<std::string> date;
  std::vector<Entry> entries;

  void startElement(const char* name, const ZR::CXmlAttributes& attributes) override {
    ++depth_;
    if (depth_ == 1) {
      if (const char* value = attributes.find("date")) date = value;
    } else if (depth_ == 2) {
      entry_ = Entry{};
      inFile_ = std::string_view(name) == "file";
      if (const char* size = attributes.find("size")) entry_.size = size;
      if (const char* time = attributes.find("time")) entry_.time = time;
      children_ = 0;
    } else if (depth_ == 3) {
      ++children_;
      inPath_ = inFile_ && !entry_.hasPath && std::string_view(name) == "path";
    }
  }
  void characters(const char* data, size_t length) override {
    if (inPath_ && depth_ == 3) entry_.path.append(data, length);
  }
  void endElement(const char*) override {
    if (depth_ == 3 && inPath_) {
      inPath_ = false;
      entry_.hasPath = true;
    } else if (depth_ == 2 && children_ > 0) {
      entries.push_back(std::move(entry_));
    }
    --depth_;
  }

 private:
  int depth_ = 0;
  bool inFile_ = false;
  bool inPath_ = false;
  size_t children_ = 0;
  Entry entry_;
};

}  // namespace

void StatusFiles::loadUploadedToday(const std::string& today) {
  today_.emplace();
  todayEntriesXml_.clear();
  todayEntriesFormatted_ = 0;
  todayDate_ = today;
  noteVersion(uploadedTodayFile(), todaySeen_);
  UploadedTodayReader reader;
  std::string error;
  if (!ZR::CXmlReader::parseFile(env_, uploadedTodayFile(), reader, error)) {
    if (log_ && ZR::CFileUtils::fileExists(env_, uploadedTodayFile())) {
      log_->warning("%s", ("status file " + uploadedTodayFile() + " not read: " + error).c_str());
    }
    std::printf("no file uploaded today.");
    return;
  }
  std::printf("date = %s\n", reader.date ? reader.date->c_str() : "");
  if (!reader.date || *reader.date != today) return;
  for (UploadedTodayReader::Entry& entry : reader.entries) {
    if (!entry.hasPath) {
      std::printf("unable to find path value in uploadedtoday.xml : an entry without its path");
      continue;
    }
    today_->push_back(Uploaded{normalise(std::move(entry.path)), std::move(entry.size), std::move(entry.time)});
  }
}

void StatusFiles::reloadUploadedToday() {
  loadUploadedToday(todayDate_);
  today_->insert(today_->end(), addedSinceWrite_.begin(), addedSinceWrite_.end());
}

void StatusFiles::writeUploadedToday() {
  if (writeIntervalMs_ > 0 && changedOnDisk(uploadedTodayFile(), todaySeen_)) reloadUploadedToday();
  uint64_t started = platform::tickCountMs();
  std::string text;
  ZR::CXmlWriter xml(text, false);
  startList(xml, "cs_uploadedtoday");
  xml.attribute("date", todayDate_);
  const std::vector<Uploaded>& entries = *today_;
  // The list only grows until it is read again: each entry is formatted
  // once, not at every rewrite of a list that a long run makes large.
  ZR::CXmlWriter formatted(todayEntriesXml_, false);
  for (size_t i = todayEntriesFormatted_; i < entries.size(); ++i) {
    addFile(formatted, entries[i].path, nullptr, &entries[i].size, &entries[i].time);
  }
  todayEntriesFormatted_ = entries.size();
  xml.children(todayEntriesXml_);
  if (entries.size() <= kListedEntries) {
    for (const Uploaded& u : entries) std::printf("vectorUploaded : %s\n", u.path.c_str());
  }
  if (entries.size() > kListedEntries) {
    std::printf("vectorUploaded : %zu files, last %s\n", entries.size(), entries.back().path.c_str());
  }
  xml.finish();
  writeText(uploadedTodayFile(), text);
  noteVersion(uploadedTodayFile(), todaySeen_);
  addedSinceWrite_.clear();
  todayDirty_ = false;
  todayCostMs_ = platform::tickCountMs() - started;
  todayWritten_ = platform::tickCountMs();
}

void StatusFiles::addUploadedToday(const std::string& path) {
  platform::FileInfo info;
  bool known = env_.getFileInfo(platform::hostPath(path), &info);
  addUploaded(path, known ? std::to_string(info.size) : "");
}

void StatusFiles::addUploadedToday(const std::string& path, uint64_t size) { addUploaded(path, std::to_string(size)); }

void StatusFiles::addUploaded(const std::string& path, const std::string& size) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string now;
  ZR::CTimeUtils::getUTCTime(now);
  std::string today = now.substr(0, 8);
  if (!today_ || todayDate_ != today || writeIntervalMs_ == 0) {
    addedSinceWrite_.clear();
    loadUploadedToday(today);
  } else if (changedOnDisk(uploadedTodayFile(), todaySeen_)) {
    reloadUploadedToday();
  }
  Uploaded entry{path, size, now.substr(8, 2) + ":" + now.substr(10, 2) + ":" + now.substr(12, 2)};
  today_->push_back(entry);
  addedSinceWrite_.push_back(entry);
  todayDirty_ = true;
  if (due(todayWritten_, todayCostMs_)) writeUploadedToday();
}

}  // namespace velkan
