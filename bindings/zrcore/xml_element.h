// An XML document held as a tree of elements.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace ZR {

struct CXmlAttribute {
  std::string name;
  std::string value;
};

class CXmlElement {
 public:
  explicit CXmlElement(std::string name) : name_(std::move(name)) {}
  CXmlElement(const CXmlElement&) = delete;
  CXmlElement& operator=(const CXmlElement&) = delete;

  const std::string& getName() const { return name_; }
  // The character data directly inside this element, pieces joined.
  const std::string& getText() const { return text_; }
  void appendText(const char* data, size_t length) { text_.append(data, length); }
  void setText(std::string text) { text_ = std::move(text); }

  size_t getChildCount() const { return children_.size(); }
  // Null when index is out of range.
  CXmlElement* getChild(size_t index) const;
  // First child element of that name; null when there is none.
  CXmlElement* getChild(const std::string& name) const;
  // Takes ownership; returns the added child.
  CXmlElement* addChild(std::unique_ptr<CXmlElement> child);

  // First attribute of that name; null when absent.
  const CXmlAttribute* getAttribute(const std::string& name) const;
  void setAttribute(const std::string& name, const std::string& value);
  const std::vector<CXmlAttribute>& getAttributes() const { return attributes_; }

  // Evaluates a path expression on this element:
  //
  //   expression := "/"? step ( "/" step )* ( "@" attribute )?
  //
  // The first step names this element itself; every further step moves to
  // the first child of that name. With "@attribute" the result is that
  // attribute's value, otherwise the text of the element reached. So on the
  // root of a configuration file
  //   "/CachingPolicyEngineConfiguration/cacheManagerClient@server"
  // reads an attribute, and on a <file> element "/file/offset@value" reads
  // the value of its <offset> child. True when the expression resolves;
  // otherwise `message` says which step failed. Never throws.
  bool getValue(const std::string& expression, std::string& value, std::string& message) const;

  // Renders this element and its descendants into `out`: with `indent` one
  // element per line, with `declaration` the XML declaration first, and a
  // stylesheet processing instruction when `stylesheet` is not empty.
  void serialize(std::string& out, bool indent, bool declaration, const std::string& stylesheet) const;

 private:
  std::string name_;
  std::string text_;
  std::vector<CXmlAttribute> attributes_;
  std::vector<std::unique_ptr<CXmlElement>> children_;
};

}  // namespace ZR
