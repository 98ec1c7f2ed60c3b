#include "service/prompt_send.h"

#include "platform/socket_port.h"
#include "stdsoap2.h"

namespace velkan {

int sendPromptly(struct soap* soap, ToolkitSend toolkitSend, const char* data, size_t length) {
  SOAP_SOCKET socket = soap_valid_socket(soap->sendsk) ? soap->sendsk : soap->socket;
  bool plain = soap_valid_socket(socket) && !soap->ssl && !soap->os && !(soap->omode & SOAP_IO_UDP);
  if (plain) {
    size_t sent = platform::sendWithoutWaiting(static_cast<uint64_t>(socket), data, length);
    data += sent;
    length -= sent;
  }
  return length == 0 ? SOAP_OK : toolkitSend(soap, data, length);
}

}  // namespace velkan
