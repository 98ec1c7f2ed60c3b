// The progress of one velkan run, for the status page and cacheagent: the
// run's state, the deletions and files to do and done, bytes sent, the
// file being sent and the last failures with their files. It is kept in
// memory and written as one small XML file beside the status files
// (cs_progress.xml), whole (temporary file, then rename), at most twice a
// second while the run goes on and once more when it ends:
//
//   <progress state="running|finished|failed|interrupted" exitCode="0"
//             started="UNIX" updated="UNIX" elapsedMs="N">
//     <deletions toDo="N" done="N"/>
//     <files toDo="N" done="N" uploaded="N" failed="N" bytesToDo="N"
//            bytesDone="N" bytesUploaded="N" bytesStored="N" bytesSent="N" rate="BYTES/S"
//            vanished="N" retried="N" privateCopies="N" picturesReencoded="N"/>
//     <current path="c:\..." size="N" sent="N"/>        (while a file is sent; of
//                                                        several, the largest)
//     <call operation="createFile" since="UNIX_MS"/>    (while the service is asked)
//     <error n="N" path="c:\..." reason="..."/> ...    (the last 20 while running,
//                                                        all once ended; N counts from 1)
//   </progress>
//
// bytesToDo and bytesDone count the origin files; bytesUploaded the
// origins of the files stored, bytesStored what was stored of them (after
// preparation); bytesSent every attachment byte sent, failed ones too.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/env.h"

namespace ZR {
class CLogger;
}

namespace velkan {

constexpr const char* kProgressFileName = "cs_progress.xml";

// What the file holds.
struct ProgressReport {
  std::string state = "running";  // running, finished, failed, interrupted
  int exitCode = 0;               // when not running
  uint64_t startedUnix = 0;
  uint64_t elapsedMs = 0;
  uint64_t deletionsToDo = 0, deletionsDone = 0;
  uint64_t filesToDo = 0, filesDone = 0, filesUploaded = 0, filesFailed = 0;
  uint64_t bytesToDo = 0, bytesDone = 0, bytesUploaded = 0, bytesStored = 0, bytesSent = 0, rate = 0;
  // Files gone before they were sent (no service call was made for them),
  // files read again because they changed while they were read, and files
  // sent from a private copy taken while they held still.
  uint64_t vanished = 0, retried = 0, privateCopies = 0;
  uint64_t picturesReencoded = 0;  // stored scaled or re-encoded
  std::string currentPath;  // empty: no file is being sent
  uint64_t currentSize = 0, currentSent = 0;
  std::vector<std::pair<std::string, std::string>> errors;  // path, reason; oldest first
  uint64_t errorsBefore = 0;  // failures of the run before the first listed one
  // The service call under way and since when (Unix milliseconds); empty
  // when none is.
  std::string callOperation;
  uint64_t callSinceMs = 0;
};

// False when the file is missing or not a progress document.
bool readProgress(platform::Env& env, const std::string& file, ProgressReport& report);

// Keeps a run's report and writes it. Thread-safe.
class RunProgress {
 public:
  enum class State { Running, Finished, Failed, Interrupted };

  // `folder` holds the file; empty: nothing is written. With
  // `writeIntervalMs` 0 every change is written at once. A write that
  // fails is said in `log` (when given), once until one succeeds again.
  RunProgress(platform::Env& env, std::string folder, uint32_t writeIntervalMs = 500, ZR::CLogger* log = nullptr);
  RunProgress(const RunProgress&) = delete;
  RunProgress& operator=(const RunProgress&) = delete;

  void planDeletions(uint64_t count);
  void deletionDone();
  // Adds files (and their origin bytes) to what the run is to upload.
  void planFiles(uint64_t count, uint64_t bytes);
  void uploadStarted(const std::string& path, uint64_t sentSize);
  void bytesSent(uint64_t count);
  // `failure` empty: stored. Otherwise why not (it becomes an error entry).
  void uploadEnded(const std::string& path, uint64_t originSize, uint64_t sentSize, const std::string& failure);
  // A failure that is not an upload of its own (a file skipped before it
  // was queued).
  void failure(const std::string& path, const std::string& reason);
  // A file of the run that no longer exists: nothing was sent for it. One
  // that was planned (planFiles, with `plannedBytes`) leaves the plan.
  void vanished(bool planned, uint64_t plannedBytes);
  // A file read again because it changed while it was read; one sent from
  // a private copy because it never held still.
  void retried();
  void privateCopy();
  void pictureReencoded();
  // The service call under way ("" when it was answered).
  void serviceCall(const std::string& operation);
  // Writes what changed since the last write, when the interval allows: a
  // run that waits (for the service, say) still has it told.
  void flush();
  // The run's end; written at once.
  void finish(State state, int exitCode);

  std::string file() const;
  // One line of what the run did, for the log.
  std::string summary();
  // The document as it would be written now.
  std::string render();

 private:
  void addFailure(const std::string& path, const std::string& reason);
  // Writes when the interval has passed (or `force`). REQUIRES: mutex_ held.
  void writeIfDue(bool force);
  std::string renderLocked();

  std::mutex mutex_;
  // The uploads under way, by the thread that sends each (several upload
  // sessions send at once; the bytes a thread sends are its upload's).
  struct Sending {
    std::string path;
    uint64_t size = 0, sent = 0;
  };
  std::map<std::thread::id, Sending> sending_;
  // The report's current file: the largest upload under way.
  void pickCurrent();

  platform::Env& env_;
  std::string folder_;
  uint32_t writeIntervalMs_;
  uint64_t startedMs_;
  uint64_t lastWriteMs_ = 0;
  bool written_ = false;
  bool dirty_ = false;  // a change not yet written
  ZR::CLogger* log_;
  bool failing_ = false;
  uint64_t firstSendMs_ = 0;
  ProgressReport report_;
};

}  // namespace velkan
