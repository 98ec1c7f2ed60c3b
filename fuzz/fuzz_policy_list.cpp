// Policy lists and their targets, as the unpersisted modes read them; the
// first three policy values count as expired.
#include <vector>

#include "engine/policy_targets.h"
#include "fuzz/fuzz_support.h"

using namespace fuzzsupport;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<dornik::Policy> policies;
  std::string error;
  std::string input = writeInput("policies.xml", asText(data, size));
  if (!dornik::readPolicyList(*platform::Env::defaultEnv(), input, policies, error)) return 0;
  dornik::TextSet expired;
  for (size_t i = 0; i < policies.size() && i < 3; ++i) expired.insert(policies[i].value);
  dornik::TargetNormaliser normaliser(&quietLogger());
  dornik::TextSet targets = dornik::policyTargets(policies, expired, normaliser, quietLogger());
  require(targets.size() <= policies.size(), "more targets than policies");
  return 0;
}
