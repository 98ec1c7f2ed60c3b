// The policy engine's run: arguments, initialisation, settings and one mode.
#pragma once

#include <string>
#include <vector>

#include "engine/action_plan.h"
#include "engine/settings.h"
#include "platform/env.h"

namespace ZR {
class CLogger;
}

namespace dornik {

// Runs dornik with the command-line arguments after the program name and
// returns the exit code. Its inputs and outputs are read and written
// through `env`.
int runDornik(platform::Env& env, const std::vector<std::string>& arguments);

// The three modes; each returns the exit code.
// `observer` lets a test raise faults inside the merge step.
int runActionSetMode(platform::Env& env, const Settings& settings, ZR::CLogger& log,
                     const MergeObserver& observer = nullptr);
int runUnpersistedDirsMode(platform::Env& env, const Settings& settings, ZR::CLogger& log);
int runUnpersistedActionSetMode(platform::Env& env, const Settings& settings, ZR::CLogger& log);

}  // namespace dornik
