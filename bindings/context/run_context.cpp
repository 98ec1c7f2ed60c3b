#include "bindings/context/run_context.h"

#include "bindings/cabinet/file_index.h"
#include "bindings/zrcore/config.h"
#include "bindings/zrcore/log.h"
#include "bindings/zrcore/thread.h"
#include "platform/clock.h"
#include "platform/env.h"

namespace ZR {

CRunContext CRunContext::processDefaults() {
  CRunContext context;
  context.env = platform::env();
  context.clock = platform::Clock::system();
  context.log = &CLogManager::logger();
  context.index = &CFileIndex::processIndex();
  context.configuration = CConfigManager::instance();
  context.throttle = &CThreadGroup::processGroup();
  return context;
}

}  // namespace ZR
