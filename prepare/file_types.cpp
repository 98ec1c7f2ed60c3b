#include "prepare/file_types.h"

#include "bindings/zrcore/file_types.h"
#include "bindings/zrcore/string_utils.h"

namespace velkan {
namespace {

const char* const kDocumentClass[] = {"doc", "ppt", "xml", "html", "htm", "txt", "mdb", "xls", "rtf", "mht", "mhtml"};
const char* const kExecutableClass[] = {"exe", "dll", "obj", "sbr", "pdb", "pch", "bas", "java", "class", "cmd", "bat", "ncb"};
const char* const kSourceClass[] = {"pdf", "cpp", "h",   "hpp", "c",   "sln", "inl",
                                    "cc",  "odl", "lib", "dsw", "dsp", "ini", "cfg"};

template <size_t N>
bool inClass(const std::string& extension, const char* const (&members)[N]) {
  for (const char* member : members) {
    if (extension == member) return true;
  }
  return false;
}

std::string lowerDocType(const std::string& path) { return ZR::CStringUtils::lowerCaseASCII(docTypeOf(path)); }

}  // namespace

int32_t typeCodeOf(const std::string& path) {
  std::string mime;
  int32_t generic = 0;
  return ZR::CMimeHelper::typeFromExtension(path, mime, generic);
}

void mimeTypeOf(const std::string& path, std::string& mime, int32_t& genericType) {
  ZR::CMimeHelper::typeFromExtension(path, mime, genericType);
}

std::string docTypeOf(const std::string& path) { return ZR::documentTypeOf(path); }

bool isImageFile(const std::string& path) {
  int32_t code = typeCodeOf(path);
  return code == kTypeJpeg || code == kTypeGif || code == kTypePng || code == kTypeBmp || code == kTypeTiff;
}

bool isMp3File(const std::string& path) { return typeCodeOf(path) == kTypeMp3; }

bool isCompressible(const std::string& path) {
  std::string extension = lowerDocType(path);
  return inClass(extension, kDocumentClass) || inClass(extension, kExecutableClass) || inClass(extension, kSourceClass);
}

bool isExecutable(const std::string& path) { return inClass(lowerDocType(path), kExecutableClass); }

bool MimeType::parse(const std::string& text) {
  type_.clear();
  subtype_.clear();
  parameters_.clear();
  valid_ = false;
  ZR::CStringSplitterExact parts(text, ";");
  std::string first;
  parts.getPart(0, first);
  ZR::CStringSplitterExact halves(first, "/");
  if (halves.getPartCount() != 2) return false;
  halves.getPart(0, type_);
  halves.getPart(1, subtype_);
  for (size_t i = 1; i < parts.getPartCount(); ++i) {
    std::string part, name, value;
    parts.getPart(i, part);
    ZR::CStringSplitterExact pair(part, "=");
    if (pair.getPartCount() != 2) return false;
    pair.getPart(0, name);
    pair.getPart(1, value);
    parameters_[name] = value;
  }
  valid_ = true;
  return true;
}

std::string MimeType::toString() const {
  std::string out = type_ + "/" + subtype_;
  for (const auto& [name, value] : parameters_) out += ";" + name + "=" + value;
  return out;
}

bool MimeType::matches(const MimeType& other) const {
  if (type_ == "*" || other.type_ == "*") return true;
  if (type_ != other.type_) return false;
  if (subtype_ == "*" || other.subtype_ == "*") return true;
  return subtype_ == other.subtype_;
}

}  // namespace velkan
