// What one run of a program works with, built once by the program's entry
// and passed down, so that the code below reaches the file system, the
// clock, the log, the file index and the configuration through it rather
// than through process globals (tests build one of their own).
#pragma once

namespace platform {
class Clock;
class Env;
}  // namespace platform

namespace ZR {

class CConfigManager;
class CFileIndex;
class CLogger;
class CThreadGroup;

struct CRunContext {
  platform::Env* env = nullptr;
  platform::Clock* clock = nullptr;
  CLogger* log = nullptr;                       // never null in a built context
  CFileIndex* index = nullptr;
  const CConfigManager* configuration = nullptr;  // null when none is loaded
  CThreadGroup* throttle = nullptr;               // threads that share CPU throttling

  // The process's defaults: the current Env, the system clock, the log (a
  // discarding one before there is a log), the process's file index, the
  // loaded configuration and the process's throttle group.
  static CRunContext processDefaults();
};

}  // namespace ZR
