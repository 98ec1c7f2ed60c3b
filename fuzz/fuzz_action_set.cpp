// The action-set reader of the client. A file that does not load yields no
// action, so a broken file never runs half.
#include "actionset/action_set_file.h"
#include "fuzz/fuzz_support.h"

using namespace fuzzsupport;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  dornik::ActionSetContent content =
      dornik::readActionSet(*platform::Env::defaultEnv(), writeInput("actionset.xml", asText(data, size)));
  require(content.loaded || content.actions.empty(), "actions from a file that did not load");
  for (const dornik::Action& action : content.actions) dornik::actionName(action.kind);
  return 0;
}
