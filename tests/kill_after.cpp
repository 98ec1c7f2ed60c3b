// kill_after MILLISECONDS PROGRAM [ARGUMENTS...]
// Runs a program and ends it outright (TerminateProcess on Windows, the
// equivalent of SIGKILL) when it is still running after the given time, as
// `timeout -s KILL` does on Linux. Its output is passed on. Exit status:
// the program's, or 137 when it had to be killed.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: kill_after MILLISECONDS PROGRAM [ARGUMENTS...]\n");
    return 2;
  }
  const uint64_t deadline = platform::tickCountMs() + std::strtoull(argv[1], nullptr, 10);
  platform::ChildProcess child;
  if (!child.start(std::vector<std::string>(argv + 2, argv + argc))) {
    std::fprintf(stderr, "kill_after: cannot start %s\n", argv[2]);
    return 127;
  }
  std::string line;
  for (uint64_t now; child.running() && (now = platform::tickCountMs()) < deadline;) {
    if (child.readLine(line, static_cast<int>(deadline - now))) {
      std::printf("%s\n", line.c_str());
    } else {
      platform::sleepMs(5);  // its output has ended: wait for the process, without spinning
    }
  }
  bool killed = child.running();
  while (!killed && child.readLine(line, 0)) std::printf("%s\n", line.c_str());
  int code = child.stop();
  return killed ? 137 : code;
}
