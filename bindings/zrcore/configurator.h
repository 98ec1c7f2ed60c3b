// Flat key/value settings files such as the agent's agent.xml, in the XML
// properties layout:
//
//   <properties>
//     <entry key="config.proxy.http.host">proxy.example.org</entry>
//   </properties>
//
// The root's name is not checked; an entry's value is its text, or its
// `value` attribute when it has one. Of two entries with one key the first
// counts.
#pragma once

#include <map>
#include <string>

#include "platform/env.h"

namespace ZR {

class CConfigurator {
 public:
  virtual ~CConfigurator() = default;
  // False when the key is absent.
  virtual bool getString(const std::string& key, std::string& out) const;
  // Reads a Base64-encoded value and decodes it. False when the key is
  // absent or the text is not valid Base64; `out` is untouched then.
  virtual bool getBase64String(const std::string& key, std::string& out) const;

 protected:
  std::map<std::string, std::string> values_;
};

class CConfiguratorXmlImpl2 : public CConfigurator {
 public:
  // Reads through `env`; without one, through the process's Env.
  explicit CConfiguratorXmlImpl2(platform::Env& env) : env_(env) {}
  CConfiguratorXmlImpl2();
  // False when the file cannot be read or is not well-formed XML.
  bool loadConfig(const std::string& file);
  const std::string& lastError() const { return error_; }

 private:
  platform::Env& env_;
  std::string error_;
};

// Strict Base64 (RFC 4648 alphabet, padding required to a multiple of four,
// no other characters). False on malformed input.
bool decodeBase64(const std::string& text, std::string& out);
std::string encodeBase64(const std::string& data);

}  // namespace ZR
