// Helpers shared by the test programs: scratch folders, files, running the
// built programs.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/process.h"

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with its
// content at the end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() joined with a relative name.
  std::string file(const std::string& name) const;

 private:
  std::string path_;
};

// Sets an environment variable for one test and puts the old value back.
class ScopedVariable {
 public:
  ScopedVariable(std::string name, const std::string& value)
      : name_(std::move(name)), old_(platform::environmentVariable(name_)) {
    platform::setEnvironmentVariable(name_, value);
  }
  ~ScopedVariable() { platform::setEnvironmentVariable(name_, old_); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  std::string name_;
  std::string old_;
};

// Writes a file whole (creating its folder); fails the test on error.
void writeFile(const std::string& path, const std::string& content);
// The content of a file; empty when it cannot be read.
std::string readFile(const std::string& path);

// Waits until `condition` holds, asking it every few milliseconds; false
// when it still does not after `limitMs` (a bound that only a hung test
// reaches, never a measure of speed).
bool waitUntil(const std::function<bool()>& condition, uint32_t limitMs = 20000);
bool fileExists(const std::string& path);
// True when the Windows build runs under wine, which lacks a few of the
// system's promises (tests say which where they skip).
bool runningUnderWine();
// Every plain file below `folder` (names relative to it, "/" between
// parts) with its bytes.
std::map<std::string, std::string> filesBelow(const std::string& folder);

// Runs a program and returns what it did; on Windows its CR LF line ends
// are read as LF.
platform::ProcessResult run(const std::vector<std::string>& argv,
                            const std::map<std::string, std::string>& environment = {},
                            const std::string& workingFolder = "");

// The id of a process that has ended (it ran a trivial command).
int endedProcessId();

// Exit codes as a shell sees them (the low 8 bits): -1 is 255.
constexpr int exitByte(int code) { return code & 0xFF; }

// Number of times `needle` occurs in `text`.
size_t countOf(const std::string& text, const std::string& needle);

// The content of a gzip file unpacked; "<not gzip>" when it cannot be read.
std::string gunzip(const std::string& path);
// The same for gzip data in memory.
std::string gunzipBytes(const std::string& data);
// `size` bytes of a fixed pattern that does not compress, the same for the
// same `seed`: large contents whose every byte a comparison can check.
std::string patterned(size_t size, unsigned seed = 0);

// True when the whole of `text` matches the POSIX extended regular
// expression `pattern`. (std::regex trips GCC's maybe-uninitialized warning
// in sanitizer builds, so the tests use the C library's matcher where there
// is one; Windows has none.)
bool matchesWhole(const std::string& text, const std::string& pattern);

}  // namespace testsupport
