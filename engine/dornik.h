// The policy engine's run: arguments, initialisation, settings and one mode.
#pragma once

#include <string>
#include <vector>

#include "engine/action_plan.h"
#include "engine/settings.h"

namespace ZR {
class CLogger;
}

namespace dornik {

// Runs dornik with the command-line arguments after the program name and
// returns the exit code.
int runDornik(const std::vector<std::string>& arguments);

// The three modes; each returns the exit code.
// `observer` lets a test raise faults inside the merge step.
int runActionSetMode(const Settings& settings, ZR::CLogger& log, const MergeObserver& observer = nullptr);
int runUnpersistedDirsMode(const Settings& settings, ZR::CLogger& log);
int runUnpersistedActionSetMode(const Settings& settings, ZR::CLogger& log);

}  // namespace dornik
