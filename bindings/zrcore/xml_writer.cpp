#include "bindings/zrcore/xml_writer.h"

namespace ZR {
namespace {

void appendEscaped(std::string& out, const std::string& text, bool forAttribute) {
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      case '\t': forAttribute ? out += "&#9;" : out += c; break;
      case '\n': forAttribute ? out += "&#10;" : out += c; break;
      case '\r': out += "&#13;"; break;
      default: out += c;
    }
  }
}

}  // namespace

std::string CXmlUtil::escapeXml2(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  appendEscaped(out, text, false);
  return out;
}

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

void CXmlWriter::attribute(const std::string& name, const std::string& value) {
  if (!startTagOpen_) return;
  out_ += ' ';
  out_ += name;
  out_ += "=\"";
  appendEscaped(out_, value, true);
  out_ += '"';
}

void CXmlWriter::text(const std::string& text) {
  if (open_.empty() || text.empty()) return;
  closeStartTag();
  open_.back().hasText = true;
  appendEscaped(out_, text, false);
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
