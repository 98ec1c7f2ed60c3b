#include "agent/content_sample.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/test_support.h"

namespace {

std::string randomBytes(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(random());
  return out;
}

std::string prose(size_t n) {
  std::string out;
  while (out.size() < n) out += "The quarterly report lists every invoice, its date and its amount. ";
  return out.substr(0, n);
}

TEST(ContentSample, RandomContentIsToldFromStructuredContent) {
  testsupport::TempDir dir;
  struct Case {
    const char* name;
    std::string content;
    bool random;
  } cases[] = {
      {"prose", prose(40000), false},
      {"zeros", std::string(20000, '\0'), false},
      {"random", randomBytes(40000, 1), true},
      {"random, small", randomBytes(600, 2), true},
      {"random, too small to say", randomBytes(100, 3), false},
      {"random after a text header", prose(4000) + randomBytes(12000, 4), false},
      {"empty", "", false},
  };
  for (const Case& c : cases) {
    std::string path = dir.path() + "/" + c.name;
    testsupport::writeFile(path, c.content);
    EXPECT_EQ(agent::looksRandom(*platform::Env::defaultEnv(), path), c.random) << c.name;
  }
  EXPECT_FALSE(agent::looksRandom(*platform::Env::defaultEnv(), dir.path() + "/missing"));
}

// Only a file whose cached copy compressed well and that now looks random
// counts: pictures, copies that did not compress, tiny files and files the
// cache does not hold never do.
TEST(ContentSample, OnlyFilesThatCompressedWellAndLookRandomNowAreFound) {
  testsupport::TempDir dir;
  auto logical = [](const std::string& name) { return name; };
  struct Case {
    const char* name;
    std::string now;
    agent::CachedFile cached;  // path filled below; empty encoding: not cached
    bool found;
  } cases[] = {
      {"a", randomBytes(9000, 5), {"", 3000, "9000", "", "gzip", "", false, 0, 0}, true},
      {"b", prose(9000), {"", 3000, "9000", "", "gzip", "", false, 0, 0}, false},
      {"c", randomBytes(9000, 6), {"", 8990, "9000", "", "gzip", "", false, 0, 0}, false},  // did not compress
      {"d", randomBytes(9000, 7), {"", 3000, "9000", "", "none", "", false, 0, 0}, false},
      {"e", randomBytes(9000, 8), {"", 3000, "9000", "", "gzip", "", true, 0, 0}, false},  // a picture
      {"f", randomBytes(9000, 9), {"", 100, "300", "", "gzip", "", false, 0, 0}, false},   // too small
      {"g", randomBytes(9000, 10), {"", 3000, "", "", "gzip", "", false, 0, 0}, false},    // size not said
      {"h", randomBytes(9000, 11), {"", 0, "", "", "", "", false, 0, 0}, false},           // not cached
  };
  std::vector<agent::CachedFile> cached;
  std::vector<std::string> changed;
  for (Case& c : cases) {
    std::string path = dir.path() + "/" + c.name;
    testsupport::writeFile(path, c.now);
    changed.push_back(logical(path));
    c.cached.path = path;
    if (!c.cached.encoding.empty()) cached.push_back(c.cached);
  }
  std::vector<std::string> found = agent::newlyRandomFiles(*platform::Env::defaultEnv(), changed, cached, 100);
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    if (c.found) expected.push_back(dir.path() + "/" + c.name);
  }
  EXPECT_EQ(found, expected);
  EXPECT_TRUE(agent::newlyRandomFiles(*platform::Env::defaultEnv(), changed, cached, 0).empty());
}

}  // namespace
