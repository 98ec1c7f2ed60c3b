#include "service/http_guard.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "stdsoap2.h"

namespace velkan {
namespace {

constexpr const char* kPluginId = "zr-http-guard";

// What the guard keeps on each context: itself and the toolkit's own
// header parser, which still reads every header.
struct GuardState {
  const HttpGuard* guard;
  int (*parse)(struct soap*, const char*, const char*);
};

int guardedParse(struct soap* soap, const char* key, const char* value) {
  auto* state = static_cast<GuardState*>(soap_lookup_plugin(soap, kPluginId));
  if (!state) return SOAP_HDR;
  if (int status = state->guard->refusal(key ? key : "", value ? value : ""); status != 0) return status;
  return state->parse(soap, key, value);
}

int copyState(struct soap*, struct soap_plugin* to, struct soap_plugin* from) {
  to->data = std::make_unique<GuardState>(*static_cast<GuardState*>(from->data)).release();
  return SOAP_OK;
}

void deleteState(struct soap*, struct soap_plugin* plugin) {
  std::unique_ptr<GuardState> owned(static_cast<GuardState*>(plugin->data));
  plugin->data = nullptr;
}

int initState(struct soap* soap, struct soap_plugin* plugin, void* guard) {
  plugin->id = kPluginId;
  plugin->data = std::make_unique<GuardState>(GuardState{static_cast<const HttpGuard*>(guard), soap->fparsehdr}).release();
  plugin->fcopy = copyState;
  plugin->fdelete = deleteState;
  soap->fparsehdr = guardedParse;
  soap->cors_allow = nullptr;  // the toolkit would answer any Origin with "*"
  return SOAP_OK;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

// "name:port", "[::1]:port" or "name" split.
void splitHost(const std::string& host, std::string& name, int& port) {
  port = 0;
  size_t colon = host.rfind(':');
  bool bracketed = !host.empty() && host[0] == '[';
  if (colon != std::string::npos && (!bracketed || host.find(']') < colon)) {
    name = host.substr(0, colon);
    std::string digits = host.substr(colon + 1);
    bool number = !digits.empty() && digits.size() <= 5 && digits.find_first_not_of("0123456789") == std::string::npos;
    port = number ? std::atoi(digits.c_str()) : -1;
  } else {
    name = host;
  }
}

}  // namespace

void HttpGuard::install(struct soap* soap) const {
  soap_register_plugin_arg(soap, initState, const_cast<HttpGuard*>(this));
}

int HttpGuard::refusal(const std::string& key, const std::string& value) const {
  std::string header = lower(key);
  if (header == "origin") {
    return std::find(origins.begin(), origins.end(), value) == origins.end() ? 403 : 0;
  }
  if (header == "host") {
    std::string name;
    int named = 0;
    splitHost(value, name, named);
    name = lower(name);
    bool known = std::any_of(hostNames.begin(), hostNames.end(), [&](const std::string& n) { return lower(n) == name; });
    return known && (port == 0 || named == port) ? 0 : 403;
  }
  if (header == "content-type" && !contentTypes.empty()) {
    std::string type = lower(value.substr(0, value.find(';')));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.pop_back();
    return std::find(contentTypes.begin(), contentTypes.end(), type) == contentTypes.end() ? 415 : 0;
  }
  return 0;
}

}  // namespace velkan
