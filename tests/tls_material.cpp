#include "tests/tls_material.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace testsupport {

TlsMaterial makeTlsMaterial(const std::string& folder) {
  const std::string script = R"(set -e
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }
mkdir -p certs othercerts
key ca.key
openssl req -x509 -new -key ca.key -out ca.pem -days 2 -subj /CN=Test-CA 2>/dev/null
key other.key
openssl req -x509 -new -key other.key -out other.pem -days 2 -subj /CN=Other-CA 2>/dev/null
key server.key
openssl req -new -key server.key -out server.csr -subj /CN=localhost 2>/dev/null
printf 'subjectAltName=DNS:localhost\n' > san.ext
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 -extfile san.ext 2>/dev/null
cp ca.pem certs/ && openssl rehash certs
cp other.pem othercerts/ && openssl rehash othercerts
)";
  auto result = run({"/bin/sh", "-c", script}, {}, folder);
  EXPECT_EQ(result.exitCode, 0) << result.standardError;
  return TlsMaterial{folder + "/server.pem", folder + "/server.key", folder + "/certs", folder + "/othercerts"};
}

}  // namespace testsupport
