#include "bindings/zrcore/configurator.h"

#include "bindings/zrcore/xml_builder.h"

namespace ZR {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

bool decodeBase64(const std::string& text, std::string& out) {
  if (text.size() % 4 != 0) return false;
  std::string decoded;
  decoded.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    bool lastGroup = i + 4 == text.size();
    int padding = 0;
    if (lastGroup && text[i + 3] == '=') padding = (text[i + 2] == '=') ? 2 : 1;
    uint32_t group = 0;
    for (int k = 0; k < 4; ++k) {
      int value = (k >= 4 - padding) ? 0 : sextet(text[i + static_cast<size_t>(k)]);
      if (value < 0) return false;
      group = (group << 6) | static_cast<uint32_t>(value);
    }
    // Bits that padding leaves out must be zero, or the text is not canonical.
    if ((padding == 1 && (group & 0xFF)) || (padding == 2 && (group & 0xFFFF))) return false;
    decoded += static_cast<char>((group >> 16) & 0xFF);
    if (padding < 2) decoded += static_cast<char>((group >> 8) & 0xFF);
    if (padding < 1) decoded += static_cast<char>(group & 0xFF);
  }
  out = std::move(decoded);
  return true;
}

std::string encodeBase64(const std::string& data) {
  std::string out;
  for (size_t i = 0; i < data.size(); i += 3) {
    uint32_t group = static_cast<unsigned char>(data[i]) << 16;
    if (i + 1 < data.size()) group |= static_cast<unsigned char>(data[i + 1]) << 8;
    if (i + 2 < data.size()) group |= static_cast<unsigned char>(data[i + 2]);
    out += kAlphabet[(group >> 18) & 63];
    out += kAlphabet[(group >> 12) & 63];
    out += i + 1 < data.size() ? kAlphabet[(group >> 6) & 63] : '=';
    out += i + 2 < data.size() ? kAlphabet[group & 63] : '=';
  }
  return out;
}

bool CConfigurator::getString(const std::string& key, std::string& out) const {
  auto found = values_.find(key);
  if (found == values_.end()) return false;
  out = found->second;
  return true;
}

bool CConfigurator::getBase64String(const std::string& key, std::string& out) const {
  std::string encoded;
  return getString(key, encoded) && decodeBase64(encoded, out);
}

CConfiguratorXmlImpl2::CConfiguratorXmlImpl2() : env_(*platform::env()) {}

bool CConfiguratorXmlImpl2::loadConfig(const std::string& file) {
  values_.clear();
  std::unique_ptr<CXmlElement> document(CXmlBuilder::fileToDocument(env_, file, error_));
  if (!document) return false;
  for (size_t i = 0; i < document->getChildCount(); ++i) {
    const CXmlElement* entry = document->getChild(i);
    const CXmlAttribute* key = entry->getAttribute("key");
    if (!key) continue;
    const CXmlAttribute* value = entry->getAttribute("value");
    values_.emplace(key->value, value ? value->value : entry->getText());
  }
  error_.clear();
  return true;
}

}  // namespace ZR
