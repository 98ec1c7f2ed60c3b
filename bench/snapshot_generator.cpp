// Writes synthetic inputs for dornik at any size.
//
//   snapshot_generator snapshots N DIR   -> DIR/dir.xml, DIR/cache.xml
//   snapshot_generator listings N DIR    -> DIR/previous.xml, DIR/current.xml
//   snapshot_generator policies N DIR    -> DIR/prevpolicies.xml, DIR/curpolicies.xml, DIR/expired.xml
//
// Snapshots: N current files and about N cache files, in folders of 50,
// mixed as a real disk looks between two runs: 70 % unchanged, 10 %
// changed, 10 % new, 5 % pending and unchanged, 5 % pending and changed,
// plus N/10 cache files in folders that are gone. Listings: N files of a
// previous listing of which a tenth of the folders have gone in the current.
// Policies: N previous policies; the current list drops every tenth and
// the expired file names every twentieth.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "snapshot/snapshot_writer.h"

namespace {

// A small deterministic generator, so every run measures the same input.
struct Random {
  unsigned long long state = 0x9E3779B97F4A7C15ull;
  unsigned next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<unsigned>(state >> 11);
  }
};

const char* const kExtensions[] = {"doc", "txt", "jpg", "xls", "pdf", "mp3", "png", "dat"};

std::string folderOf(long i) {
  long folder = i / 50;
  return "c:/Users/ann/Documents/area" + std::to_string(folder / 100) + "/folder" + std::to_string(folder);
}

std::string fileOf(long i) {
  return folderOf(i) + "/file" + std::to_string(i) + "." + kExtensions[i % 8];
}

// A <file> with its origin data, its state and its stored size (-1: none).
void writeFile(dornik::SnapshotWriter& out, const std::string& path, long size, long date, const char* state,
               long cached) {
  std::string sizeText = std::to_string(size), dateText = std::to_string(date);
  std::string cachedText = cached >= 0 ? std::to_string(cached) : std::string();
  out.file(path, {sizeText, dateText, state ? state : "", cachedText});
}

void commitOrExit(dornik::SnapshotWriter& out) {
  if (platform::Status written = out.commit(); !written) {
    std::fprintf(stderr, "%s\n", written.message().c_str());
    std::exit(1);
  }
}

FILE* open(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) {
    std::perror(path.c_str());
    std::exit(1);
  }
  return f;
}

void snapshots(long n, const std::string& dir) {
  dornik::SnapshotWriter current(*platform::Env::defaultEnv(), dir + "/dir.xml", dornik::kDirContentKind);
  dornik::SnapshotWriter cache(*platform::Env::defaultEnv(), dir + "/cache.xml", dornik::kCacheContentKind);
  Random random;
  for (long i = 0; i < n; ++i) {
    if (i % 50 == 0) {
      current.directory(folderOf(i));
      cache.directory(folderOf(i));
    }
    long size = 1000 + random.next() % 5000000;
    long date = 1700000000 + random.next() % 30000000;
    std::string path = fileOf(i);
    writeFile(current, path, size, date, nullptr, -1);
    unsigned kind = random.next() % 100;
    if (kind < 70) writeFile(cache, path, size, date, "1", size);                        // unchanged
    else if (kind < 80) writeFile(cache, path, size - 100, date - 1000, "1", 4096);       // changed
    else if (kind < 90) continue;                                                         // new
    else if (kind < 95) writeFile(cache, path, size, date, "2", -1);                     // pending
    else writeFile(cache, path, size, date - 5, "2", -1);                                // pending, changed
  }
  for (long i = 0; i < n / 10; ++i) {
    std::string folder = "c:/Users/ann/Old/gone" + std::to_string(i / 50);
    if (i % 50 == 0) cache.directory(folder);
    writeFile(cache, folder + "/old" + std::to_string(i) + ".doc", 100, 1600000000, (i % 3) ? "1" : "2", 100);
  }
  commitOrExit(current);
  commitOrExit(cache);
}

void listings(long n, const std::string& dir) {
  FILE* previous = open(dir + "/previous.xml");
  FILE* current = open(dir + "/current.xml");
  std::fprintf(previous, "<?xml version=\"1.0\"?>\n<dir-content>\n");
  std::fprintf(current, "<?xml version=\"1.0\"?>\n<dir-content>\n");
  for (long i = 0; i < n; ++i) {
    bool folderGone = (i / 50) % 10 == 3;
    bool fileGone = i % 17 == 0;
    std::string folder = folderOf(i), file = fileOf(i);
    if (i % 50 == 0) {
      std::fprintf(previous, "  <directory path=\"%s\"/>\n", folder.c_str());
      if (!folderGone) std::fprintf(current, "  <directory path=\"%s\"/>\n", folder.c_str());
    }
    std::fprintf(previous, "  <file path=\"%s\"/>\n", file.c_str());
    if (!folderGone && !fileGone) std::fprintf(current, "  <file path=\"%s\"/>\n", file.c_str());
  }
  std::fprintf(previous, "</dir-content>\n");
  std::fprintf(current, "</dir-content>\n");
  std::fclose(previous);
  std::fclose(current);
}

void policies(long n, const std::string& dir) {
  FILE* previous = open(dir + "/prevpolicies.xml");
  FILE* current = open(dir + "/curpolicies.xml");
  FILE* expired = open(dir + "/expired.xml");
  std::fprintf(previous, "<?xml version=\"1.0\"?>\n<policies>\n");
  std::fprintf(current, "<?xml version=\"1.0\"?>\n<policies>\n");
  std::fprintf(expired, "<?xml version=\"1.0\"?>\n<expired>\n");
  for (long i = 0; i < n; ++i) {
    std::string target = (i % 4 == 0) ? "/My Documents/project" + std::to_string(i) : "/c/data/share" + std::to_string(i);
    std::string line = "  <policy value=\"p" + std::to_string(i) + "\"><settings><target>" + target +
                       "</target></settings></policy>\n";
    std::fputs(line.c_str(), previous);
    if (i % 10 != 0) std::fputs(line.c_str(), current);
    if (i % 20 == 1) std::fprintf(expired, "  <id>p%ld</id>\n", i);
  }
  std::fprintf(previous, "</policies>\n");
  std::fprintf(current, "</policies>\n");
  std::fprintf(expired, "</expired>\n");
  std::fclose(previous);
  std::fclose(current);
  std::fclose(expired);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s snapshots|listings|policies N DIR\n", argv[0]);
    return 2;
  }
  std::string what = argv[1];
  long n = std::atol(argv[2]);
  if (what == "snapshots") {
    snapshots(n, argv[3]);
  } else if (what == "listings") {
    listings(n, argv[3]);
  } else if (what == "policies") {
    policies(n, argv[3]);
  } else {
    std::fprintf(stderr, "unknown input kind %s\n", argv[1]);
    return 2;
  }
  return 0;
}
