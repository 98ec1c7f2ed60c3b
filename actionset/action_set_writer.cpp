#include "actionset/action_set_file.h"

#include "bindings/zrcore/file_types.h"

namespace dornik {
namespace {
constexpr size_t kDrainBytes = 1 << 20;
}  // namespace

ActionSetWriter::ActionSetWriter(const std::string& path) : xml_(buffer_, true), file_(path), ok_(file_.isValid()) {
  xml_.declaration();
  xml_.startElement("action-set");
}

void ActionSetWriter::drainIfLarge() {
  if (buffer_.size() < kDrainBytes) return;
  ok_ = ok_ && file_.append(buffer_);
  buffer_.clear();
}

void ActionSetWriter::beginAction(const std::string& name) {
  xml_.startElement("action");
  xml_.attribute("name", name);
}

void ActionSetWriter::addPath(const char* element, const std::string& path) {
  xml_.startElement(element);
  xml_.attribute("path", path);
  xml_.endElement();
  drainIfLarge();
}

void ActionSetWriter::addCreate(const char* element, const std::string& path, const std::string& cacheSize) {
  xml_.startElement(element);
  xml_.attribute("path", path);
  xml_.startElement("offset");
  xml_.attribute("value", cacheSize.empty() ? "0" : cacheSize);
  xml_.endElement();
  if (!path.empty()) {
    std::string mime;
    int32_t genericType = 0;
    ZR::CMimeHelper::typeFromExtension(path, mime, genericType);
    xml_.startElement("mimeType");
    xml_.attribute("name", mime);
    xml_.endElement();
  }
  xml_.endElement();
  drainIfLarge();
}

void ActionSetWriter::endAction() { xml_.endElement(); }

bool ActionSetWriter::commit() {
  xml_.finish();
  ok_ = ok_ && file_.append(buffer_);
  buffer_.clear();
  return ok_ && file_.commit();
}

}  // namespace dornik
