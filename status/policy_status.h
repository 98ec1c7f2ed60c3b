// The agent's current policy and what the run tells it back. The agent
// names the policy in status\cs_curpolicy.xml; for a remote policy
// ("remotepolicies/<name>.xml") the run either lists the files it is about
// to upload as the policy's waiting targets, or, with nothing to upload,
// creates the policy's ".status" file holding the 32-bit value 2 (all held).
#pragma once

#include <string>
#include <vector>

#include "platform/env.h"

namespace velkan {

class StatusFiles;

constexpr const char* kCurrentPolicyFile = "status\\cs_curpolicy.xml";

// The policy text: at most the first 1024 bytes of the file, up to the
// first zero byte; empty when nothing can be read.
std::string readCurrentPolicy(platform::Env& env, const std::string& file = kCurrentPolicyFile);

// Does nothing unless the policy starts with "remotepolicies/". Throws
// std::out_of_range when such a policy has no "." to replace.
void updatePolicyStatus(const std::string& policy, const std::vector<std::string>& uploadPaths, StatusFiles& status);

}  // namespace velkan
