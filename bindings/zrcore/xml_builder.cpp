#include "bindings/zrcore/xml_builder.h"

namespace ZR {
namespace {

bool isBlank(const std::string& text) { return text.find_first_not_of(" \t\r\n") == std::string::npos; }

// Builds a tree from reader events.
class TreeHandler : public CXmlHandler {
 public:
  void startElement(const char* name, const CXmlAttributes& attributes) override {
    auto element = std::make_unique<CXmlElement>(name);
    for (const char** p = attributes.pairs(); p && *p; p += 2) element->setAttribute(p[0], p[1]);
    if (open_.empty()) {
      root_ = std::move(element);
      open_.push_back(root_.get());
    } else {
      open_.push_back(open_.back()->addChild(std::move(element)));
    }
  }
  void endElement(const char*) override {
    CXmlElement* element = open_.back();
    // Layout whitespace between child elements is not content.
    if (element->getChildCount() > 0 && isBlank(element->getText())) element->setText("");
    open_.pop_back();
  }
  void characters(const char* data, size_t length) override {
    if (!open_.empty()) open_.back()->appendText(data, length);
  }
  std::unique_ptr<CXmlElement> take() { return std::move(root_); }

 private:
  std::unique_ptr<CXmlElement> root_;
  std::vector<CXmlElement*> open_;
};

}  // namespace

CXmlElement* CXmlBuilder::fileToDocument(const std::string& path, std::string& error, const CXmlLimits& limits) {
  return fileToDocument(*platform::env(), path, error, limits);
}

CXmlElement* CXmlBuilder::fileToDocument(platform::Env& env, const std::string& path, std::string& error,
                                         const CXmlLimits& limits) {
  TreeHandler handler;
  if (!CXmlReader::parseFile(env, path, handler, error, limits)) return nullptr;
  return handler.take().release();
}

CXmlElement* CXmlBuilder::textToDocument(const std::string& text, std::string& error, const CXmlLimits& limits) {
  TreeHandler handler;
  if (!CXmlReader::parseText(text, handler, error, limits)) return nullptr;
  return handler.take().release();
}

void CXmlBuilder::documentToBuffer(const CXmlElement& root, std::string& out) {
  out.clear();
  root.serialize(out, true, true, "");
}

void CXmlBuilder::documentToBuffer(const CXmlElement* root, std::string& out) {
  out.clear();
  if (root) root->serialize(out, true, true, "");
}

void CXmlBuilder::startElement(const std::string& name) {
  auto element = std::make_unique<CXmlElement>(name);
  if (open_.empty()) {
    if (root_) return;  // a document has one root
    root_ = std::move(element);
    open_.push_back(root_.get());
  } else {
    open_.push_back(open_.back()->addChild(std::move(element)));
  }
}

void CXmlBuilder::attribute(const std::string& name, const std::string& value) {
  if (!open_.empty()) open_.back()->setAttribute(name, value);
}

void CXmlBuilder::element(const std::string& name, const std::string& text) {
  if (open_.empty()) return;
  auto child = std::make_unique<CXmlElement>(name);
  child->setText(text);
  open_.back()->addChild(std::move(child));
}

void CXmlBuilder::endElement(const std::string&) {
  if (!open_.empty()) open_.pop_back();
}

CXmlElement* CXmlBuilder::getDocument() {
  open_.clear();
  return root_.get();
}

std::unique_ptr<CXmlElement> CXmlBuilder::takeDocument() {
  open_.clear();
  return std::move(root_);
}

}  // namespace ZR
