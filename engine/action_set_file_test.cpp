#include "actionset/action_set_file.h"

#include <gtest/gtest.h>

#include "engine/action_plan.h"
#include "tests/test_support.h"

namespace {

using dornik::ActionKind;
using dornik::readActionSet;

TEST(ActionSetFile, WrittenPlanReadsBackWithTrickyPaths) {
  testsupport::TempDir dir;
  ZR::CFileEntry gone, created, changed, folder;
  gone.setPath("c:\\old & <new>");
  created.setPath("c:\\docs\\\"quoted\" 'x'.doc");
  changed.setPath("c:\\docs\\tab\there.txt");
  changed.setCacheSize("5000000000");
  folder.setPath("c:\\docs\\sub");
  dornik::ActionPlan plan;
  plan.deletedDirs = {dornik::PlanEntry{&gone}};
  plan.hasCreate = true;
  plan.createFiles = {dornik::PlanEntry{&created}};
  plan.changedFiles = {dornik::PlanEntry{&changed}};
  plan.addedDirs = {dornik::PlanEntry{&folder}};
  std::string error;
  ASSERT_TRUE(dornik::writeActionPlan(*platform::Env::defaultEnv(), dir.file("a.xml"), plan, error)) << error;

  auto content = readActionSet(*platform::Env::defaultEnv(), dir.file("a.xml"));
  ASSERT_TRUE(content.loaded);
  EXPECT_TRUE(content.error.empty());
  ASSERT_EQ(content.actions.size(), 2u);
  EXPECT_EQ(content.actions[0].kind, ActionKind::Delete);
  EXPECT_EQ(content.actions[0].paths, std::vector<std::string>{"c:\\old & <new>"});
  const auto& files = content.actions[1].files;
  ASSERT_EQ(files.size(), 2u);  // the directory is not an upload
  EXPECT_EQ(files[0].path, created.getPath());
  EXPECT_EQ(files[0].offset, 0);
  EXPECT_EQ(files[0].mimeType, "application/msword");
  EXPECT_EQ(files[1].path, changed.getPath());
  EXPECT_EQ(files[1].offset, 5000000000);  // beyond 32 bits
  EXPECT_EQ(files[1].mimeType, "text/plain");
}

TEST(ActionSetFile, ReaderRules) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("a.xml"),
                         "<anything>"
                         "<action name='getPolicies'/>"
                         "<action name='Create'><file path='c:\\ignored'/></action>"
                         "<step name='delete'><directory path='c:\\d'/><file path='c:\\f'/><x path='c:\\x'/><y/></step>"
                         "<action name='create'>"
                         "<file path='c:\\bare'/>"
                         "<file path='c:\\first'><offset/><offset value='9'/><mimeType name='a/b'/></file>"
                         "<directory path='c:\\dir'><offset value='1'/></directory>"
                         "</action>"
                         "<action><file path='c:\\no-name'/></action>"
                         "<action name='getContents'><folder path='c:\\wanted'/><folder path='c:\\second'/></action>"
                         "<action name='setSymLinks'/><action name='writeGhostContent'/><action name='deletePolicies'/>"
                         "</anything>");
  auto content = readActionSet(*platform::Env::defaultEnv(), dir.file("a.xml"));
  ASSERT_TRUE(content.loaded);
  std::vector<ActionKind> kinds;
  for (const auto& a : content.actions) kinds.push_back(a.kind);
  EXPECT_EQ(kinds, (std::vector<ActionKind>{ActionKind::GetPolicies, ActionKind::Delete, ActionKind::Create,
                                            ActionKind::GetContents, ActionKind::SetSymLinks,
                                            ActionKind::WriteGhostContent, ActionKind::DeletePolicies}));
  EXPECT_EQ(content.actions[1].paths, (std::vector<std::string>{"c:\\d", "c:\\f", "c:\\x"}));
  EXPECT_EQ(content.warnings.size(), 1u);  // <y/> has no path
  const auto& files = content.actions[2].files;
  ASSERT_EQ(files.size(), 2u);
  EXPECT_FALSE(files[0].offsetFound);
  EXPECT_EQ(files[0].offset, 0);
  EXPECT_FALSE(files[0].mimeTypeFound);
  EXPECT_EQ(files[0].mimeType, "");
  EXPECT_FALSE(files[1].offsetFound);  // the first <offset> has no value
  EXPECT_EQ(files[1].mimeType, "a/b");
  EXPECT_EQ(content.actions[3].contentsPath, "c:\\wanted");
}

TEST(ActionSetFile, BrokenFilesAndUnreadableActions) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("broken.xml"), "<action-set><action name='getPolicies'/>");
  auto broken = readActionSet(*platform::Env::defaultEnv(), dir.file("broken.xml"));
  EXPECT_FALSE(broken.loaded);
  EXPECT_EQ(broken.error, dornik::kActionSetLoadFailed);
  EXPECT_TRUE(broken.actions.empty());  // nothing runs from a broken file
  EXPECT_FALSE(readActionSet(*platform::Env::defaultEnv(), dir.file("missing.xml")).loaded);

  testsupport::writeFile(dir.file("stops.xml"),
                         "<action-set><action name='getPolicies'/><action name='getContents'/>"
                         "<action name='setSymLinks'/></action-set>");
  auto stops = readActionSet(*platform::Env::defaultEnv(), dir.file("stops.xml"));
  ASSERT_TRUE(stops.loaded);
  EXPECT_EQ(stops.error, dornik::kActionSetChildMissing);
  // What came before the bad action still counts; the bad action itself is
  // kept, flagged, so that the client checks its own settings first.
  ASSERT_EQ(stops.actions.size(), 2u);
  EXPECT_EQ(stops.actions[0].kind, ActionKind::GetPolicies);
  EXPECT_FALSE(stops.actions[0].contentsPathMissing);
  EXPECT_EQ(stops.actions[1].kind, ActionKind::GetContents);
  EXPECT_TRUE(stops.actions[1].contentsPathMissing);
}

}  // namespace
