#include "agent/exclude_rules.h"

#include <gtest/gtest.h>

namespace {

TEST(GlobMatch, FollowsTheGlobRules) {
  struct Case {
    const char* pattern;
    const char* text;
    bool matches;
  } cases[] = {
      {"*.tmp", "a.tmp", true},          {"*.tmp", "a.tmp.txt", false},     {"*.tmp", ".tmp", true},
      {"*", "", true},                   {"?", "", false},                  {"a?c", "abc", true},
      {"a?c", "a/c", false},             {"*.txt", "dir/a.txt", false},     {"**/*.txt", "dir/sub/a.txt", true},
      {"**/*.txt", "a.txt", true},       {"build/**", "build/x/y.o", true}, {"build/**", "builds/x", false},
      {"docs/*.bak", "docs/a.bak", true}, {"docs/*.bak", "docs/s/a.bak", false},
      {"[a-c]x", "bx", true},            {"[a-c]x", "dx", false},           {"[!0-9]x", "ax", true},
      {"[!0-9]x", "5x", false},          {"[ab", "[ab", true},              {"caf\xC3\xA9*", "caf\xC3\xA9.doc", true},
      {"**", "a/b/c", true},             {"a**b", "a/x/b", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(agent::globMatch(c.pattern, c.text), c.matches) << c.pattern << " on " << c.text;
  }
}

TEST(GlobMatch, StaysLinearOnPathologicalPatterns) {
  // Backtracking matchers take exponential time here.
  std::string text(4000, 'a');
  EXPECT_FALSE(agent::globMatch("*a*a*a*a*a*a*a*a*a*a*b", text));
}

TEST(ExcludeRules, PatternsWithoutSlashMatchNamesAtAnyDepthOthersTheWholePath) {
  agent::ExcludeRules rules({"*.tmp", "node_modules", "build/out/**"});
  EXPECT_TRUE(rules.excludes("deep/down/x.tmp", "x.tmp"));
  EXPECT_TRUE(rules.excludes("web/node_modules", "node_modules"));
  EXPECT_TRUE(rules.excludes("build/out/a.o", "a.o"));
  EXPECT_FALSE(rules.excludes("src/build/out/a.o", "a.o"));
  EXPECT_FALSE(rules.excludes("notes.txt", "notes.txt"));
  EXPECT_TRUE(agent::ExcludeRules({}).empty());
}

}  // namespace
