// The XML reader, the tree, path expressions and the writer. Input: a path
// expression, a line feed, then the document. A document that parses must
// parse again after writing, and write the same the second time.
#include <memory>

#include "bindings/zrcore/xml_builder.h"
#include "fuzz/fuzz_support.h"

using namespace fuzzsupport;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto [expression, document] = splitAt(asText(data, size), '\n');
  std::string error;
  std::unique_ptr<ZR::CXmlElement> root(ZR::CXmlBuilder::textToDocument(std::string(document), error));
  if (!root) return 0;
  std::string value, message;
  root->getValue(std::string(expression), value, message);
  for (size_t i = 0; i < root->getChildCount() && i < 8; ++i) {
    root->getChild(i)->getValue(std::string(expression), value, message);
  }
  std::string once;
  root->serialize(once, false, true, "");
  std::unique_ptr<ZR::CXmlElement> again(ZR::CXmlBuilder::textToDocument(once, error));
  require(again != nullptr, "a written document does not parse");
  std::string twice;
  again->serialize(twice, false, true, "");
  require(once == twice, "writing a document read back changes it");
  return 0;
}
