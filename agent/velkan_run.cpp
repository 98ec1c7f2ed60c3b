#include "agent/velkan_run.h"

#include <cstdio>

#include "agent/console.h"
#include "agent/run_report.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/string_utils.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/interrupt.h"
#include "platform/path.h"
#include "platform/process.h"
#include "status/status_files.h"

namespace agent {
namespace {

constexpr int kProgressPollMs = 500;
constexpr uint64_t kPassOnInterruptionMs = 2000;

// A failure per line as velkan's progress file tells them, each once.
// Those that came and went between two readings are in the last reading.
void showNewFailures(VelkanRun& run, ProgressConsole& console) {
  const velkan::ProgressReport& r = run.report;
  for (size_t i = 0; i < r.errors.size(); ++i) {
    if (r.errorsBefore + i < run.failuresShown) continue;
    console.print("  not uploaded " + printable(r.errors[i].first + " (" + r.errors[i].second + ")"));
    run.failuresShown = r.errorsBefore + i + 1;
  }
}

}  // namespace

std::string velkanEnding(int code) {
  switch (code) {
    case 0: return "done";
    case velkan::kExitNotAllUploaded: return "files were not uploaded";
    case velkan::kExitServiceUnreachable: return "the cache manager cannot be reached";
    case velkan::kExitNoAuthentication: return "the agent authentication file is missing";
    case velkan::kExitAlreadyRunning: return "another velkan is running on the same file index";
    case velkan::kExitInterrupted: return "interrupted";
    case seenByParent(velkan::kExitUsage): return "no configuration file given";
    case seenByParent(velkan::kExitInitialisation): return "its log could not be set up";
    case seenByParent(velkan::kExitStandardException): return "a configuration, action set or setting it could not use";
    case seenByParent(velkan::kExitUnknownException): return "an unknown error";
    case kVelkanStoreFull: return "the cache manager's store is full";
    case ZR::kCrashExitCode: return "it crashed";
    default: return "the cache manager ended the run";
  }
}

// Runs velkan in the work folder, showing its progress file as it changes.
VelkanRun runVelkan(const AgentConfig& config, int cpuPercent, uint64_t bytesPerSecond, bool eachFile) {
  VelkanRun run;
  std::string progressFile = platform::joinPath(platform::joinPath(config.workFolder, velkan::kStatusFolder),
                                                velkan::kProgressFileName);
  config.env->removeFile(progressFile);  // a stale one would tell of the last run
  std::vector<std::string> argv = {config.velkanPath, config.configurationPath};
  if (cpuPercent < 100) argv.push_back(std::to_string(cpuPercent));
  // Our time-outs are velkan's, unless its own section names others.
  std::map<std::string, std::string> environment = {
      {"ZR_CONNECT_TIMEOUT", std::to_string(config.connectTimeoutSeconds)},
      {"ZR_REPLY_TIMEOUT", std::to_string(config.replyTimeoutSeconds)},
      {"ZR_UPLOAD_SESSIONS", std::to_string(config.uploadSessions)},
      {"ZR_KEEP_PICTURES", config.keepPictures ? "yes" : "no"}};
  if (bytesPerSecond > 0) environment["ZR_MAX_BIT_RATE"] = std::to_string(bytesPerSecond * 8);
  platform::ChildProcess child;
  child.readErrorsWithOutput();  // its one line on a failed run becomes part of ours
  ProgressConsole console(platform::standardOutputIsTerminal());
  WaitingNotice waiting(config.client.server, [&console](const std::string& line) { console.print(line); });
  if (!child.start(argv, environment, config.workFolder)) {
    run.startError = child.startError();
    return run;
  }
  run.started = true;
  console.show(head("starting the upload", console.columns()));
  TimeLeft timeLeft;
  uint64_t lastPoll = 0, interruptedAt = 0;
  bool stopped = false;
  for (;;) {
    if (platform::interruptionRequested() && interruptedAt == 0) interruptedAt = platform::tickCountMs();
    // Ctrl-C reaches velkan too; a termination sent to us alone is passed on.
    if (interruptedAt != 0 && platform::tickCountMs() - interruptedAt > kPassOnInterruptionMs && !stopped) {
      run.exitCode = child.stop();
      stopped = true;
    }
    std::string line;
    bool got = child.readLine(line, kProgressPollMs);
    if (got && eachFile && ZR::CStringUtils::startsWith(line, "uploaded ")) {
      console.print("  " + printable(line));
    } else if (got && ZR::CStringUtils::startsWith(line, "velkan: ")) {
      run.said = line.substr(8);
    }
    if (!got && !child.running()) break;
    uint64_t now = platform::tickCountMs();
    if (now - lastPoll >= static_cast<uint64_t>(kProgressPollMs)) {
      lastPoll = now;
      if (velkan::readProgress(*config.env, progressFile, run.report)) {
        showNewFailures(run, console);
        const velkan::ProgressReport& r = run.report;
        timeLeft.sample(now, r.bytesDone + r.currentSent, r.bytesToDo);
        console.show(progressLine(r, console.columns(), timeLeft.leftMs()));
        if (run.report.callOperation.empty()) {
          waiting.end();
        } else {
          waiting.since("velkan's " + run.report.callOperation, static_cast<int64_t>(run.report.callSinceMs));
        }
      }
    }
  }
  if (!stopped) run.exitCode = child.wait();
  run.reported = velkan::readProgress(*config.env, progressFile, run.report);
  if (run.reported) {
    showNewFailures(run, console);
    console.show(progressLine(run.report, console.columns()));
  }
  console.end();
  return run;
}

void printUploadSummary(const VelkanRun& run, ZR::CLogger& log, RunReport& report) {
  const velkan::ProgressReport& r = run.report;
  for (auto [name, value] : {std::pair{"uploaded", r.filesUploaded}, std::pair{"toUpload", r.filesToDo},
                             std::pair{"uploadedBytes", r.bytesUploaded}, std::pair{"storedBytes", r.bytesStored},
                             std::pair{"deletionsDone", r.deletionsDone}, std::pair{"deletionsToDo", r.deletionsToDo},
                             std::pair{"vanished", r.vanished}, std::pair{"readAgain", r.retried},
                             std::pair{"privateCopies", r.privateCopies},
                             std::pair{"picturesReencoded", r.picturesReencoded}}) {
    report.figure(name, static_cast<int64_t>(value));
  }
  report.say("uploaded: %s of %s, %s before preparation, %s after\n", humanCount(r.filesUploaded).c_str(),
              countOf(r.filesToDo, "file", "files").c_str(), humanBytes(r.bytesUploaded).c_str(),
              humanBytes(r.bytesStored).c_str());
  report.say("deletions: %s of %s carried out\n", humanCount(r.deletionsDone).c_str(), humanCount(r.deletionsToDo).c_str());
  if (r.vanished) {
    report.say("gone since the scan: %s (nothing was sent; their cached copies go at the next backup)\n",
                countOf(r.vanished, "file", "files").c_str());
  }
  if (r.picturesReencoded) {
    report.say("pictures stored scaled or re-encoded: %s (pictures=\"keep\" in the agent section sends them as they are)\n",
                humanCount(r.picturesReencoded).c_str());
  }
  if (r.retried || r.privateCopies) {
    report.say("changed while they were read: read again %s times; %s files sent from a private copy taken while they "
                "held still\n",
                humanCount(r.retried).c_str(), humanCount(r.privateCopies).c_str());
  }
  if (r.filesUploaded + r.filesFailed < r.filesToDo) {
    report.say("left for the next run: %s (a limit was reached or the run stopped)\n",
                countOf(r.filesToDo - r.filesUploaded - r.filesFailed, "file", "files").c_str());
  }
  // A run that ended lists every failure in its progress file; one that
  // was cut short, its last ones.
  std::vector<std::string> failures;
  for (const auto& [path, reason] : r.errors) {
    report.entry("failures", path, reason);
    failures.push_back(path + " (" + reason + ")");
  }
  if (r.errorsBefore > 0) failures.push_back("... " + countOf(r.errorsBefore, "earlier failure", "earlier failures") +
                                             " (velkan ended before it could list them)");
  if (!failures.empty()) report.say("not uploaded:\n");
  printListed(failures, log, "not uploaded ");
}

}  // namespace agent
