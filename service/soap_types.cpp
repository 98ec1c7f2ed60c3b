// Serializers of xsd__string and the namespace tables of the service; this
// is the one file that includes the generated table.
#include <cstring>

#include "soapH.h"

// The generated table holds the history namespace too; under another name
// it is the table of the history calls and of cachemanager-local's
// connections (which must read them).
#define namespaces historyNamespaceTable
#include "CacheHistory.nsmap"
#undef namespaces

// The table of every other message: the specified service's namespaces
// alone, so that its envelopes declare nothing more than they always did.
SOAP_NMAC struct Namespace namespaces[] = {
    {"SOAP-ENV", "http://schemas.xmlsoap.org/soap/envelope/", "http://www.w3.org/*/soap-envelope", nullptr},
    {"SOAP-ENC", "http://schemas.xmlsoap.org/soap/encoding/", "http://www.w3.org/*/soap-encoding", nullptr},
    {"xsi", "http://www.w3.org/2001/XMLSchema-instance", "http://www.w3.org/*/XMLSchema-instance", nullptr},
    {"xsd", "http://www.w3.org/2001/XMLSchema", "http://www.w3.org/*/XMLSchema", nullptr},
    {"ns1", "urn:com.orbek.cachemanager", nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr}};

struct Namespace* historyNamespaces() { return historyNamespaceTable; }

SOAP_FMAC1 void SOAP_FMAC2 soap_default_xsd__string(struct soap*, char** a) { *a = nullptr; }

SOAP_FMAC1 void SOAP_FMAC2 soap_serialize_xsd__string(struct soap* soap, char* const* a) {
  soap_reference(soap, *a, SOAP_TYPE_xsd__string);
}

// Parts go out without xsi:type.
SOAP_FMAC1 int SOAP_FMAC2 soap_out_xsd__string(struct soap* soap, const char* tag, int id, char* const* a,
                                               const char*) {
  return soap_outstring(soap, tag, id, a, nullptr, SOAP_TYPE_xsd__string);
}

namespace {

// xsd:string, or the SOAP encoding's string type derived from it, which
// SOAP-encoded stacks put on every string part. Matched by namespace
// (whatever the prefix), with the namespace years the table accepts.
bool isStringType(struct soap* soap, const char* type) {
  return soap_match_tag(soap, type, "xsd:string") == SOAP_OK || soap_match_tag(soap, type, "SOAP-ENC:string") == SOAP_OK;
}

}  // namespace

// A part that declares another type than a string fails the call with the
// type-mismatch status; one without xsi:type is read as a string.
SOAP_FMAC1 char** SOAP_FMAC2 soap_in_xsd__string(struct soap* soap, const char* tag, char** a, const char* type) {
  if (soap_peek_element(soap) == SOAP_OK && *soap->type && !isStringType(soap, soap->type)) {
    soap->error = SOAP_TYPE;
    return nullptr;
  }
  if (soap->error == SOAP_NO_TAG || soap->error == SOAP_TAG_MISMATCH) soap->error = SOAP_OK;
  char** read = soap_instring(soap, tag, a, type, SOAP_TYPE_xsd__string, 1, 0, -1, nullptr);
  // The first part of a request is the session key (the login's is the
  // authentication text): a service that must know it before it takes any
  // attachment byte sees it here, through the string check hook.
  if (read && *read && soap->fsvalidate && tag && std::strcmp(tag, "in0") == 0) {
    soap->error = soap->fsvalidate(soap, tag, *read);
    if (soap->error) return nullptr;
  }
  return read;
}
