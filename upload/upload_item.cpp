#include "upload/upload_item.h"

#include "bindings/zrcore/string_utils.h"

namespace velkan {
namespace {

constexpr const char* kOriginKey = "originVersion";
constexpr const char* kSentSizeKey = "sentSize";

std::string valueOf(const WorkItem& item, const char* key) {
  auto found = item.find(key);
  return found == item.end() ? std::string() : found->second;
}

}  // namespace

UploadItem UploadItem::fromWorkItem(const WorkItem& item) {
  UploadItem out;
  out.object = valueOf(item, "object");
  out.objMime = valueOf(item, "objMime");
  out.transcodedObject = valueOf(item, "transcodedObject");
  out.extraMetaData = valueOf(item, "extraMetaData");
  out.prepared = item.count("extraMetaData") != 0;
  platform::FileInfo origin;
  if (origin.parseVersionText(valueOf(item, kOriginKey))) out.origin = origin;
  std::string sent = valueOf(item, kSentSizeKey);
  if (!sent.empty()) out.sentSize = static_cast<uint64_t>(ZR::CNumberText::toInt64(sent));
  return out;
}

WorkItem UploadItem::toWorkItem() const {
  WorkItem item{{"object", object}, {"objMime", objMime}};
  if (!transcodedObject.empty()) item["transcodedObject"] = transcodedObject;
  if (prepared) item["extraMetaData"] = extraMetaData;
  if (origin) item[kOriginKey] = origin->versionText();
  if (sentSize) item[kSentSizeKey] = std::to_string(*sentSize);
  return item;
}

}  // namespace velkan
