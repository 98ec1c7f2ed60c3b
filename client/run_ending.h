// A velkan run that stopped early, with its exit code (client/exit_codes.h).
#pragma once

#include <string>

#include "client/exit_codes.h"
#include "service/velkan_exceptions.h"

namespace velkan {

// A run that stopped early ends with this; its text says why for a person.
class CRunEndedEarly : public CVelkanException {
 public:
  CRunEndedEarly(int code, std::string text) : CVelkanException(std::move(text)), code_(code) {}
  int exitCode() const { return code_; }

 private:
  int code_;
};

}  // namespace velkan
