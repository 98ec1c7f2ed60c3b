// The flat key/value settings file and strict Base64. Input: a key, a line
// feed, then the file. Anything Base64 decodes must encode back to text
// that decodes to the same bytes.
#include "bindings/zrcore/configurator.h"
#include "fuzz/fuzz_support.h"

using namespace fuzzsupport;

namespace {

void checkBase64(const std::string& text) {
  std::string decoded;
  if (!ZR::decodeBase64(text, decoded)) return;
  std::string again;
  require(ZR::decodeBase64(ZR::encodeBase64(decoded), again) && again == decoded, "Base64 does not round-trip");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto [key, file] = splitAt(asText(data, size), '\n');
  checkBase64(std::string(asText(data, size)));
  ZR::CConfiguratorXmlImpl2 configurator;
  if (!configurator.loadConfig(writeInput("agent.xml", file))) return 0;
  std::string value;
  if (configurator.getString(std::string(key), value)) checkBase64(value);
  configurator.getBase64String(std::string(key), value);
  return 0;
}
