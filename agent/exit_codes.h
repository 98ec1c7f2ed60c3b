// cacheagent's exit codes, the same for every command.
#pragma once

namespace agent {

enum ExitCode {
  kExitOk = 0,               // done: everything backed up, restored, or the cache matches
  kExitIncomplete = 1,       // done, but files were skipped or failed, or (check) differences were found
  kExitUsage = 2,            // the command line is wrong
  kExitConfiguration = 3,    // the configuration is unusable, or a watched folder is missing
  kExitService = 4,          // the cache manager cannot be reached or refused the agent
  kExitProgram = 5,          // dornik or velkan failed (its exit code is printed)
  kExitWrite = 6,            // a file of ours could not be written
  kExitDeletionsRefused = 7, // the backup would delete too much; --allow-deletions carries it out
  kExitBusy = 8,             // another backup of the same configuration is running
  kExitChangesRefused = 9,   // the backup would replace too much; --allow-changes carries it out
  kExitInterrupted = 130,    // stopped by Ctrl-C or a termination signal
};

}  // namespace agent
