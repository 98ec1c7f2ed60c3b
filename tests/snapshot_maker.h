// Listings for dornik made as cacheagent makes them, in process so that the
// end-to-end tests run alike on every system: a directory snapshot of a
// tree, a cache snapshot from velkan's getContents output, and one-action
// action sets.
#pragma once

#include <string>

namespace testsupport {

// The directory content snapshot of `folder`: every folder and file below
// it with size and modification time, under their logical paths: as drive
// c: paths relative to `driveRoot` (the folder VELKAN_DRIVE_C names), or,
// when it is empty, as the system names them.
void writeDirContent(const std::string& folder, const std::string& driveRoot, const std::string& out);

// The cache content snapshot from what the service listed (`contents`,
// velkan's output): every file cached (state 1). A missing listing makes
// an empty snapshot.
void writeCacheContent(const std::string& contents, const std::string& out);

// An action set with one action, with a folder child when `path` is given.
void writeOneActionSet(const std::string& out, const std::string& action, const std::string& path = "");

}  // namespace testsupport
