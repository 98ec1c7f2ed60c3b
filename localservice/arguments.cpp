#include <cstdlib>
#include <string>

#include "bindings/zrcore/string_utils.h"
#include "localservice/local_service.h"

namespace localservice {
namespace {

bool number(const std::string& text, int64_t& out) {
  if (text.empty()) return false;
  size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  out = ZR::CNumberText::toInt64(text);
  return true;
}

// "operation=code:count", e.g. createFile=-9:2.
bool injectedAnswer(const std::string& text, ServiceConfig& config) {
  size_t equals = text.find('='), colon = text.rfind(':');
  int64_t code = 0, count = 1;
  if (equals == std::string::npos || equals == 0) return false;
  std::string codeText = text.substr(equals + 1, colon == std::string::npos || colon < equals ? std::string::npos
                                                                                               : colon - equals - 1);
  if (!number(codeText, code)) return false;
  if (colon != std::string::npos && colon > equals && !number(text.substr(colon + 1), count)) return false;
  config.injectedAnswers[text.substr(0, equals)] = {static_cast<int>(code), static_cast<int>(count)};
  return true;
}

}  // namespace

bool parseArguments(int argc, char** argv, ServiceConfig& config, std::string& error) {
  // The port examples/backup.xml names, so that a first run just works.
  config.port = kDefaultPort;
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    if (i + 1 >= argc) {
      error = "option " + option + " needs a value";
      return false;
    }
    std::string value = argv[++i];
    int64_t n = 0;
    bool ok = true;
    if (option == "--root") {
      config.root = value;
    } else if (option == "--host") {
      config.host = value;
    } else if (option == "--port") {
      ok = number(value, n) && n >= 0 && n <= 65535;
      config.port = static_cast<int>(n);
    } else if (option == "--tls-cert") {
      config.tlsCertificate = value;
    } else if (option == "--tls-key") {
      config.tlsKey = value;
    } else if (option == "--agents") {
      config.agentsFile = value;
    } else if (option == "--quota") {
      ok = number(value, n);
      config.quotaBytes = n;
    } else if (option == "--keep-days") {
      ok = number(value, n) && n >= 0 && n <= 36500;
      config.history.keepDays = static_cast<int>(n);
    } else if (option == "--keep-versions") {
      ok = number(value, n) && n >= 0 && n <= 1000000;
      config.history.keepVersions = static_cast<int>(n);
    } else if (option == "--session-seconds") {
      ok = number(value, n) && n > 0;
      config.sessionSeconds = static_cast<int>(n);
    } else if (option == "--max-connections") {
      ok = number(value, n) && n > 0 && n <= 100000;
      config.maxConnections = static_cast<int>(n);
    } else if (option == "--timeout") {
      ok = number(value, n) && n > 0;
      config.timeoutSeconds = static_cast<int>(n);
    } else if (option == "--fault-answer") {
      ok = injectedAnswer(value, config);
    } else if (option == "--fault-drop-after") {
      ok = number(value, n) && n >= 0;
      config.dropAfterBytes = n;
    } else if (option == "--allow-origin") {
      config.allowedOrigins.push_back(value);
    } else if (option == "--allow-host") {
      config.allowedHosts.push_back(value);
    } else if (option == "--fault-latency") {
      ok = number(value, n) && n >= 0 && n <= 60000;
      config.latencyMs = static_cast<int>(n);
    } else if (option == "--fault-listed-size") {
      ok = number(value, n) && n >= 0;
      config.fakeListedSize = n;
    } else if (option == "--fault-answer-bytes") {
      ok = number(value, n) && n >= 0 && n <= (64 << 20);
      config.fakeAnswerBytes = n;
    } else if (option == "--fault-slow-read") {
      ok = number(value, n) && n > 0;
      config.slowReadBytesPerSecond = n;
    } else {
      error = "unknown option " + option;
      return false;
    }
    if (!ok) {
      error = "bad value '" + value + "' for " + option;
      return false;
    }
  }
  if (config.root.empty()) error = "--root is required";
  if (config.tlsCertificate.empty() != config.tlsKey.empty()) error = "--tls-cert and --tls-key go together";
  return error.empty();
}

}  // namespace localservice
