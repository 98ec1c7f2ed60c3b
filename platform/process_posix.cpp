#include "platform/process.h"

#include "platform/env.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace platform {

std::string executablePath() {
  char buf[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  return n <= 0 ? std::string() : std::string(buf, static_cast<size_t>(n));
}

std::string programFileName(const std::string& name) { return name; }

namespace {
// The mask the process was started with, once keepNewFilesPrivate() put
// its own in place; -1 before.
std::atomic<int> inheritedMask{-1};
}  // namespace

void keepNewFilesPrivate() {
  if (!environmentVariable("ZR_KEEP_UMASK").empty()) return;
  mode_t previous = ::umask(077);
  int expected = -1;
  inheritedMask.compare_exchange_strong(expected, static_cast<int>(previous));
}

uint32_t inheritedCreationMask() {
  int saved = inheritedMask.load();
  if (saved >= 0) return static_cast<uint32_t>(saved);
  // Linux tells the mask without changing it; elsewhere it is set and put back.
  std::string status;
  if (readFileToString("/proc/self/status", &status)) {
    size_t at = status.find("Umask:");
    if (at != std::string::npos) return static_cast<uint32_t>(std::strtoul(status.c_str() + at + 6, nullptr, 8));
  }
  mode_t mask = ::umask(022);
  ::umask(mask);
  return static_cast<uint32_t>(mask);
}

std::string executableFolder() {
  std::string path = executablePath();
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string currentFolder() {
  char buf[PATH_MAX + 1];
  return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
}

bool standardOutputIsTerminal() { return ::isatty(1) == 1; }

OutputDiversion::OutputDiversion(To to) {
  std::fflush(stdout);
  saved_ = ::dup(1);
  int target = to == To::Error ? ::dup(2) : ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (saved_ >= 0 && target >= 0) ::dup2(target, 1);
  if (target >= 0) ::close(target);
}

OutputDiversion::~OutputDiversion() {
  std::fflush(stdout);
  if (saved_ < 0) return;
  ::dup2(saved_, 1);
  ::close(saved_);
}

void OutputDiversion::writeOriginal(const std::string& text) {
  std::fflush(stdout);
  int fd = saved_ >= 0 ? saved_ : 1;
  for (size_t done = 0; done < text.size();) {
    ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;
    done += static_cast<size_t>(put);
  }
}

int terminalColumns() {
  struct winsize size {};
  if (::isatty(1) != 1 || ::ioctl(1, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

bool setCurrentFolder(const std::string& path) { return ::chdir(path.c_str()) == 0; }

void ignoreBrokenPipeSignal() { ::signal(SIGPIPE, SIG_IGN); }

std::string environmentVariable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value ? value : "";
}

void setEnvironmentVariable(const std::string& name, const std::string& value) {
  if (value.empty()) {
    ::unsetenv(name.c_str());
  } else {
    ::setenv(name.c_str(), value.c_str(), 1);
  }
}

int processId() { return static_cast<int>(::getpid()); }

bool processAlive(int pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

namespace {

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& extra) {
  std::map<std::string, std::string> all;
  for (char** e = environ; e && *e; ++e) {
    std::string entry = *e;
    size_t eq = entry.find('=');
    if (eq != std::string::npos) all[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [key, value] : extra) all[key] = value;
  std::vector<std::string> out;
  for (const auto& [key, value] : all) out.push_back(key + "=" + value);
  return out;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (auto& t : texts) out.push_back(t.data());
  out.push_back(nullptr);
  return out;
}

// Drains both pipes until the child closes them.
void collectOutput(int outFd, int errFd, ProcessResult* result) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&result->standardOutput, &result->standardError};
  int open = 2;
  char buf[65536];
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

// Keeps the system's reason for a failed start; false, for the caller to return.
bool startFailed(std::string& reason, int error) {
  reason = std::strerror(error);
  return false;
}

}  // namespace

bool runProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
                const std::string& workingFolder, ProcessResult* result) {
  *result = ProcessResult{};
  if (argv.empty()) return startFailed(result->startError, EINVAL);
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return startFailed(result->startError, errno);
  if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    int error = errno;
    ::close(outPipe[0]);
    ::close(outPipe[1]);
    return startFailed(result->startError, error);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  if (!workingFolder.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());

  std::vector<std::string> args = argv;
  std::vector<std::string> envTexts = mergedEnvironment(environment);
  std::vector<char*> argPointers = pointers(args);
  std::vector<char*> envPointers = pointers(envTexts);
  pid_t pid = -1;
  int rc = ::posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argPointers.data(), envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (rc != 0) {
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    return startFailed(result->startError, rc);
  }
  result->processId = static_cast<int>(pid);
  collectOutput(outPipe[0], errPipe[0], result);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result->exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result->terminatedBySignal = WTERMSIG(status);
  return true;
}

ChildProcess::~ChildProcess() { stop(); }

bool ChildProcess::start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
                         const std::string& workingFolder, bool ownGroup) {
  startError_.clear();
  if (argv.empty() || pid_ > 0) return startFailed(startError_, argv.empty() ? EINVAL : EBUSY);
  int outPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return startFailed(startError_, errno);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  if (errorsWithOutput_) posix_spawn_file_actions_adddup2(&actions, outPipe[1], 2);
  if (!workingFolder.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (ownGroup) {
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
  }
  ownGroup_ = ownGroup;
  std::vector<std::string> args = argv;
  std::vector<std::string> envTexts = mergedEnvironment(environment);
  std::vector<char*> argPointers = pointers(args);
  std::vector<char*> envPointers = pointers(envTexts);
  pid_t pid = -1;
  int rc = ::posix_spawn(&pid, args[0].c_str(), &actions, &attributes, argPointers.data(), envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(outPipe[1]);
  if (rc != 0) {
    ::close(outPipe[0]);
    return startFailed(startError_, rc);
  }
  pid_ = pid;
  outFd_ = outPipe[0];
  return true;
}

bool ChildProcess::readLine(std::string& line, int timeoutMs) {
  for (;;) {
    size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return true;
    }
    if (outFd_ < 0) return false;
    pollfd p{outFd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    char buf[4096];
    ssize_t n = ::read(outFd_, buf, sizeof buf);
    if (n <= 0) return false;
    pending_.append(buf, static_cast<size_t>(n));
  }
}

bool ChildProcess::running() const {
  if (pid_ <= 0) return false;
  // WNOWAIT looks without reaping, so stop() still gets the status.
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

int ChildProcess::stop() {
  if (pid_ <= 0) return -1;
  requestStop();
  return wait();
}

void ChildProcess::requestStop() {
  if (pid_ > 0) ::kill(pid_, SIGTERM);
}

void ChildProcess::kill() {
  if (pid_ <= 0) return;
  ::kill(ownGroup_ ? -pid_ : pid_, SIGKILL);
  wait();
}

int ChildProcess::processId() const { return pid_ > 0 ? pid_ : 0; }

int ChildProcess::wait() {
  if (pid_ <= 0) return -1;
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  if (outFd_ >= 0) ::close(outFd_);
  outFd_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace platform
