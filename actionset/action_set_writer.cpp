#include "actionset/action_set_file.h"

#include "bindings/zrcore/file_types.h"
#include "bindings/zrcore/xml_writer.h"

namespace dornik {
namespace {
constexpr size_t kDrainBytes = 1 << 20;
}  // namespace

// The document is written straight into the buffer, laid out as the common
// library's writer lays out a document (two blanks per level, an element
// without children closed at once): an action set of a million entries is
// written in one pass with no per-element bookkeeping.
ActionSetWriter::ActionSetWriter(platform::Env& env, const std::string& path)
    : file_(env, path, true, ZR::LinkAtTarget::Refuse), ok_(file_.isValid()) {
  buffer_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<action-set";
}

void ActionSetWriter::drainIfLarge() {
  if (buffer_.size() < kDrainBytes) return;
  ok_ = ok_ && file_.append(buffer_);
  buffer_.clear();
}

void ActionSetWriter::openParents() {
  if (!rootOpen_) {
    buffer_ += ">\n";
    rootOpen_ = true;
  }
  if (actionTagOpen_) {
    buffer_ += ">\n";
    actionTagOpen_ = false;
  }
}

void ActionSetWriter::beginAction(const std::string& name) {
  openParents();
  buffer_ += "  <action name=\"";
  ZR::CXmlUtil::appendAttributeValue(buffer_, name);
  buffer_ += '"';
  actionTagOpen_ = true;
  inAction_ = true;
}

void ActionSetWriter::addPath(const char* element, std::string_view path) {
  openParents();
  buffer_ += "    <";
  buffer_ += element;
  buffer_ += " path=\"";
  ZR::CXmlUtil::appendAttributeValue(buffer_, path);
  buffer_ += "\"/>\n";
  drainIfLarge();
}

void ActionSetWriter::addCreate(const char* element, std::string_view path, std::string_view cacheSize) {
  openParents();
  buffer_ += "    <";
  buffer_ += element;
  buffer_ += " path=\"";
  ZR::CXmlUtil::appendAttributeValue(buffer_, path);
  buffer_ += "\">\n      <offset value=\"";
  ZR::CXmlUtil::appendAttributeValue(buffer_, cacheSize.empty() ? std::string_view("0") : cacheSize);
  buffer_ += "\"/>\n";
  if (!path.empty()) {
    std::string mime;
    int32_t genericType = 0;
    ZR::CMimeHelper::typeFromExtension(path, mime, genericType);
    buffer_ += "      <mimeType name=\"";
    ZR::CXmlUtil::appendAttributeValue(buffer_, mime);
    buffer_ += "\"/>\n";
  }
  buffer_ += "    </";
  buffer_ += element;
  buffer_ += ">\n";
  drainIfLarge();
}

void ActionSetWriter::endAction() {
  if (!inAction_) return;
  buffer_ += actionTagOpen_ ? "/>\n" : "  </action>\n";
  actionTagOpen_ = inAction_ = false;
}

bool ActionSetWriter::commit() {
  endAction();
  buffer_ += rootOpen_ ? "</action-set>\n" : "/>\n";
  ok_ = ok_ && file_.append(buffer_);
  buffer_.clear();
  return ok_ && file_.commit();
}

}  // namespace dornik
