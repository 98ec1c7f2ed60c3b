// A cheap look at whether files were garbled: content that compressed well
// when it was cached and does not compress at all now is what a program
// that encrypts or scrambles files leaves behind.
#pragma once

#include <string>
#include <vector>

#include "agent/cache_service.h"
#include "platform/env.h"

namespace agent {

// Whether the first bytes of a file (up to 16 KiB, at least 512) look
// random: they do not compress. False for a file that cannot be read or is
// too small to say.
bool looksRandom(platform::Env& env, const std::string& hostPath);

// The changed files (logical paths) whose cached copy was compressed to
// well under its size but whose content on disk now looks random. `cached`
// is sorted by path. Stops looking after `enough` of them.
std::vector<std::string> newlyRandomFiles(platform::Env& env, const std::vector<std::string>& changed,
                                          const std::vector<CachedFile>& cached, size_t enough);

}  // namespace agent
