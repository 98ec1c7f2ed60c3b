// Streaming XML reading on Expat: the document is handed to a handler event
// by event, so a large file never has to be held as a tree.
//
// Hostile documents are bounded: nesting deeper than the limit and entity
// declarations (the way to "billion laughs" expansion and to external
// entities) are refused; external entities are never read.
#pragma once

#include <string>

#include "platform/env.h"
#include "platform/status.h"

namespace ZR {

// Attributes as Expat gives them: name, value, name, value, ..., null.
class CXmlAttributes {
 public:
  explicit CXmlAttributes(const char** pairs) : pairs_(pairs) {}
  // Value of the first attribute of that name; null when absent.
  const char* find(const char* name) const;
  const char** pairs() const { return pairs_; }

 private:
  const char** pairs_;
};

class CXmlHandler {
 public:
  virtual ~CXmlHandler() = default;
  virtual void startElement(const char* name, const CXmlAttributes& attributes) = 0;
  virtual void endElement(const char* name) = 0;
  // Character data directly inside the current element; may come in pieces.
  virtual void characters(const char* data, size_t length) = 0;
};

struct CXmlLimits {
  int maxDepth = 256;
};

// The text every syntax error message starts with.
extern const char* const kExpatErrorText;

class CXmlReader {
 public:
  // Parses a file. A document that is not well-formed fails with
  // kSyntaxError (the message holds kExpatErrorText, line and column); one
  // we refuse (too deep, entity declarations) with kRefused; a file that
  // cannot be read with kNotFound or kIoError.
  static platform::Status parseFile(platform::Env& env, const std::string& path, CXmlHandler& handler,
                                    const CXmlLimits& limits = CXmlLimits());
  static platform::Status parseText(const std::string& text, CXmlHandler& handler,
                                    const CXmlLimits& limits = CXmlLimits());
  // The same with the message alone; false on failure.
  static bool parseFile(platform::Env& env, const std::string& path, CXmlHandler& handler, std::string& error,
                        const CXmlLimits& limits = CXmlLimits());
  static bool parseText(const std::string& text, CXmlHandler& handler, std::string& error,
                        const CXmlLimits& limits = CXmlLimits());
};

}  // namespace ZR
