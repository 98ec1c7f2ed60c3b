#include "bindings/zrcore/xml_reader.h"

#include <expat.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/env.h"
#include "platform/path.h"

namespace ZR {

const char* const kExpatErrorText = "Expat parser returned errors";

const char* CXmlAttributes::find(const char* name) const {
  for (const char** p = pairs_; p && *p; p += 2) {
    if (std::strcmp(*p, name) == 0) return p[1];
  }
  return nullptr;
}

namespace {

struct ParseState {
  XML_Parser parser = nullptr;
  CXmlHandler* handler = nullptr;
  CXmlLimits limits;
  int depth = 0;
  std::string refusal;  // set when we stopped the parser ourselves
};

void refuse(ParseState* s, const std::string& why) {
  if (s->refusal.empty()) {
    s->refusal = "document refused: " + why + " at line " +
                 std::to_string(XML_GetCurrentLineNumber(s->parser));
  }
  XML_StopParser(s->parser, XML_FALSE);
}

void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attributes) {
  auto* s = static_cast<ParseState*>(data);
  if (++s->depth > s->limits.maxDepth) {
    refuse(s, "elements nested deeper than " + std::to_string(s->limits.maxDepth));
    return;
  }
  s->handler->startElement(name, CXmlAttributes(attributes));
}

void XMLCALL onEnd(void* data, const XML_Char* name) {
  auto* s = static_cast<ParseState*>(data);
  --s->depth;
  s->handler->endElement(name);
}

void XMLCALL onCharacters(void* data, const XML_Char* text, int length) {
  auto* s = static_cast<ParseState*>(data);
  if (length > 0) s->handler->characters(text, static_cast<size_t>(length));
}

void XMLCALL onEntityDeclaration(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                                 const XML_Char*, const XML_Char*, const XML_Char*) {
  refuse(static_cast<ParseState*>(data), "entity declarations are not accepted");
}

// windows-1252 (as Windows producers write it): Latin-1 but for 0x80-0x9F,
// five of which are unassigned and refused.
int XMLCALL onUnknownEncoding(void*, const XML_Char* name, XML_Encoding* info) {
  static const int kHigh[32] = {0x20AC, -1,     0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, -1,     0x017D, -1,
                                -1,     0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, -1,     0x017E, 0x0178};
  std::string lower;
  for (const XML_Char* p = name; *p; ++p) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  if (lower != "windows-1252" && lower != "cp1252" && lower != "x-cp1252") return XML_STATUS_ERROR;
  for (int i = 0; i < 256; ++i) info->map[i] = (i >= 0x80 && i < 0xA0) ? kHigh[i - 0x80] : i;
  info->data = nullptr;
  info->convert = nullptr;
  info->release = nullptr;
  return XML_STATUS_OK;
}

struct ParserDeleter {
  void operator()(XML_Parser p) const { XML_ParserFree(p); }
};
using ParserPtr = std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserDeleter>;

class Session {
 public:
  // The document's own encoding declaration counts (UTF-8 without one);
  // what the handler receives is UTF-8 whatever the document's encoding.
  Session(CXmlHandler& handler, const CXmlLimits& limits) : parser_(XML_ParserCreate(nullptr)) {
    if (!parser_) return;
    state_.parser = parser_.get();
    state_.handler = &handler;
    state_.limits = limits;
    XML_SetUserData(parser_.get(), &state_);
    XML_SetElementHandler(parser_.get(), onStart, onEnd);
    XML_SetCharacterDataHandler(parser_.get(), onCharacters);
    XML_SetEntityDeclHandler(parser_.get(), onEntityDeclaration);
    XML_SetUnknownEncodingHandler(parser_.get(), onUnknownEncoding, nullptr);
    XML_SetParamEntityParsing(parser_.get(), XML_PARAM_ENTITY_PARSING_NEVER);
  }

  bool ok() const { return parser_ != nullptr; }

  // Feeds one piece; not ok once the document failed.
  platform::Status feed(const char* data, size_t length, bool last) {
    while (length > 0 || last) {
      int piece = static_cast<int>(length > (1u << 30) ? (1u << 30) : length);
      bool isFinal = last && static_cast<size_t>(piece) == length;
      if (XML_Parse(parser_.get(), data, piece, isFinal ? XML_TRUE : XML_FALSE) != XML_STATUS_OK) return failure();
      data += piece;
      length -= static_cast<size_t>(piece);
      if (isFinal) break;
    }
    return platform::Status::ok();
  }

 private:
  platform::Status failure() const {
    if (!state_.refusal.empty()) return platform::Status::refused(state_.refusal);
    XML_Parser p = parser_.get();
    return platform::Status::syntaxError(std::string(kExpatErrorText) + ": " + XML_ErrorString(XML_GetErrorCode(p)) +
                                         " at line " + std::to_string(XML_GetCurrentLineNumber(p)) + ", column " +
                                         std::to_string(XML_GetCurrentColumnNumber(p)));
  }

  ParserPtr parser_;
  ParseState state_;
};

const platform::Status kNoParser = platform::Status::ioError("out of memory creating the XML parser");

}  // namespace

platform::Status CXmlReader::parseText(const std::string& text, CXmlHandler& handler, const CXmlLimits& limits) {
  Session session(handler, limits);
  if (!session.ok()) return kNoParser;
  return session.feed(text.data(), text.size(), true);
}

platform::Status CXmlReader::parseFile(platform::Env& env, const std::string& path, CXmlHandler& handler,
                                       const CXmlLimits& limits) {
  std::unique_ptr<platform::ReadableFile> file;
  if (platform::Status opened = env.openReadable(platform::hostPath(path), &file); !opened) return opened;
  Session session(handler, limits);
  if (!session.ok()) return kNoParser;
  std::vector<char> buf(1 << 16);
  for (;;) {
    int64_t got = file->read(buf.data(), buf.size());
    if (got < 0) return platform::Status::ioError("cannot read " + path);
    if (platform::Status fed = session.feed(buf.data(), static_cast<size_t>(got), got == 0); !fed) return fed;
    if (got == 0) return platform::Status::ok();
  }
}

bool CXmlReader::parseFile(platform::Env& env, const std::string& path, CXmlHandler& handler, std::string& error,
                           const CXmlLimits& limits) {
  platform::Status parsed = parseFile(env, path, handler, limits);
  error = parsed.message();
  return parsed.isOk();
}

bool CXmlReader::parseText(const std::string& text, CXmlHandler& handler, std::string& error, const CXmlLimits& limits) {
  platform::Status parsed = parseText(text, handler, limits);
  error = parsed.message();
  return parsed.isOk();
}

}  // namespace ZR
