// The one form of a path in snapshots, action sets and the file index:
// backslashes, and a lower-case drive letter followed by a colon.
#pragma once

#include <string>

namespace ZR {

// "/" becomes a backslash; the names My Documents, My Music, My Pictures,
// Desktop and Drive.properties stay as they are; otherwise a path without
// ":" gets one after its first character, and the first character is
// lower-cased (ASCII). So C/Data/report.doc becomes c:\Data\report.doc.
std::string normaliseFilePath(std::string path);
// The same without the exception for the special names.
std::string normaliseDirectoryPath(std::string path);

}  // namespace ZR
