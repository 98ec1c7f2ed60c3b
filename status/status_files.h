// The status files of the local status page: the file being uploaded, the
// policy targets still waiting, and the files uploaded today (UTC). Each is
// rewritten whole (a temporary file, then a rename) with a reference to the
// page's stylesheet, so the page never reads half a file. A status file
// that cannot be read or written never stops an upload. Diagnostics go to
// standard output.
#pragma once

#include <string>
#include <vector>

namespace velkan {

constexpr const char* kStatusStylesheet = "../www/status_transform.xsl";

class StatusFiles {
 public:
  // `folder` holds the files ("status" below the working folder by default);
  // it is not created here.
  explicit StatusFiles(std::string folder = "status") : folder_(std::move(folder)) {}

  void setUploading(const std::string& path);
  void clearUploading();
  void removeWaiting(const std::string& path);
  void replaceWaiting(const std::string& policy, const std::vector<std::string>& targets);
  // Also notes the size of the file and the time of day (UTC) as
  // attributes of its entry, for the page; readers go by the path.
  void addUploadedToday(const std::string& path);

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
  // The entries of the waiting file, or false when it cannot be loaded.
  // `drop` decides which stored entries leave (with its own message).
  template <typename Drop>
  bool readWaiting(std::vector<Waiting>& kept, Drop drop);
  void writeWaiting(const std::vector<Waiting>& entries);

  std::string folder_;
};

}  // namespace velkan
