// The status files of the local status page: the file being uploaded, the
// policy targets still waiting, and the files uploaded today (UTC). Each is
// rewritten whole (a temporary file, then a rename) with a reference to the
// page's stylesheet, so the page never reads half a file. A status file
// that cannot be read or written never stops an upload. Diagnostics go to
// standard output.
//
// The waiting and uploaded-today lists grow with the run; so that a run of
// many files does not rewrite (and print) them in full for every file, an
// instance keeps them in memory once read and, with a write interval,
// rewrites them at most that often, which is as often as a person can read
// them; flush() writes what is pending. Other programs of the installation
// write the same files: before a list kept in memory is used or written,
// its file is looked at (size, time, identity), and when another writer
// changed it, it is read again and this instance's changes not yet written
// are made to it anew, so another writer's entries are never lost. The
// file being uploaded is named at once for an upload that takes a while
// (and otherwise when the interval allows), and never names a file whose
// upload has ended. Safe from several threads (the run's upload sessions).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/env.h"

namespace ZR {
class CLogger;
class CXmlElement;
}  // namespace ZR

namespace velkan {

constexpr const char* kStatusStylesheet = "../www/status_transform.xsl";
// The status files' folder, below the working folder.
constexpr const char* kStatusFolder = "status";

class StatusFiles {
 public:
  // `folder` holds the files ("status" below the working folder by default);
  // it is not created here. With writeIntervalMs 0 every change is written
  // at once.
  // A file that cannot be written, or that exists but cannot be read, is
  // said in `log` (when given), naming the file and why.
  // Changes made by other writers are noticed through `env`.
  explicit StatusFiles(platform::Env& env, std::string folder = kStatusFolder, uint32_t writeIntervalMs = 0,
                       ZR::CLogger* log = nullptr)
      : env_(env), folder_(std::move(folder)), writeIntervalMs_(writeIntervalMs), log_(log) {}

  // The file system the status files are written to.
  platform::Env& env() const { return env_; }
  ~StatusFiles() { flush(); }
  StatusFiles(const StatusFiles&) = delete;
  StatusFiles& operator=(const StatusFiles&) = delete;

  // `lasting`: the upload is large enough to be seen on the page; it is
  // named at once.
  void setUploading(const std::string& path, bool lasting = true);
  void clearUploading();
  void removeWaiting(const std::string& path);
  void replaceWaiting(const std::string& policy, const std::vector<std::string>& targets);
  // Also notes the size of the file and the time of day (UTC) as
  // attributes of its entry, for the page; readers go by the path.
  void addUploadedToday(const std::string& path);
  // The same with the size of the version that was sent.
  void addUploadedToday(const std::string& path, uint64_t size);
  // Writes the lists that have changes not yet written.
  void flush();

  std::string uploadingFile() const { return folder_ + "/cs_uploading.xml"; }
  std::string waitingFile() const { return folder_ + "/cs_waiting.xml"; }
  std::string uploadedTodayFile() const { return folder_ + "/cs_uploadedtoday.xml"; }

  // Path normalisation of kept entries: "/" becomes "\", one trailing "\" goes.
  static std::string normalise(std::string path);

 private:
  struct Waiting {
    std::string path;
    std::string policy;
  };
  struct Uploaded {
    std::string path, size, time;
  };
  // The entries of the waiting file, or false when it cannot be loaded.
  // `drop` decides which stored entries leave (with its own message).
  template <typename Drop>
  bool readWaiting(std::vector<Waiting>& kept, Drop drop);
  void writeUploading();
  void writeWaiting();
  // True (and the file's version in `seen`) when the file is not as this
  // instance last wrote or read it.
  bool changedOnDisk(const std::string& file, std::optional<platform::FileInfo>& seen) const;
  void noteVersion(const std::string& file, std::optional<platform::FileInfo>& seen) const;
  // Reads a list again after another writer changed its file, and makes
  // this instance's changes not yet written to it anew.
  void reloadWaiting();
  void reloadUploadedToday();
  void loadUploadedToday(const std::string& today);
  void writeUploadedToday();
  void addUploaded(const std::string& path, const std::string& size);
  bool due(uint64_t lastWrite, uint64_t lastCostMs) const;

  void writeText(const std::string& file, const std::string& text);
  std::unique_ptr<ZR::CXmlElement> read(const std::string& file);

  void flushLocked();

  std::mutex mutex_;
  platform::Env& env_;
  std::string folder_;
  uint32_t writeIntervalMs_;
  ZR::CLogger* log_;
  std::optional<std::string> uploading_;   // what the file is to name
  std::optional<std::string> uploadingOnDisk_;  // what it names
  bool uploadingKnown_ = false;          // whether uploadingOnDisk_ is known
  uint64_t uploadingWritten_ = 0;
  std::optional<std::vector<Waiting>> waiting_;
  bool waitingAbsent_ = false;  // with a write interval: the file was not there
  bool waitingDirty_ = false;
  uint64_t waitingWritten_ = 0;
  uint64_t waitingCostMs_ = 0;
  std::optional<platform::FileInfo> waitingSeen_;
  std::vector<std::string> removedSinceWrite_;
  std::optional<std::vector<Uploaded>> today_;
  std::string todayEntriesXml_;  // the first `todayEntriesFormatted_` entries, as written
  size_t todayEntriesFormatted_ = 0;
  std::string todayDate_;
  bool todayDirty_ = false;
  uint64_t todayWritten_ = 0;
  uint64_t todayCostMs_ = 0;
  std::optional<platform::FileInfo> todaySeen_;
  std::vector<Uploaded> addedSinceWrite_;
};

}  // namespace velkan
