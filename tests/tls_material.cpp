#include "tests/tls_material.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

#ifdef _WIN32
#include "platform/win32.h"
#endif

namespace testsupport {
namespace {

const char* const kScript = R"(set -e
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

#ifdef _WIN32
// Under wine the host's openssl program makes the material: wine starts
// host programs, in the host's name of the folder. It gives no handle to
// wait on, so the script leaves a mark when it is done.
bool runHostScript(const std::string& folder) {
  using HostName = char*(CDECL*)(const wchar_t*);
  auto hostName = reinterpret_cast<HostName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!hostName) return false;
  char* hostFolder = hostName(platform::utf8ToWide(folder).c_str());
  if (!hostFolder) return false;
  std::string script = std::string("cd '") + hostFolder + "' && " + kScript + "touch done\n";
  HeapFree(GetProcessHeap(), 0, hostFolder);
  platform::ProcessResult ignored;
  platform::runProcess({"Z:\\bin\\sh", "-c", script}, {}, "", &ignored);
  for (int waited = 0; waited < 30000 && !fileExists(folder + "\\done"); waited += 50) Sleep(50);
  return fileExists(folder + "\\done");
}
#endif

}  // namespace

TlsMaterial makeTlsMaterial(const std::string& folder) {
#ifdef _WIN32
  if (!runHostScript(folder)) ADD_FAILURE() << "no TLS material: this test makes it with the host's openssl under wine";
  const std::string s = "\\";
#else
  auto result = run({"/bin/sh", "-c", kScript}, {}, folder);
  EXPECT_EQ(result.exitCode, 0) << result.standardError;
  const std::string s = "/";
#endif
  return TlsMaterial{folder + s + "server.pem", folder + s + "server.key", folder + s + "certs", folder + s + "othercerts"};
}

}  // namespace testsupport
