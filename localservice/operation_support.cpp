// The listing document and the range reader the operations share.
#include "localservice/operation_support.h"

#include <algorithm>
#include <cstring>

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/string_utils.h"
#include "bindings/zrcore/xml_writer.h"

namespace localservice::operations {

void metadataAttributes(ZR::CXmlWriter& xml, const std::string& metadata) {
  auto line = [&](const char* key) { return ZR::CStringUtils::lineValue(metadata, key); };
  // What the client said of the origin file, so a cache listing can be made from this.
  std::string originSize = line("origin.size");
  std::string originModified = line("origin.modified");
  // And how the copy is stored, so that a restore needs no call per file to learn it.
  std::string encoding = line("cache.encoding");
  std::string cacheSize = line("cache.size");
  // A picture stored other than it was sent: scaled or re-encoded.
  bool picture = !line("cache.image.width").empty() &&
                 (cacheSize != originSize || line("cache.mimetype") != line("origin.mimetype") ||
                  line("cache.image.width") != line("origin.image.width"));
  if (!originSize.empty()) xml.attribute("origin-size", originSize);
  if (!originModified.empty()) xml.attribute("origin-modified", originModified);
  if (!encoding.empty()) xml.attribute("encoding", encoding);
  if (!cacheSize.empty()) xml.attribute("cache-size", cacheSize);
  if (picture) xml.attribute("picture", "1");
}

std::string contentsDocument(const std::string& folder, const std::vector<CacheStore::StoredFile>& files,
                             int64_t fakeSize) {
  std::string text;
  ZR::CXmlWriter xml(text, true);
  xml.declaration();
  xml.startElement("contents");
  xml.attribute("path", folder);
  for (const auto& file : files) {
    // A name stored before such names were refused would make the whole
    // listing unreadable: it is left out.
    if (!ZR::CStringUtils::isXmlText(file.path)) continue;
    xml.startElement("file");
    xml.attribute("path", file.path);
    xml.attribute("size", std::to_string(fakeSize >= 0 ? fakeSize : file.size));
    xml.attribute("updated", std::to_string(file.updated));
    metadataAttributes(xml, file.metadata);
    if (file.version != 0) xml.attribute("version", std::to_string(file.version));
    xml.endElement();
  }
  xml.finish();
  return text;
}

namespace {

// Up to `wanted` bytes from `offset` of a content kept in the catalogue.
int copyRange(const std::string& bytes, int64_t offset, int wanted, unsigned char* out) {
  if (offset >= static_cast<int64_t>(bytes.size())) return 0;
  size_t count = std::min(static_cast<size_t>(wanted), bytes.size() - static_cast<size_t>(offset));
  std::memcpy(out, bytes.data() + offset, count);
  return static_cast<int>(count);
}

// The same from a content's file; -1 when it cannot be read.
int readRange(platform::Env& env, const std::string& path, int64_t offset, int wanted, unsigned char* out) {
  ZR::CFile file(env, path, "r");
  // Seeking, not reading up to the offset: a large file fetched in ranges
  // would otherwise be read over and over.
  if (!file.isValid() || !file.seek(static_cast<uint64_t>(offset))) return -1;
  int done = 0;
  while (done < wanted) {
    int64_t got = file.read(out + done, static_cast<size_t>(wanted - done));
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<int>(got);
  }
  return done;
}

}  // namespace

int answerRange(struct soap* soap, const CacheStore::Content& content, int64_t offset, int length,
                struct xsd__base64Binary* out) {
  out->__ptr = nullptr;
  out->__size = 0;
  LocalService& s = service(soap);
  if (!content.found || offset < 0 || length < 0) return soap_sender_fault(soap, "no such file or range", nullptr);
  int64_t fake = s.config().fakeAnswerBytes;
  int wanted = fake >= 0 ? static_cast<int>(fake) : std::min(length, kMaxFileBlock);
  auto* buffer = static_cast<unsigned char*>(soap_malloc(soap, static_cast<size_t>(wanted) + 1));
  if (!buffer) return soap_receiver_fault(soap, "out of memory", nullptr);
  if (fake >= 0) std::memset(buffer, 0, static_cast<size_t>(wanted));
  int done = content.file.empty() ? copyRange(content.bytes, offset, wanted, buffer)
                                  : readRange(s.store().env(), content.file, offset, wanted, buffer);
  if (done < 0) return soap_receiver_fault(soap, "cannot read the stored file", nullptr);
  out->__ptr = buffer;
  out->__size = fake >= 0 ? wanted : done;
  return SOAP_OK;
}

}  // namespace localservice::operations
