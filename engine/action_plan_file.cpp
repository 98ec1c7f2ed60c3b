// The action plan written as an action set.
#include "actionset/action_set_file.h"
#include "engine/action_plan.h"

namespace dornik {

bool writeActionPlan(platform::Env& env, const std::string& path, const ActionPlan& plan, std::string& error) {
  ActionSetWriter writer(env, path);
  writer.beginAction("delete");
  for (const PlanEntry& d : plan.deletedDirs) writer.addPath("directory", d.path());
  for (const PlanEntry& f : plan.deletedFiles) writer.addPath("file", f.path());
  for (const PlanEntry& f : plan.staleFiles) writer.addPath("file", f.path());
  writer.endAction();
  if (plan.hasCreate) {
    writer.beginAction("create");
    for (const PlanEntry& f : plan.createFiles) writer.addCreate("file", f.path(), f.cacheSize());
    for (const PlanEntry& f : plan.changedFiles) writer.addCreate("file", f.path(), f.cacheSize());
    for (const PlanEntry& d : plan.addedDirs) writer.addCreate("directory", d.path(), d.cacheSize());
    for (const PlanEntry& f : plan.unchangedFiles) writer.addCreate("file", f.path(), f.cacheSize());
    writer.endAction();
  }
  if (writer.commit()) return true;
  error = writer.error();
  return false;
}

}  // namespace dornik
