// Writes XML text element by element, escaping every attribute value and
// text, so any UTF-8 text survives a write and a read unchanged.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ZR {

class CXmlUtil {
 public:
  // Text with &, <, >, " and ' replaced by their entity references.
  static std::string escapeXml2(const std::string& text);
  // For attribute values: escapeXml2 plus tab, line feed and carriage return
  // as character references, which a reader would otherwise turn into blanks.
  static std::string escapeAttribute(const std::string& text);
  // Appends the text escaped for an attribute value (between double quotes).
  static void appendAttributeValue(std::string& out, std::string_view text);
};

// Appends the document to `out` as it goes; the caller may drain `out`
// between calls to keep memory flat. Elements without content are written
// as empty-element tags; with `indent` every element starts on a line of
// its own, indented by two blanks per level (elements holding text are
// never re-indented inside, so their text stays as it was).
// REQUIRES: external synchronization.
class CXmlWriter {
 public:
  CXmlWriter(std::string& out, bool indent);

  void declaration();
  void stylesheet(const std::string& href);
  void startElement(const std::string& name);
  // Adds an attribute to the element just started. Ignored after content.
  void attribute(const std::string& name, std::string_view value);
  void text(std::string_view text);
  // Adds whole elements written by another, unindented writer as children
  // of the element open now.
  void children(std::string_view markup);
  void endElement();
  // Ends every element still open.
  void finish();
  size_t depth() const { return open_.size(); }

 private:
  struct Frame {
    std::string name;
    bool hasChildren = false;
    bool hasText = false;
  };
  void closeStartTag();
  void newLine(size_t level);

  std::string& out_;
  bool indent_;
  bool startTagOpen_ = false;
  std::vector<Frame> open_;
};

}  // namespace ZR
