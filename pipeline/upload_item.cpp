#include "pipeline/upload_item.h"

#include "bindings/zrcore/string_utils.h"

namespace velkan {
namespace {

constexpr const char* kOriginKey = "originVersion";
constexpr const char* kSentSizeKey = "sentSize";
constexpr const char* kContentKey = "preparedContent";
constexpr const char* kConsistentKey = "consistentCopy";

std::string valueOf(const WorkItem& item, const char* key) {
  auto found = item.find(key);
  return found == item.end() ? std::string() : found->second;
}

}  // namespace

UploadItem UploadItem::fromWorkItem(WorkItem item) {
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
  out.consistent = valueOf(item, kConsistentKey) == "1";
  auto content = item.find(kContentKey);
  if (content != item.end()) {
    out.preparedContent = std::move(content->second);
    out.inMemory = true;
  }
  return out;
}

WorkItem UploadItem::toWorkItem() const& {
  UploadItem copy = *this;
  return std::move(copy).toWorkItem();
}

WorkItem UploadItem::toWorkItem() && {
  WorkItem item{{"object", object}, {"objMime", objMime}};
  if (!transcodedObject.empty()) item["transcodedObject"] = transcodedObject;
  if (prepared) item["extraMetaData"] = extraMetaData;
  if (origin) item[kOriginKey] = origin->versionText();
  if (sentSize) item[kSentSizeKey] = std::to_string(*sentSize);
  if (consistent) item[kConsistentKey] = "1";
  if (inMemory) item[kContentKey] = std::move(preparedContent);
  return item;
}

}  // namespace velkan
