#include "engine/settings.h"

#include "platform/path.h"

namespace dornik {

bool isOn(const std::string& value) { return value == "true"; }

bool Settings::allInclude() const {
  return isOn(include_delete) && isOn(include_create) && isOn(include_continous_create);
}

namespace {

struct Field {
  const char* name;
  std::string Settings::*member;
};

const Field kFields[] = {
      {"generate_action_set", &Settings::generate_action_set},
      {"generate_unpersisted_dirs", &Settings::generate_unpersisted_dirs},
      {"generate_unpersisted_dirs_action_set", &Settings::generate_unpersisted_dirs_action_set},
      {"dircontent", &Settings::dircontent},
      {"cachecontent", &Settings::cachecontent},
      {"actionset", &Settings::actionset},
      {"include_delete", &Settings::include_delete},
      {"include_create", &Settings::include_create},
      {"include_continous_create", &Settings::include_continous_create},
      {"from_contentcleanup", &Settings::from_contentcleanup},
      {"currentpolicylist", &Settings::currentpolicylist},
      {"prevpolicylist", &Settings::prevpolicylist},
      {"expiredpolicyfile", &Settings::expiredpolicyfile},
      {"unpersistedDirs", &Settings::unpersistedDirs},
      {"currentDirXml", &Settings::currentDirXml},
      {"prevDirXml", &Settings::prevDirXml},
      {"currdircontent", &Settings::currdircontent},
      {"prevdircontent", &Settings::prevdircontent},
      {"unpersistedactionset", &Settings::unpersistedactionset},
};

}  // namespace

const std::vector<std::string>& Settings::names() {
  static const std::vector<std::string> kNames = [] {
    std::vector<std::string> names;
    for (const Field& field : kFields) names.push_back(field.name);
    return names;
  }();
  return kNames;
}

Settings Settings::fromTable(const ZR::CDornikTable& table) {
  Settings s;
  for (const auto& [name, value] : table) {
    for (const Field& field : kFields) {
      if (name == field.name) s.*field.member = value;
    }
  }
  return s;
}

void Settings::takePathsFrom(const std::string& folder) {
  for (std::string* path : {&dircontent, &cachecontent, &actionset, &currentpolicylist, &prevpolicylist,
                            &expiredpolicyfile, &unpersistedDirs, &currentDirXml, &prevDirXml, &currdircontent,
                            &prevdircontent, &unpersistedactionset}) {
    *path = platform::pathFrom(folder, *path);
  }
}

Mode chooseMode(const Settings& settings) {
  if (isOn(settings.generate_action_set)) return Mode::ActionSet;
  if (isOn(settings.generate_unpersisted_dirs)) return Mode::UnpersistedDirs;
  if (isOn(settings.generate_unpersisted_dirs_action_set)) return Mode::UnpersistedActionSet;
  return Mode::None;
}

const char* modeName(Mode mode) {
  switch (mode) {
    case Mode::ActionSet: return "action-set";
    case Mode::UnpersistedDirs: return "unpersisted-directories";
    case Mode::UnpersistedActionSet: return "unpersisted-action-set";
    case Mode::None: return "none";
  }
  return "none";
}

}  // namespace dornik
