#include "status/run_progress.h"

#include <algorithm>
#include <memory>

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "bindings/zrcore/xml_builder.h"
#include "bindings/zrcore/xml_writer.h"
#include "platform/clock.h"

namespace velkan {
namespace {

constexpr size_t kKeptFailures = 20;

const char* stateName(RunProgress::State state) {
  switch (state) {
    case RunProgress::State::Running: return "running";
    case RunProgress::State::Finished: return "finished";
    case RunProgress::State::Failed: return "failed";
    case RunProgress::State::Interrupted: return "interrupted";
  }
  return "running";
}

// The counts of the <files> element, written and read by the same names.
struct Count {
  const char* name;
  uint64_t ProgressReport::*field;
};
constexpr Count kFileCounts[] = {
    {"toDo", &ProgressReport::filesToDo},         {"done", &ProgressReport::filesDone},
    {"uploaded", &ProgressReport::filesUploaded}, {"failed", &ProgressReport::filesFailed},
    {"bytesToDo", &ProgressReport::bytesToDo},    {"bytesDone", &ProgressReport::bytesDone},
    {"bytesUploaded", &ProgressReport::bytesUploaded}, {"bytesStored", &ProgressReport::bytesStored},
    {"bytesSent", &ProgressReport::bytesSent},    {"rate", &ProgressReport::rate},
    {"vanished", &ProgressReport::vanished},      {"retried", &ProgressReport::retried},
    {"privateCopies", &ProgressReport::privateCopies},
    {"picturesReencoded", &ProgressReport::picturesReencoded}};

uint64_t number(const ZR::CXmlElement* element, const char* name) {
  const ZR::CXmlAttribute* attribute = element ? element->getAttribute(name) : nullptr;
  int64_t value = attribute ? ZR::CNumberText::toInt64(attribute->value) : 0;
  return value > 0 ? static_cast<uint64_t>(value) : 0;
}

std::string text(const ZR::CXmlElement* element, const char* name) {
  const ZR::CXmlAttribute* attribute = element ? element->getAttribute(name) : nullptr;
  return attribute ? attribute->value : "";
}

}  // namespace

RunProgress::RunProgress(platform::Env& env, std::string folder, uint32_t writeIntervalMs, ZR::CLogger* log)
    : env_(env),
      folder_(std::move(folder)),
      writeIntervalMs_(writeIntervalMs),
      startedMs_(platform::tickCountMs()),
      log_(log) {
  report_.startedUnix = static_cast<uint64_t>(platform::unixTimeSeconds());
}

std::string RunProgress::file() const { return folder_.empty() ? "" : folder_ + "/" + kProgressFileName; }

void RunProgress::planDeletions(uint64_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  report_.deletionsToDo += count;
  writeIfDue(false);
}

void RunProgress::deletionDone() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++report_.deletionsDone;
  writeIfDue(false);
}

void RunProgress::planFiles(uint64_t count, uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  report_.filesToDo += count;
  report_.bytesToDo += bytes;
  writeIfDue(false);
}

void RunProgress::uploadStarted(const std::string& path, uint64_t sentSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  sending_[std::this_thread::get_id()] = Sending{path, sentSize, 0};
  pickCurrent();
  if (firstSendMs_ == 0) firstSendMs_ = platform::tickCountMs();
  writeIfDue(false);
}

void RunProgress::bytesSent(uint64_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  report_.bytesSent += count;
  auto found = sending_.find(std::this_thread::get_id());
  if (found != sending_.end()) found->second.sent += count;
  pickCurrent();
  writeIfDue(false);
}

void RunProgress::uploadEnded(const std::string& path, uint64_t originSize, uint64_t sentSize,
                              const std::string& failure) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++report_.filesDone;
  report_.bytesDone += originSize;
  if (failure.empty()) {
    ++report_.filesUploaded;
    report_.bytesUploaded += originSize;
    report_.bytesStored += sentSize;
  } else {
    ++report_.filesFailed;
    addFailure(path, failure);
  }
  sending_.erase(std::this_thread::get_id());
  pickCurrent();
  writeIfDue(false);
}

void RunProgress::failure(const std::string& path, const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  addFailure(path, reason);
  writeIfDue(false);
}

void RunProgress::vanished(bool planned, uint64_t plannedBytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++report_.vanished;
  if (planned && report_.filesToDo > 0) {
    --report_.filesToDo;
    report_.bytesToDo -= std::min(report_.bytesToDo, plannedBytes);
  }
  sending_.erase(std::this_thread::get_id());
  pickCurrent();
  writeIfDue(false);
}

void RunProgress::retried() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++report_.retried;
  writeIfDue(false);
}

void RunProgress::pictureReencoded() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++report_.picturesReencoded;
  writeIfDue(false);
}

void RunProgress::privateCopy() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++report_.privateCopies;
  writeIfDue(false);
}

void RunProgress::pickCurrent() {
  const Sending* largest = nullptr;
  for (const auto& [thread, upload] : sending_) {
    if (!largest || upload.size > largest->size) largest = &upload;
  }
  report_.currentPath = largest ? largest->path : "";
  report_.currentSize = largest ? largest->size : 0;
  report_.currentSent = largest ? largest->sent : 0;
}

void RunProgress::addFailure(const std::string& path, const std::string& reason) {
  report_.errors.emplace_back(path, reason);
}

void RunProgress::serviceCall(const std::string& operation) {
  std::lock_guard<std::mutex> lock(mutex_);
  report_.callOperation = operation;
  report_.callSinceMs = operation.empty() ? 0 : static_cast<uint64_t>(platform::unixTimeMs());
  writeIfDue(false);
}

void RunProgress::flush() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (dirty_) writeIfDue(false);
}

void RunProgress::finish(State state, int exitCode) {
  std::lock_guard<std::mutex> lock(mutex_);
  report_.state = stateName(state);
  report_.exitCode = exitCode;
  sending_.clear();
  pickCurrent();
  report_.callOperation.clear();
  writeIfDue(true);
}

std::string RunProgress::summary() {
  std::lock_guard<std::mutex> lock(mutex_);
  const ProgressReport& r = report_;
  return "uploaded " + std::to_string(r.filesUploaded) + " of " + std::to_string(r.filesToDo) + " files (" +
         std::to_string(r.bytesUploaded) + " bytes, " + std::to_string(r.bytesStored) + " after preparation), " +
         std::to_string(r.filesFailed) + " not uploaded, " + std::to_string(r.deletionsDone) + " of " +
         std::to_string(r.deletionsToDo) + " deletions";
}

std::string RunProgress::render() {
  std::lock_guard<std::mutex> lock(mutex_);
  return renderLocked();
}

std::string RunProgress::renderLocked() {
  uint64_t now = platform::tickCountMs();
  uint64_t sendingMs = firstSendMs_ == 0 ? 0 : now - firstSendMs_;
  report_.rate = sendingMs == 0 ? 0 : report_.bytesSent * 1000 / sendingMs;
  report_.elapsedMs = now - startedMs_;
  std::string out;
  ZR::CXmlWriter xml(out, true);
  xml.declaration();
  xml.startElement("progress");
  xml.attribute("state", report_.state);
  if (report_.state != "running") xml.attribute("exitCode", std::to_string(report_.exitCode));
  xml.attribute("started", std::to_string(report_.startedUnix));
  xml.attribute("updated", std::to_string(platform::unixTimeSeconds()));
  xml.attribute("elapsedMs", std::to_string(report_.elapsedMs));
  xml.startElement("deletions");
  xml.attribute("toDo", std::to_string(report_.deletionsToDo));
  xml.attribute("done", std::to_string(report_.deletionsDone));
  xml.endElement();
  xml.startElement("files");
  for (const Count& count : kFileCounts) xml.attribute(count.name, std::to_string(report_.*count.field));
  xml.endElement();
  if (!report_.currentPath.empty()) {
    xml.startElement("current");
    xml.attribute("path", report_.currentPath);
    xml.attribute("size", std::to_string(report_.currentSize));
    xml.attribute("sent", std::to_string(std::min(report_.currentSent, report_.currentSize)));
    xml.endElement();
  }
  if (!report_.callOperation.empty()) {
    xml.startElement("call");
    xml.attribute("operation", report_.callOperation);
    xml.attribute("since", std::to_string(report_.callSinceMs));
    xml.endElement();
  }
  // While the run goes on, the last few (the file is written twice a
  // second); once it has ended, every one, for cacheagent's list.
  size_t first = 0;
  if (report_.state == "running" && report_.errors.size() > kKeptFailures) first = report_.errors.size() - kKeptFailures;
  for (size_t i = first; i < report_.errors.size(); ++i) {
    xml.startElement("error");
    xml.attribute("n", std::to_string(i + 1));
    xml.attribute("path", report_.errors[i].first);
    xml.attribute("reason", report_.errors[i].second);
    xml.endElement();
  }
  xml.finish();
  return out;
}

// Not durable: a power cut may lose an update, never half of one.
void RunProgress::writeIfDue(bool force) {
  if (folder_.empty()) return;
  uint64_t now = platform::tickCountMs();
  dirty_ = true;
  if (!force && written_ && now - lastWriteMs_ < writeIntervalMs_) return;
  dirty_ = false;
  std::string error;
  bool stored =
      ZR::CFileUtils::writeFileAtomically(env_, file(), renderLocked(), error, false, ZR::LinkAtTarget::Refuse);
  if (!stored && !failing_ && log_) log_->warning("%s", ("status file " + file() + " not updated: " + error).c_str());
  failing_ = !stored;
  lastWriteMs_ = now;
  written_ = true;
}

bool readProgress(platform::Env& env, const std::string& file, ProgressReport& report) {
  std::string error;
  std::unique_ptr<ZR::CXmlElement> root(ZR::CXmlBuilder::fileToDocument(env, file, error));
  if (!root || root->getName() != "progress") return false;
  report = ProgressReport();
  report.state = text(root.get(), "state");
  report.exitCode = ZR::CNumberText::toInt32(text(root.get(), "exitCode"));
  report.startedUnix = number(root.get(), "started");
  report.elapsedMs = number(root.get(), "elapsedMs");
  const ZR::CXmlElement* deletions = root->getChild("deletions");
  report.deletionsToDo = number(deletions, "toDo");
  report.deletionsDone = number(deletions, "done");
  const ZR::CXmlElement* files = root->getChild("files");
  for (const Count& count : kFileCounts) report.*count.field = number(files, count.name);
  const ZR::CXmlElement* current = root->getChild("current");
  report.currentPath = text(current, "path");
  report.currentSize = number(current, "size");
  report.currentSent = number(current, "sent");
  const ZR::CXmlElement* call = root->getChild("call");
  report.callOperation = text(call, "operation");
  report.callSinceMs = number(call, "since");
  for (size_t i = 0; i < root->getChildCount(); ++i) {
    const ZR::CXmlElement* child = root->getChild(i);
    if (child->getName() != "error") continue;
    if (report.errors.empty()) report.errorsBefore = std::max<uint64_t>(number(child, "n"), 1) - 1;
    report.errors.emplace_back(text(child, "path"), text(child, "reason"));
  }
  return true;
}

}  // namespace velkan
