// The metadata text sent with createFile: lines of key, "=", value and a
// line feed. Every origin.* and cache.* line is written here, in the order
// each case fixes:
//
//   origin.size, origin.modified, origin.modified.text (ctime's rendering,
//   its own line feed), origin.doctype, origin.mimetype, cache.size;
//   then what preparation found:
//   - a gzip copy:      cache.mimetype (of the origin), cache.encoding=gzip
//   - sent unchanged:   cache.encoding=none, cache.mimetype
//   - a picture:        cache.mimetype (of what is sent), cache.encoding=none,
//                       origin.image.height/width, cache.image.height/width
//                       (each pair only when both sizes are known)
//   - an MP3 file:      nothing
#pragma once

#include <cstdint>
#include <string>

#include "platform/env.h"

namespace velkan {

struct PictureSize;

class MetadataText {
 public:
  // The six fixed lines. Throws CVelkanException when a value would add
  // lines of its own (a line break in the MIME type or the extension).
  void originLines(const std::string& object, const std::string& objMime, const platform::FileInfo& origin,
                   uint64_t sentSize);
  void compressedCopy(const std::string& objMime);
  void sentUnchanged(const std::string& objMime);
  void picture(const std::string& sentMime);
  void pictureSizes(const PictureSize& origin, const PictureSize& sent);
  // Lines written elsewhere (by preparation), unchanged.
  void append(const std::string& lines) { text_ += lines; }

  const std::string& text() const { return text_; }

 private:
  void line(const char* key, const std::string& value);

  std::string text_;
};

}  // namespace velkan
