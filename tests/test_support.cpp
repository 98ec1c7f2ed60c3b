#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#ifdef _WIN32
#include <regex>

#include "platform/win32.h"
#else
#include <regex.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/clock.h"
#include "platform/env.h"
#include "platform/path.h"

namespace testsupport {

bool runningUnderWine() {
#ifdef _WIN32
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
#else
  return false;
#endif
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
#ifdef _WIN32
  std::string base = platform::environmentVariable("TEMP");
  if (base.empty()) base = "c:\\windows\\temp";
#else
  std::string base = platform::environmentVariable("TMPDIR");
  if (base.empty()) base = "/tmp";
#endif
  path_ = platform::joinPath(base, "zr-test-") + std::to_string(platform::processId()) + "-" + std::to_string(counter++);
  platform::Env::defaultEnv()->removeTree(path_);
  platform::Env::defaultEnv()->createDirectories(path_);
}

TempDir::~TempDir() { platform::Env::defaultEnv()->removeTree(path_); }

std::string TempDir::file(const std::string& name) const {
  std::string relative = name;
#ifdef _WIN32
  // One separator throughout, so that paths compare as texts.
  for (char& c : relative) {
    if (c == '/') c = '\\';
  }
#endif
  return platform::joinPath(path_, relative);
}

void writeFile(const std::string& path, const std::string& content) {
  platform::Env* env = platform::Env::defaultEnv();
  env->createDirectories(platform::parentFolder(path));
  std::unique_ptr<platform::WritableFile> file;
  platform::Status opened = env->openWritable(path, &file);
  ASSERT_TRUE(file) << opened.message();
  ASSERT_TRUE(file->append(content.data(), content.size()));
  ASSERT_TRUE(file->close());
}

std::string readFile(const std::string& path) {
  std::string content;
  std::unique_ptr<platform::ReadableFile> file;
  if (!platform::Env::defaultEnv()->openReadable(path, &file)) return "";
  char buf[65536];
  for (int64_t n; (n = file->read(buf, sizeof buf)) > 0;) content.append(buf, static_cast<size_t>(n));
  return content;
}

bool fileExists(const std::string& path) { return platform::Env::defaultEnv()->fileExists(path); }

platform::ProcessResult run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
                            const std::string& workingFolder) {
  platform::ProcessResult result;
#ifdef _WIN32
  // Under wine a start now and then fails with nothing of ours at fault;
  // a few tries before the test fails.
  constexpr int kStartTries = 3;
#else
  constexpr int kStartTries = 1;
#endif
  bool started = false;
  for (int tried = 0; !started && tried < kStartTries; ++tried) {
    if (tried > 0) {
      std::fprintf(stderr, "cannot start %s (%s); trying again\n", argv[0].c_str(), result.startError.c_str());
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    started = platform::runProcess(argv, environment, workingFolder, &result);
  }
  EXPECT_TRUE(started) << "cannot start " << argv[0] << ": " << result.startError;
#ifdef _WIN32
  // The C runtime writes text with CR LF; the tests compare lines.
  for (std::string* text : {&result.standardOutput, &result.standardError}) {
    for (size_t at; (at = text->find("\r\n")) != std::string::npos;) text->erase(at, 1);
  }
#endif
  return result;
}

int endedProcessId() {
#ifdef _WIN32
  return run({"c:\\windows\\system32\\cmd.exe", "/c", "exit 0"}).processId;
#else
  return run({"/bin/true"}).processId;
#endif
}

size_t countOf(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + needle.size())) ++count;
  return count;
}


std::string gunzip(const std::string& path) {
  gzFile in = gzopen(path.c_str(), "rb");
  if (!in) return "<not gzip>";
  std::string out;
  char buffer[65536];
  for (int n; (n = gzread(in, buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<size_t>(n));
  gzclose(in);
  return out;
}

std::string gunzipBytes(const std::string& data) {
  z_stream stream{};
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return "<not gzip>";
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  std::string out;
  char buffer[65536];
  int status = Z_OK;
  while (status == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    status = inflate(&stream, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - stream.avail_out);
  }
  inflateEnd(&stream);
  return status == Z_STREAM_END ? out : "<not gzip>";
}

std::string patterned(size_t size, unsigned seed) {
  std::string out(size, '\0');
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<char>((i * 2654435761u + seed) >> 13);
  return out;
}

bool matchesWhole(const std::string& text, const std::string& pattern) {
#ifdef _WIN32
  try {
    return std::regex_match(text, std::regex(pattern, std::regex::extended));
  } catch (const std::regex_error&) {
    ADD_FAILURE() << "bad pattern: " << pattern;
    return false;
  }
#else
  regex_t compiled;
  if (regcomp(&compiled, ("^(" + pattern + ")$").c_str(), REG_EXTENDED | REG_NOSUB) != 0) {
    ADD_FAILURE() << "bad pattern: " << pattern;
    return false;
  }
  bool matched = regexec(&compiled, text.c_str(), 0, nullptr, 0) == 0;
  regfree(&compiled);
  return matched;
#endif
}

std::map<std::string, std::string> filesBelow(const std::string& folder) {
  std::map<std::string, std::string> out;
  std::vector<platform::DirectoryEntry> entries;
  std::vector<std::string> pending = {""};
  while (!pending.empty()) {
    std::string relative = pending.back();
    pending.pop_back();
    entries.clear();
    platform::Env::defaultEnv()->scanDirectory(relative.empty() ? folder : folder + "/" + relative, &entries);
    for (const auto& entry : entries) {
      std::string name = relative.empty() ? entry.name : relative + "/" + entry.name;
      if (entry.kind == platform::DirectoryEntry::Kind::Directory) pending.push_back(name);
      if (entry.kind == platform::DirectoryEntry::Kind::File) out[name] = readFile(folder + "/" + name);
    }
  }
  return out;
}

bool waitUntil(const std::function<bool()>& condition, uint32_t limitMs) {
  uint64_t end = platform::tickCountMs() + limitMs;
  for (;;) {
    if (condition()) return true;
    if (platform::tickCountMs() >= end) return false;
    platform::sleepMs(2);
  }
}

}  // namespace testsupport
