#include "service/error_messages.h"

#include <map>

#include "service/velkan_exceptions.h"
#include "stdsoap2.h"

namespace velkan {
namespace {

const std::map<int, const char*>& transportTable() {
  static const std::map<int, const char*> table = {
      {0, "SOAP_OK : No error"},
      {1, "SOAP_CLI_FAULT : The service returned a client fault (SOAP 1.2 Sender fault)"},
      {2, "SOAP_SVR_FAULT :  The service returned a server fault (SOAP 1.2 Receiver fault)"},
      {3, "SOAP_TAG_MISMATCH : An XML element didn't correspond to anything expected"},
      {4, "SOAP_TYPE_MISMATCH : An XML schema type mismatch"},
      {5, "SOAP_SYNTAX_ERROR : An XML syntax error occurred on the input"},
      {6, "SOAP_NO_TAG  : Begin of an element expected, but not found"},
      {7, "SOAP_IOB  : Array index out of bounds"},
      {8, "SOAP_MUSTUNDERSTAND :  An element needs to be ignored that need to be understood"},
      {9, "SOAP_NAMESPACE  : Namespace name mismatch (validation error)"},
      {10, "SOAP_OBJ_MISMATCH  : Mismatch in the size and/or shape of an object  "},
      {11, "SOAP_FATAL_ERROR : Internal error  "},
      {12, "SOAP_FAULT  : An exception raised by the service  "},
      {13, "SOAP_NO_METHOD : Skeleton error: the skeleton cannot serve the method  "},
      {14, "SOAP_GET_METHOD : Unsupported HTTP GET  "},
      {15, "SOAP_EOM  : Out of memory  "},
      {16, "SOAP_NULL : An element was null, while it is not supposed to be null  "},
      {17, "SOAP_MULTI_ID : Multiple occurrences of the same element ID on the input "},
      {18, "SOAP_MISSING_ID : Element ID missing for an HREF on the input  "},
      {19, "SOAP_HREF : Reference to object is incompatible with the object refered to  "},
      {20, "SOAP_TCP_ERROR : A TCP connection error occured  "},
      {21, "SOAP_HTTP_ERROR : An HTTP error occured  "},
      {22, "SOAP_SSL_ERROR : An SSL error occured  "},
      {23, "SOAP_ZLIB_ERROR : A Zlib error occured  "},
      {24, "SOAP_DIME_ERROR : DIME parsing error  "},
      {25, "SOAP_EOD : End of DIME error  "},
      {26, "SOAP_VERSIONMISMATCH :  SOAP version mismatch or no SOAP message  "},
      {27, "SOAP_DIME_MISMATCH : DIME version mismatch  "},
      {28, "SOAP_PLUGIN_ERROR : Failed to register plugin  "},
      {-1, "SOAP_EOF : Unexpected end of file, no input, or timeout receiving data  "},
      {29, "SOAP_MIME_ERROR"},
      {30, "SOAP_MIME_HREF"},
      {31, "SOAP_MIME_END"},
      {32, "SOAP_VERSIONMISMATCH"},
      {33, "SOAP_PLUGIN_ERROR"},
      {34, "SOAP_DATAENCODINGUNKNOWN"},
      {35, "SOAP_REQUIRED"},
      {36, "SOAP_PROHIBITED"},
      {37, "SOAP_OCCURS"},
      {38, "SOAP_LENGTH"},
  };
  return table;
}

const std::map<int, const char*>& serviceTable() {
  static const std::map<int, const char*> table = {
      {-2, "Success : Successful transaction"},
      {-3, "Not Authorized : Validation key does not match"},
      {-4, "Invalid Agent :  Agent not logged in"},
      {-5, "Invalid Path : Path not in metadata"},
      {-6, "Invalid Metadata : XML parsing failed"},
      {-7, "Invalid File : No file attached"},
      {-8, "Invalid Properties or Values  : Properties or values are null, or arrays mismatch"},
      {-9, "Storage Full  : No more storage space"},
      {-10, "Out of Sequence :  Block of data received out of order"},
  };
  return table;
}

std::string lookup(const std::map<int, const char*>& table, int code) {
  auto found = table.find(code);
  return found == table.end() ? std::string() : std::string(found->second);
}

}  // namespace

const CErrorMessageRegistry& CErrorMessageRegistry::instance() {
  static const CErrorMessageRegistry registry;  // initialised once, thread-safe
  return registry;
}

std::string CErrorMessageRegistry::transportMessage(int code) const { return lookup(transportTable(), code); }

std::string CErrorMessageRegistry::serviceMessage(int code) const { return lookup(serviceTable(), code); }

int toTransportCode(int status) {
  static const std::map<int, int> kMapped = {
      {SOAP_OK, 0},
      {SOAP_CLI_FAULT, 1},
      {SOAP_SVR_FAULT, 2},
      {SOAP_TAG_MISMATCH, 3},
      {SOAP_TYPE, 4},
      {SOAP_SYNTAX_ERROR, 5},
      {SOAP_NO_TAG, 6},
      {SOAP_IOB, 7},
      {SOAP_MUSTUNDERSTAND, 8},
      {SOAP_NAMESPACE, 9},
      {SOAP_FATAL_ERROR, 11},
      {SOAP_FAULT, 12},
      {SOAP_NO_METHOD, 13},
      {SOAP_GET_METHOD, 14},
      {SOAP_EOM, 15},
      {SOAP_NULL, 16},
      {SOAP_DUPLICATE_ID, 17},
      {SOAP_MISSING_ID, 18},
      {SOAP_HREF, 19},
      {SOAP_TCP_ERROR, 20},
      {SOAP_UDP_ERROR, 20},
      {SOAP_HTTP_ERROR, 21},
      {SOAP_SSL_ERROR, 22},
      {SOAP_ZLIB_ERROR, 23},
      {SOAP_DIME_ERROR, 24},
      {SOAP_DIME_END, 25},
      {SOAP_VERSIONMISMATCH, 26},
      {SOAP_DIME_MISMATCH, 27},
      {SOAP_PLUGIN_ERROR, 28},
      {SOAP_EOF, -1},
      {SOAP_MIME_ERROR, 29},
      {SOAP_MIME_HREF, 30},
      {SOAP_MIME_END, 31},
      {SOAP_DATAENCODINGUNKNOWN, 34},
      {SOAP_REQUIRED, 35},
      {SOAP_PROHIBITED, 36},
      {SOAP_OCCURS, 37},
      {SOAP_LENGTH, 38},
  };
  auto found = kMapped.find(status);
  if (found != kMapped.end()) return found->second;
  if (status >= 100 && status < 600) return kTransportHttpError;  // an HTTP status without a SOAP answer
  return 1000 + status;
}

void throwCacheManagerError(const std::string& text, int code) {
  std::string full = text + CErrorMessageRegistry::instance().serviceMessage(code) + "\n";
  if (code == CCacheManagerSpaceLimitException::kSpaceLimitCode) throw CCacheManagerSpaceLimitException(full);
  throw CCacheManagerException(full, code);
}

}  // namespace velkan
