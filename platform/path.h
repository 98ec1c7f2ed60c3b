// Logical paths are Windows paths in UTF-8 (c:\docs\a.doc), as snapshots and
// action sets carry them. These functions map them to files this host can
// open and back.
#pragma once

#include <string>

namespace platform {

// Maps a logical path to a host path. On POSIX every backslash becomes "/"
// and a leading drive "x:" is replaced by the root named in the environment
// variable VELKAN_DRIVE_X (upper-case letter), "/" when unset; so
// c:\home\ann\a.doc is /home/ann/a.doc. Other paths keep their text apart
// from the separators.
std::string hostPath(const std::string& logical);

// The inverse: the logical path of a host path, under the drive whose root is
// the longest prefix of it (drive c when no root matches).
std::string logicalPath(const std::string& host);

// The folder part of a host path without the last separator ("." when none).
std::string parentFolder(const std::string& hostPath);

// Joins a folder and a name with one host separator.
std::string joinPath(const std::string& folder, const std::string& name);

// True when `path` lies below `folder`: it starts with it and a separator
// ("\" or "/") follows. A path is not below itself.
bool isBelow(const std::string& path, const std::string& folder);

// True when the path starts with a drive letter and a colon.
bool hasDriveLetter(const std::string& path);

// A path as a setting of a configuration file means it: an empty one, one
// with a drive letter or one that starts with a separator stays as it is;
// any other is taken from `folder` (the configuration file's folder).
std::string pathFrom(const std::string& folder, const std::string& path);

}  // namespace platform
