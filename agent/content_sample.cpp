#include "agent/content_sample.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>

#include "platform/path.h"

namespace agent {
namespace {

constexpr size_t kSampleBytes = 16 << 10;
constexpr size_t kLeastSample = 512;

// Whether the cached copy was gzip'ed to under 80 % of the original: text,
// documents, anything with structure.
bool compressedWell(const CachedFile& file) {
  uint64_t origin = 0;
  const std::string& text = file.originSize;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), origin);
  if (error != std::errc() || end != text.data() + text.size() || origin < kLeastSample) return false;
  return file.encoding == "gzip" && !file.picture && file.size * 5 < origin * 4;
}

}  // namespace

bool looksRandom(platform::Env& env, const std::string& hostPath) {
  std::unique_ptr<platform::ReadableFile> file;
  if (!env.openReadable(hostPath, &file).isOk()) return false;
  std::string sample(kSampleBytes, '\0');
  size_t filled = 0;
  while (filled < sample.size()) {
    int64_t got = file->read(sample.data() + filled, sample.size() - filled);
    if (got <= 0) break;
    filled += static_cast<size_t>(got);
  }
  if (filled < kLeastSample) return false;
  // The fastest level still finds any structure worth 2 %.
  uLongf packedSize = compressBound(static_cast<uLong>(filled));
  std::string packed(packedSize, '\0');
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(sample.data()),
                static_cast<uLong>(filled), 1) != Z_OK) {
    return false;
  }
  return packedSize * 100 >= filled * 98;
}

std::vector<std::string> newlyRandomFiles(platform::Env& env, const std::vector<std::string>& changed,
                                          const std::vector<CachedFile>& cached, size_t enough) {
  std::vector<std::string> found;
  auto byPath = [](const CachedFile& file, const std::string& path) { return file.path < path; };
  for (const std::string& path : changed) {
    if (found.size() >= enough) break;
    auto it = std::lower_bound(cached.begin(), cached.end(), path, byPath);
    if (it == cached.end() || it->path != path || !compressedWell(*it)) continue;
    if (looksRandom(env, platform::hostPath(path))) found.push_back(path);
  }
  return found;
}

}  // namespace agent
