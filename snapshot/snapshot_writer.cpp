#include "snapshot/snapshot_writer.h"

#include "bindings/zrcore/xml_writer.h"

namespace dornik {
namespace {

// What is kept in memory before it goes to the file.
constexpr size_t kDrainBytes = 1u << 20;

}  // namespace

SnapshotWriter::SnapshotWriter(platform::Env& env, const std::string& path, const SnapshotKind& kind)
    : path_(path), root_(kind.root), out_(env, path, true, ZR::LinkAtTarget::Refuse) {
  buffer_ = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<") + root_ + ">\n";
}

void SnapshotWriter::directory(std::string_view path) {
  buffer_ += "<directory path=\"";
  ZR::CXmlUtil::appendAttributeValue(buffer_, path);
  buffer_ += "\"/>\n";
  drainIfLarge();
}

void SnapshotWriter::file(std::string_view path, const SnapshotFileData& data) {
  buffer_ += "<file path=\"";
  ZR::CXmlUtil::appendAttributeValue(buffer_, path);
  buffer_ += "\">";
  element("origin-size", data.originSize);
  element("origin-modified", data.originModified);
  element("state", data.state);
  element("cache-actualsize", data.cacheActualSize);
  buffer_ += "</file>\n";
  drainIfLarge();
}

void SnapshotWriter::element(const char* name, std::string_view text) {
  if (text.empty()) return;
  buffer_ += '<';
  buffer_ += name;
  buffer_ += '>';
  ZR::CXmlUtil::appendAttributeValue(buffer_, text);
  buffer_ += "</";
  buffer_ += name;
  buffer_ += '>';
}

void SnapshotWriter::drainIfLarge() {
  if (buffer_.size() < kDrainBytes) return;
  out_.append(buffer_);
  buffer_.clear();
}

platform::Status SnapshotWriter::commit() {
  buffer_ += "</";
  buffer_ += root_;
  buffer_ += ">\n";
  out_.append(buffer_);
  buffer_.clear();
  if (!out_.commit()) return platform::Status::ioError("cannot write " + path_ + ": " + out_.lastError());
  return platform::Status::ok();
}

}  // namespace dornik
