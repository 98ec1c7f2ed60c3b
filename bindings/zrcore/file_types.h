// The table of known file extensions: MIME type, type code and generic type
// of each. Every lookup of a file's type in the product answers from it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace ZR {

enum GenericType : int32_t {
  kGenericDocument = 1,
  kGenericImage = 2,
  kGenericVideo = 3,
  kGenericAudio = 4,
  kGenericOtherMedia = 5,
};

struct FileTypeRow {
  const char* extension;
  const char* mimeType;
  int32_t typeCode;
  int32_t genericType;
};

constexpr int32_t kUnknownTypeCode = 28;
constexpr const char* kUnknownMimeType = "application/octet-stream";

extern const std::array<FileTypeRow, 39> kFileTypeTable;

// The row for the text after the last "." of the whole path, compared
// without regard to ASCII case, first match in table order; null when the
// path has no dot or no row matches.
const FileTypeRow* findFileType(std::string_view path);

// The extension of the last path component without its dot, case kept
// (as the C library's path splitting finds it); empty when there is none
// or it is a lone dot.
std::string documentTypeOf(const std::string& path);

class CMimeHelper {
 public:
  // Fills the MIME type and generic type of the path and returns its type
  // code; an unknown extension gives "application/octet-stream", generic
  // type 1 and type code 28.
  static int32_t typeFromExtension(std::string_view path, std::string& mime, int32_t& genericType);
};

}  // namespace ZR
