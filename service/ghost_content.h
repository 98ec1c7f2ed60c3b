// The ghost content file and what is sent of it: a root, under it groups,
// under each group `directory` and `file` entries with a `path` attribute
// (files with named details). Each group goes to the service as one
// document <contents> with the same entries and "/" as separator, under a
// remote path derived from the group's first entry.
#pragma once

#include <string>

namespace ZR {
class CXmlElement;
class CXmlWriter;
}  // namespace ZR

namespace velkan {

// The remote path of a group whose first entry has `entryPath`
// (C:\Docs\Sub\a.txt goes to C:/Docs/Sub/Sub.xml); throws std::out_of_range
// for an empty one.
std::string ghostRemotePath(const std::string& entryPath);

// Writes the directory and file entries of a group (other elements are
// skipped), paths with forward slashes.
void appendGhostEntries(const ZR::CXmlElement& group, ZR::CXmlWriter& writer);

// The whole document sent for a group.
std::string ghostDocument(const ZR::CXmlElement& group);

}  // namespace velkan
