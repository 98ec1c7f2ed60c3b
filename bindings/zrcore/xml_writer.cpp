#include "bindings/zrcore/xml_writer.h"

namespace ZR {
namespace {

// Which characters need a reference: 1 everywhere, 2 in attribute values only.
struct EscapeTable {
  unsigned char kind[256] = {};
  EscapeTable() {
    for (unsigned char c : {'&', '<', '>', '"', '\'', '\r'}) kind[c] = 1;
    kind[static_cast<unsigned char>('\t')] = kind[static_cast<unsigned char>('\n')] = 2;
  }
};
const EscapeTable kEscapes;

bool needsEscape(unsigned char c, bool forAttribute) {
  unsigned char kind = kEscapes.kind[c];
  return kind == 1 || (kind == 2 && forAttribute);
}

void appendEscaped(std::string& out, std::string_view text, bool forAttribute) {
  // Most texts need nothing escaped: copied in runs, not character by character.
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!needsEscape(static_cast<unsigned char>(text[i]), forAttribute)) continue;
    out.append(text.data() + start, i - start);
    start = i + 1;
    switch (text[i]) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      case '\t': out += "&#9;"; break;
      case '\n': out += "&#10;"; break;
      case '\r': out += "&#13;"; break;
      default: break;
    }
  }
  out.append(text.data() + start, text.size() - start);
}

}  // namespace

std::string CXmlUtil::escapeXml2(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  appendEscaped(out, text, false);
  return out;
}

void CXmlUtil::appendAttributeValue(std::string& out, std::string_view text) { appendEscaped(out, text, true); }

std::string CXmlUtil::escapeAttribute(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  appendEscaped(out, text, true);
  return out;
}

CXmlWriter::CXmlWriter(std::string& out, bool indent) : out_(out), indent_(indent) {}

void CXmlWriter::declaration() { out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"; }

void CXmlWriter::stylesheet(const std::string& href) {
  out_ += "<?xml-stylesheet type=\"text/xsl\" href=\"";
  appendEscaped(out_, href, true);
  out_ += "\"?>\n";
}

void CXmlWriter::closeStartTag() {
  if (startTagOpen_) {
    out_ += '>';
    startTagOpen_ = false;
  }
}

void CXmlWriter::newLine(size_t level) {
  if (!indent_) return;
  out_ += '\n';
  out_.append(level * 2, ' ');
}

void CXmlWriter::startElement(const std::string& name) {
  closeStartTag();
  if (!open_.empty()) {
    Frame& parent = open_.back();
    parent.hasChildren = true;
    if (!parent.hasText) newLine(open_.size());
  }
  out_ += '<';
  out_ += name;
  open_.push_back(Frame{name});
  startTagOpen_ = true;
}

void CXmlWriter::attribute(const std::string& name, std::string_view value) {
  if (!startTagOpen_) return;
  out_ += ' ';
  out_ += name;
  out_ += "=\"";
  appendEscaped(out_, value, true);
  out_ += '"';
}

void CXmlWriter::text(std::string_view text) {
  if (open_.empty() || text.empty()) return;
  closeStartTag();
  open_.back().hasText = true;
  appendEscaped(out_, text, false);
}

void CXmlWriter::children(std::string_view markup) {
  if (open_.empty() || markup.empty()) return;
  closeStartTag();
  open_.back().hasChildren = true;
  out_ += markup;
}

void CXmlWriter::endElement() {
  if (open_.empty()) return;
  Frame frame = std::move(open_.back());
  open_.pop_back();
  if (startTagOpen_) {
    out_ += "/>";
    startTagOpen_ = false;
  } else {
    if (frame.hasChildren && !frame.hasText) newLine(open_.size());
    out_ += "</";
    out_ += frame.name;
    out_ += '>';
  }
  if (open_.empty() && indent_) out_ += '\n';
}

void CXmlWriter::finish() {
  while (!open_.empty()) endElement();
}

}  // namespace ZR
