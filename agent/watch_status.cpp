#include "agent/watch_status.h"

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/xml_writer.h"
#include "platform/clock.h"
#include "platform/path.h"

namespace agent {

std::string watchStatusXml(const WatchState& state, int64_t nowSeconds) {
  std::string out;
  ZR::CXmlWriter xml(out, true);
  xml.declaration();
  xml.startElement("watch");
  xml.attribute("state", state.state);
  xml.attribute("updated", std::to_string(nowSeconds));
  xml.startElement("folders");
  xml.attribute("watched", std::to_string(state.watchedFolders));
  xml.attribute("unwatched", std::to_string(state.unwatchedFolders));
  xml.attribute("pending", std::to_string(state.pendingFolders));
  xml.endElement();
  if (state.lastCycleAt > 0) {
    xml.startElement("lastCycle");
    xml.attribute("at", std::to_string(state.lastCycleAt));
    xml.attribute("kind", state.lastCycleKind);
    xml.attribute("exitCode", std::to_string(state.lastCycleExitCode));
    xml.attribute("durationMs", std::to_string(state.lastCycleMs));
    xml.endElement();
  }
  xml.startElement("nextCycle");
  xml.attribute("at", std::to_string(state.nextCycleAt));
  xml.attribute("full", std::to_string(state.nextFullAt));
  xml.endElement();
  xml.finish();
  return out;
}

platform::Status WatchStatusFile::write(const WatchState& state) {
  // The time of writing is left out of the comparison: a file is rewritten
  // when what it says changes, not every time it is asked.
  std::string same = watchStatusXml(state, 0);
  if (same == written_) return platform::Status::ok();
  env_.createDirectories(folder_);
  std::string file = platform::joinPath(folder_, kWatchStatusFile), error;
  if (!ZR::CFileUtils::writeFileAtomically(env_, file, watchStatusXml(state, platform::unixTimeSeconds()), error, false,
                                           ZR::LinkAtTarget::Refuse)) {
    return platform::Status::ioError("cannot write the watch's status " + file + ": " + error);
  }
  written_ = std::move(same);
  return platform::Status::ok();
}

}  // namespace agent
