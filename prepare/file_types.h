// What a file is, from its name alone: type code, MIME type, document type
// and compression class. Every lookup answers from the one extension table
// of the common library (bindings/zrcore/file_types.h).
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace velkan {

constexpr int32_t kTypeJpeg = 3, kTypeGif = 4, kTypePng = 5, kTypeMp3 = 8, kTypeBmp = 31, kTypeTiff = 32;

// Type code of the text after the last "." of the whole path; 28 when none.
int32_t typeCodeOf(const std::string& path);
// MIME type and generic type; "application/octet-stream" and 1 when unknown.
void mimeTypeOf(const std::string& path, std::string& mime, int32_t& genericType);
// Extension of the last path component without its dot, case kept; empty
// when there is none or it is a lone dot.
std::string docTypeOf(const std::string& path);
bool isImageFile(const std::string& path);
bool isMp3File(const std::string& path);
bool isCompressible(const std::string& path);
bool isExecutable(const std::string& path);

// A MIME type: type/subtype with parameters.
class MimeType {
 public:
  MimeType() = default;
  explicit MimeType(const std::string& text) { parse(text); }
  MimeType(std::string type, std::string subtype) : type_(std::move(type)), subtype_(std::move(subtype)), valid_(true) {}

  // Parses "type/subtype;name=value;...". False when malformed; what was
  // read before the fault is kept.
  bool parse(const std::string& text);
  std::string toString() const;
  // True when either type is "*"; else false when the types differ; else
  // true when either subtype is "*"; else true when the subtypes are equal.
  bool matches(const MimeType& other) const;

  const std::string& type() const { return type_; }
  const std::string& subtype() const { return subtype_; }
  const std::map<std::string, std::string>& parameters() const { return parameters_; }
  bool valid() const { return valid_; }

 private:
  std::string type_;
  std::string subtype_;
  std::map<std::string, std::string> parameters_;
  bool valid_ = false;
};

}  // namespace velkan
