// Building XML trees: from a file, or element by element in code.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bindings/zrcore/xml_element.h"
#include "bindings/zrcore/xml_reader.h"

namespace ZR {

class CXmlBuilder {
 public:
  CXmlBuilder() = default;
  CXmlBuilder(const CXmlBuilder&) = delete;
  CXmlBuilder& operator=(const CXmlBuilder&) = delete;

  // Parses a file into a tree that the caller owns and deletes (wrap it in
  // a std::unique_ptr at once). Null on failure, with the reason in `error`
  // (see CXmlReader::parseFile for its texts).
  static CXmlElement* fileToDocument(platform::Env& env, const std::string& path, std::string& error,
                                     const CXmlLimits& limits = CXmlLimits());
  // The same through the process's Env, for callers outside the programs.
  static CXmlElement* fileToDocument(const std::string& path, std::string& error,
                                     const CXmlLimits& limits = CXmlLimits());
  static CXmlElement* textToDocument(const std::string& text, std::string& error,
                                     const CXmlLimits& limits = CXmlLimits());
  // Renders a document with the XML declaration, one element per line.
  static void documentToBuffer(const CXmlElement& root, std::string& out);
  static void documentToBuffer(const CXmlElement* root, std::string& out);

  // Opens a child of the open element (or the root).
  void startElement(const std::string& name);
  // Sets an attribute of the open element.
  void attribute(const std::string& name, const std::string& value);
  // Adds a child with text and no children to the open element.
  void element(const std::string& name, const std::string& text);
  // Closes the open element; the name is for the reader of the calling code.
  void endElement(const std::string& name);
  // The built tree (null when nothing was started). The builder keeps
  // owning it: it lives as long as the builder.
  CXmlElement* getDocument();
  // Hands the built tree over to the caller; the builder is empty afterwards.
  std::unique_ptr<CXmlElement> takeDocument();

 private:
  std::unique_ptr<CXmlElement> root_;
  std::vector<CXmlElement*> open_;
};

}  // namespace ZR
