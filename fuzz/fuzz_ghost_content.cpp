// The ghost content file: each group becomes a remote path and a document
// of its entries, which must be well-formed XML with one element per entry.
#include <memory>
#include <stdexcept>

#include "bindings/zrcore/xml_builder.h"
#include "fuzz/fuzz_support.h"
#include "service/ghost_content.h"

using namespace fuzzsupport;

namespace {

size_t entriesOf(const ZR::CXmlElement& group) {
  size_t count = 0;
  for (size_t i = 0; i < group.getChildCount(); ++i) {
    const std::string& name = group.getChild(i)->getName();
    count += name == "directory" || name == "file";
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  std::unique_ptr<ZR::CXmlElement> document(
      ZR::CXmlBuilder::fileToDocument(writeInput("ghost.xml", asText(data, size)), error));
  if (!document) return 0;
  for (size_t i = 0; i < document->getChildCount(); ++i) {
    const ZR::CXmlElement& group = *document->getChild(i);
    if (group.getChildCount() == 0) continue;
    const ZR::CXmlAttribute* first = group.getChild(size_t{0})->getAttribute("path");
    try {
      velkan::ghostRemotePath(first ? first->value : "");
    } catch (const std::out_of_range&) {
      // An empty first path: the client reports the group as failed.
    }
    std::unique_ptr<ZR::CXmlElement> sent(
        ZR::CXmlBuilder::textToDocument(velkan::ghostDocument(group), error));
    require(sent != nullptr, "a ghost document is not well-formed");
    require(sent->getChildCount() == entriesOf(group), "a ghost document lost or gained entries");
  }
  return 0;
}
