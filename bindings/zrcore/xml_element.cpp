#include "bindings/zrcore/xml_element.h"

#include "bindings/zrcore/xml_writer.h"

namespace ZR {

CXmlElement* CXmlElement::getChild(size_t index) const {
  return index < children_.size() ? children_[index].get() : nullptr;
}

CXmlElement* CXmlElement::getChild(const std::string& name) const {
  for (const auto& child : children_) {
    if (child->name_ == name) return child.get();
  }
  return nullptr;
}

CXmlElement* CXmlElement::addChild(std::unique_ptr<CXmlElement> child) {
  children_.push_back(std::move(child));
  return children_.back().get();
}

const CXmlAttribute* CXmlElement::getAttribute(const std::string& name) const {
  for (const auto& attribute : attributes_) {
    if (attribute.name == name) return &attribute;
  }
  return nullptr;
}

void CXmlElement::setAttribute(const std::string& name, const std::string& value) {
  for (auto& attribute : attributes_) {
    if (attribute.name == name) {
      attribute.value = value;
      return;
    }
  }
  attributes_.push_back(CXmlAttribute{name, value});
}

bool CXmlElement::getValue(const std::string& expression, std::string& value, std::string& message) const {
  std::string path = expression;
  std::string attributeName;
  size_t at = path.find('@');
  bool wantAttribute = at != std::string::npos;
  if (wantAttribute) {
    attributeName = path.substr(at + 1);
    path.erase(at);
  }
  if (!path.empty() && path.front() == '/') path.erase(0, 1);
  if (path.empty() || (wantAttribute && attributeName.empty())) {
    message = "malformed expression '" + expression + "'";
    return false;
  }
  const CXmlElement* current = nullptr;
  std::string reached;
  size_t start = 0;
  for (;;) {
    size_t slash = path.find('/', start);
    std::string step = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (step.empty()) {
      message = "malformed expression '" + expression + "'";
      return false;
    }
    if (!current) {
      if (step != name_) {
        message = "element '" + step + "' is not the element '" + name_ + "' the expression starts at";
        return false;
      }
      current = this;
    } else {
      const CXmlElement* next = current->getChild(step);
      if (!next) {
        message = "element '" + step + "' not found under '" + reached + "'";
        return false;
      }
      current = next;
    }
    reached += "/" + step;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  if (!wantAttribute) {
    value = current->text_;
    return true;
  }
  const CXmlAttribute* attribute = current->getAttribute(attributeName);
  if (!attribute) {
    message = "attribute '" + attributeName + "' not found on '" + reached + "'";
    return false;
  }
  value = attribute->value;
  return true;
}

namespace {

void writeElement(CXmlWriter& writer, const CXmlElement& element) {
  writer.startElement(element.getName());
  for (const auto& attribute : element.getAttributes()) writer.attribute(attribute.name, attribute.value);
  writer.text(element.getText());
  for (size_t i = 0; i < element.getChildCount(); ++i) writeElement(writer, *element.getChild(i));
  writer.endElement();
}

}  // namespace

void CXmlElement::serialize(std::string& out, bool indent, bool declaration, const std::string& stylesheet) const {
  CXmlWriter writer(out, indent);
  if (declaration) writer.declaration();
  if (!stylesheet.empty()) writer.stylesheet(stylesheet);
  writeElement(writer, *this);
}

}  // namespace ZR
