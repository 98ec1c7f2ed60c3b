#include "status/policy_status.h"

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/string_utils.h"
#include "status/status_files.h"

namespace velkan {

std::string readCurrentPolicy(platform::Env& env, const std::string& file) {
  ZR::CFile in(env, file, "r");
  char text[1025] = {};
  int64_t got = in.isValid() ? in.read(text, 1024) : 0;
  if (got <= 0) return "";
  std::string bytes(text, static_cast<size_t>(got));
  return bytes.substr(0, bytes.find('\0'));
}

void updatePolicyStatus(const std::string& policy, const std::vector<std::string>& uploadPaths, StatusFiles& status) {
  if (!ZR::CStringUtils::startsWith(policy, "remotepolicies/")) return;
  if (!uploadPaths.empty()) {
    status.replaceWaiting(policy, uploadPaths);
    return;
  }
  std::string statusPath = policy;
  statusPath.replace(policy.rfind('.'), 4, ".status");  // no "." throws std::out_of_range
  ZR::CFile out(status.env(), statusPath, "w");
  const char done[4] = {2, 0, 0, 0};
  out.write(done, sizeof done);
  out.close();
}

}  // namespace velkan
