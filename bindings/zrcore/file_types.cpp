#include "bindings/zrcore/file_types.h"

#include <string_view>

namespace ZR {

const std::array<FileTypeRow, 39> kFileTypeTable = {{
    {"htm", "text/html", 2, 1},
    {"html", "text/html", 2, 1},
    {"css", "text/css", 30, 1},
    {"jpg", "image/jpeg", 3, 2},
    {"jpeg", "image/jpeg", 3, 2},
    {"jpe", "image/jpeg", 3, 2},
    {"jfif", "image/jpeg", 3, 2},
    {"gif", "image/gif", 4, 2},
    {"bmp", "image/bmp", 31, 2},
    {"ccs", "text/ccs", 6, 1},
    {"js", "application/x-javascript", 7, 1},
    {"mp3", "audio/mpeg", 8, 4},
    {"mpg", "video/mpeg", 9, 3},
    {"rm", "audio/vnd.rn-realmedia", 10, 5},
    {"ra", "audio/vnd.rn-realaudio", 11, 4},
    {"ram", "audio/x-pn-realaudio", 12, 5},
    {"rv", "audio/vnd.rn-realvideo", 13, 3},
    {"3gp", "video/3gpp", 14, 5},
    {"png", "image/png", 5, 2},
    {"asf", "video/x-ms-asf", 16, 3},
    {"asx", "video/x-ms-asf", 16, 3},
    {"wma", "audio/x-ms-wma", 17, 4},
    {"wax", "audio/x-ms-wax", 18, 4},
    {"wmv", "video/x-ms-wmv", 19, 3},
    {"wvx", "video/x-ms-wvx", 20, 3},
    {"wm", "video/x-ms-wm", 21, 5},
    {"wmx", "video/x-ms-wmx", 22, 3},
    {"wmz", "application/x-ms-wmz", 23, 5},
    {"wmd", "application/x-ms-wmd", 24, 5},
    {"pdf", "application/pdf", 25, 1},
    {"doc", "application/msword", 26, 1},
    {"xls", "application/vnd.ms-excel", 27, 1},
    {"exe", "application/binary", 29, 1},
    {"tiff", "image/tiff", 32, 2},
    {"tif", "image/tiff", 32, 2},
    {"ppt", "application/vnd.ms-powerpoint", 33, 1},
    {"mdb", "application/x-msaccess", 34, 1},
    {"txt", "text/plain", 1, 1},
    {"xml", "text/xml", 35, 1},
}};

namespace {

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Table extensions are lower case already; runs once per listed file, so
// it allocates nothing.
bool sameExtension(std::string_view extension, const char* tableExtension) {
  std::string_view wanted(tableExtension);
  if (extension.size() != wanted.size()) return false;
  for (size_t i = 0; i < wanted.size(); ++i) {
    if (lowerAscii(extension[i]) != wanted[i]) return false;
  }
  return true;
}

}  // namespace

const FileTypeRow* findFileType(std::string_view path) {
  size_t dot = path.rfind('.');
  if (dot == std::string::npos) return nullptr;
  std::string_view extension = path.substr(dot + 1);
  for (const FileTypeRow& row : kFileTypeTable) {
    if (sameExtension(extension, row.extension)) return &row;
  }
  return nullptr;
}

int32_t CMimeHelper::typeFromExtension(std::string_view path, std::string& mime, int32_t& genericType) {
  const FileTypeRow* row = findFileType(path);
  mime = row ? row->mimeType : kUnknownMimeType;
  genericType = row ? row->genericType : kGenericDocument;
  return row ? row->typeCode : kUnknownTypeCode;
}

std::string documentTypeOf(const std::string& path) {
  size_t separator = path.find_last_of("\\/");
  std::string name = separator == std::string::npos ? path : path.substr(separator + 1);
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.size() - dot < 2) return "";
  return name.substr(dot + 1);
}

}  // namespace ZR
