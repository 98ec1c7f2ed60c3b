// Exit codes of dornik. Validation failures of the snapshots exit with the
// validation result itself (201..205 and 208..213).
#pragma once

namespace dornik {

constexpr int kExitOk = 0;
constexpr int kExitMergeFailed = 1;
constexpr int kExitUsage = 50;
constexpr int kExitEngineFile = 100;
constexpr int kExitInitialisation = -1;
constexpr int kExitInputUnreadable = -1;
constexpr int kExitDirContentUnparsable = 101;
constexpr int kExitCacheContentUnreadable = 102;
constexpr int kExitWriteFailed = 103;

}  // namespace dornik
