// The running process and child processes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace platform {

// Folder of the running executable, ending with a separator. Empty when the
// system cannot tell.
std::string executableFolder();

// The file name of a program called `name` on this system ("name.exe" on
// Windows, "name" elsewhere).
std::string programFileName(const std::string& name);

// Full path of the running executable; empty when the system cannot tell.
std::string executablePath();

// The process's current folder; empty when it cannot be read.
std::string currentFolder();
// A write to a connection the peer has closed must fail with an error, not
// end the process; TLS writes go through plain write(), so the signal is
// ignored process-wide. Idempotent.
void ignoreBrokenPipeSignal();

// Files and folders the process makes from now on are its user's alone
// (POSIX: the creation mask 077, so 0600 and 0700): store files, indexes,
// logs, snapshots and prepared copies hold what the user keeps private.
// The environment variable ZR_KEEP_UMASK (any value) keeps the mask the
// process was started with. Windows: new files take their folder's access
// list, which is the user's own below the profile; nothing is changed.
void keepNewFilesPrivate();
// The file-creation mask the process was started with (before
// keepNewFilesPrivate()), e.g. 022: what a user's own files are made with.
// 0 on Windows, where access lists decide.
uint32_t inheritedCreationMask();

// Makes `path` the process's current folder. False on failure.
bool setCurrentFolder(const std::string& path);

// Value of an environment variable; empty when unset.
std::string environmentVariable(const std::string& name);

// Sets (or, with an empty value, removes) a variable of this process's
// environment. REQUIRES: no other thread reads the environment meanwhile.
void setEnvironmentVariable(const std::string& name, const std::string& value);

int processId();

// True when the process's standard output is a terminal (a console), where
// a line may be redrawn in place.
bool standardOutputIsTerminal();
// Standard output sent elsewhere (to standard error, or nowhere) for the
// object's life, so that a program's one document (--json) is all that
// reaches the original; writeOriginal() writes there.
class OutputDiversion {
 public:
  enum class To { Error, Nowhere };
  explicit OutputDiversion(To to);
  ~OutputDiversion();
  OutputDiversion(const OutputDiversion&) = delete;
  OutputDiversion& operator=(const OutputDiversion&) = delete;
  void writeOriginal(const std::string& text);

 private:
  int saved_ = -1;
};

// The width of the terminal standard output goes to, in columns (asked
// each time: a window may be resized); 0 when it is no terminal.
int terminalColumns();

// True while a process with this id exists (also when it belongs to another
// user); false once it has ended.
bool processAlive(int pid);

struct ProcessResult {
  int exitCode = -1;       // low 8 bits as the system reports them
  int terminatedBySignal = 0;  // the signal number when the child was killed
  int processId = 0;
  std::string standardOutput;
  std::string standardError;
  std::string startError;  // when it could not be started: the system's reason
};

// Runs a program with arguments (argv[0] is the program path), waits for it
// and collects both output streams. Variables in `environment` are added to
// (or override) the current environment; `workingFolder`, when not empty,
// becomes the child's current folder. False when it could not be started
// (`startError` then says why).
bool runProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
                const std::string& workingFolder, ProcessResult* result);

// A program running beside us, whose standard output we read line by line
// (its standard error goes where ours goes). Ended when destroyed.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // `workingFolder`, when not empty, becomes the child's current folder.
  // With `ownGroup` the child leads a process group of its own, which
  // kill() ends whole (POSIX; on Windows kill() ends the child alone).
  bool start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment = {},
             const std::string& workingFolder = "", bool ownGroup = false);
  // Why the last start() failed: the system's reason.
  const std::string& startError() const { return startError_; }
  // Before start(): its standard error is read with its output (readLine)
  // instead of going where ours goes.
  void readErrorsWithOutput() { errorsWithOutput_ = true; }
  // The next line of its output without the line end; false at its end or
  // after `timeoutMs`.
  bool readLine(std::string& line, int timeoutMs);
  // True while it has been started and has not ended.
  bool running() const;
  // Asks it to end (SIGTERM), then waits; returns the exit status as for
  // ProcessResult::exitCode (-1 when it was killed by a signal).
  int stop();
  // Asks it to end without waiting, so that a reader on another thread can
  // read its output to the end before wait() (which closes the output).
  void requestStop();
  // Waits for it to end by itself; the exit status as for stop().
  int wait();
  // Ends it outright (SIGKILL; its whole group when it has its own) and
  // waits; as a power cut or a crash would.
  void kill();
  // Its process id; 0 when it is not running.
  int processId() const;

 private:
  bool errorsWithOutput_ = false;
#ifdef _WIN32
  void* process_ = nullptr;
  void* output_ = nullptr;
#else
  int pid_ = -1;
  int outFd_ = -1;
  bool ownGroup_ = false;
#endif
  std::string pending_;
  std::string startError_;
};

}  // namespace platform
