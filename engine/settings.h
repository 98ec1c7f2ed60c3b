// The nineteen settings of a policy engine run, read from the settings
// table of the configuration file.
#pragma once

#include <string>
#include <vector>

#include "bindings/zrcore/config.h"

namespace dornik {

struct Settings {
  std::string generate_action_set = "true";
  std::string generate_unpersisted_dirs = "true";
  std::string generate_unpersisted_dirs_action_set = "true";
  std::string dircontent;
  std::string cachecontent;
  std::string actionset;
  std::string include_delete = "true";
  std::string include_create = "true";
  std::string include_continous_create = "true";
  std::string from_contentcleanup = "false";
  std::string currentpolicylist;
  std::string prevpolicylist;
  std::string expiredpolicyfile;
  std::string unpersistedDirs;
  std::string currentDirXml;
  std::string prevDirXml;
  std::string currdircontent;
  std::string prevdircontent;
  std::string unpersistedactionset;

  // True exactly when all three include switches are on.
  bool allInclude() const;

  // Defaults, replaced by the entries of the table with the same (exact)
  // names; entries with other names are ignored.
  static Settings fromTable(const ZR::CDornikTable& table);
  // The names of the nineteen settings.
  static const std::vector<std::string>& names();
  // Relative file settings are taken from `folder`, the configuration
  // file's folder, wherever the program was started.
  void takePathsFrom(const std::string& folder);
};

// A switch is on only for the exact text "true".
bool isOn(const std::string& value);

enum class Mode { ActionSet, UnpersistedDirs, UnpersistedActionSet, None };

// The first switched-on mode in the order above; None when all are off.
Mode chooseMode(const Settings& settings);

const char* modeName(Mode mode);

}  // namespace dornik
