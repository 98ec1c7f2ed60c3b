#include "pipeline/metadata_text.h"

#include "bindings/zrcore/file_types.h"
#include "platform/clock.h"
#include "service/velkan_exceptions.h"
#include "pipeline/upload_item.h"

namespace velkan {
namespace {

void refuseLineBreaks(const std::string& what, const std::string& value, const std::string& object) {
  if (value.find_first_of("\r\n") != std::string::npos) {
    throw CVelkanException("metadata " + what + " of " + object + " holds a line break; the file is not uploaded.\n");
  }
}

}  // namespace

void MetadataText::line(const char* key, const std::string& value) {
  text_ += key;
  text_ += '=';
  text_ += value;
  text_ += '\n';
}

void MetadataText::originLines(const std::string& object, const std::string& objMime, const platform::FileInfo& origin,
                               uint64_t sentSize) {
  std::string docType = ZR::documentTypeOf(object);
  refuseLineBreaks("MIME type", objMime, object);
  refuseLineBreaks("document type", docType, object);
  std::string modified = platform::localTimeText(origin.modifiedUnixSeconds);
  if (modified.empty()) modified = "\n";
  line("origin.size", std::to_string(origin.size));
  line("origin.modified", std::to_string(origin.modifiedUnixSeconds));
  text_ += "origin.modified.text=" + modified;  // ends with the rendering's own line feed
  line("origin.doctype", docType);
  line("origin.mimetype", objMime);
  line("cache.size", std::to_string(sentSize));
}

void MetadataText::compressedCopy(const std::string& objMime) {
  line("cache.mimetype", objMime);
  line("cache.encoding", "gzip");
}

void MetadataText::sentUnchanged(const std::string& objMime) {
  line("cache.encoding", "none");
  line("cache.mimetype", objMime);
}

void MetadataText::picture(const std::string& sentMime) {
  line("cache.mimetype", sentMime);
  line("cache.encoding", "none");
}

void MetadataText::pictureSizes(const PictureSize& origin, const PictureSize& sent) {
  if (origin.known()) {
    line("origin.image.height", std::to_string(origin.height));
    line("origin.image.width", std::to_string(origin.width));
  }
  if (sent.known()) {
    line("cache.image.height", std::to_string(sent.height));
    line("cache.image.width", std::to_string(sent.width));
  }
}

}  // namespace velkan
