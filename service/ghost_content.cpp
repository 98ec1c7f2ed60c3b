#include "service/ghost_content.h"

#include <algorithm>
#include <stdexcept>

#include "bindings/zrcore/string_utils.h"
#include "bindings/zrcore/xml_element.h"
#include "bindings/zrcore/xml_writer.h"

namespace velkan {

std::string ghostRemotePath(const std::string& entryPath) {
  std::string p = entryPath;
  std::replace(p.begin(), p.end(), '\\', '/');
  if (!p.empty() && p.back() == '/') p.pop_back();
  if (p.empty()) throw std::out_of_range("ghost content entry without path");
  size_t slash = p.rfind('/');
  std::string folder = slash == std::string::npos ? p : p.substr(0, slash);
  size_t lastSlash = folder.rfind('/');
  std::string name = lastSlash == std::string::npos ? folder : folder.substr(lastSlash + 1);
  if (name.find(':') != std::string::npos) {
    std::replace(name.begin(), name.end(), ':', ' ');
    name = ZR::CStringUtils::rtrim(name, " \t\n\r");
    if (name.size() == 1) name = ZR::CStringUtils::lowerCaseASCII(name);
  }
  return folder + "/" + name + ".xml";
}

void appendGhostEntries(const ZR::CXmlElement& group, ZR::CXmlWriter& writer) {
  auto slashed = [](const ZR::CXmlElement& e) {
    const ZR::CXmlAttribute* path = e.getAttribute("path");
    std::string p = path ? path->value : "";
    std::replace(p.begin(), p.end(), '\\', '/');
    return p;
  };
  for (size_t i = 0; i < group.getChildCount(); ++i) {
    const ZR::CXmlElement& entry = *group.getChild(i);
    if (entry.getName() == "directory") {
      writer.startElement("directory");
      writer.attribute("path", slashed(entry));
      writer.endElement();
    } else if (entry.getName() == "file") {
      writer.startElement("file");
      writer.attribute("path", slashed(entry));
      for (size_t k = 0; k < entry.getChildCount(); ++k) {
        const ZR::CXmlElement& detail = *entry.getChild(k);
        std::string value, message;
        detail.getValue("/" + detail.getName(), value, message);
        writer.startElement(detail.getName());
        writer.text(value);
        writer.endElement();
      }
      writer.endElement();
    }
  }
}

std::string ghostDocument(const ZR::CXmlElement& group) {
  std::string text;
  ZR::CXmlWriter writer(text, true);
  writer.declaration();
  writer.startElement("contents");
  appendGhostEntries(group, writer);
  writer.finish();
  return text;
}

}  // namespace velkan
