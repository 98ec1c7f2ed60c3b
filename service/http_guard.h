// Which HTTP requests an endpoint of ours on this machine answers at all:
// a web page in the user's browser must not reach the cache manager or
// the status page. A request is refused, before its body is read, when it
// carries an Origin that is not listed (a browser sends one with every
// cross-site request), names a Host that is not ours (DNS rebinding: a
// site's name made to point at this machine), or has a body of a content
// type that is not listed (a browser's form or text/plain POST needs no
// preflight). No Access-Control-* header is ever sent.
#pragma once

#include <string>
#include <vector>

struct soap;

namespace velkan {

struct HttpGuard {
  std::vector<std::string> hostNames;     // taken in the Host header (compared without case; without the port)
  int port = 0;                           // the port the Host header must name; 0: any
  std::vector<std::string> origins;       // Origin values taken as they are; empty: every Origin refused
  std::vector<std::string> contentTypes;  // media types a request body may have; empty: any

  // Puts the guard on a listening context; the connections copied from it
  // keep it. The guard must outlive every context it is on.
  void install(struct soap* soap) const;
  // Why a request with this header is refused: an HTTP status (403, 415),
  // or 0 when the header is fine.
  int refusal(const std::string& key, const std::string& value) const;
};

}  // namespace velkan
