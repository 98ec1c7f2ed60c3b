// Certificates made at test time with the openssl program: a CA, a server
// certificate for "localhost" signed by it, and a CA folder in the hashed
// layout OpenSSL reads. A second, unrelated CA for the negative cases.
#pragma once

#include <string>

namespace testsupport {

struct TlsMaterial {
  std::string serverCertificate;
  std::string serverKey;
  std::string caFolder;        // trusts the server
  std::string otherCaFolder;   // trusts only an unrelated CA
};

// Writes everything below `folder`; fails the test when openssl fails.
TlsMaterial makeTlsMaterial(const std::string& folder);

}  // namespace testsupport
