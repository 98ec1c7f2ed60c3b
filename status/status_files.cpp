#include "status/status_files.h"

#include <cstdio>
#include <memory>

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/string_utils.h"
#include "bindings/zrcore/xml_builder.h"

namespace velkan {
namespace {

// Serializes (indent 0, with the declaration and the stylesheet) and
// writes the whole file; a failure only costs the page an update.
void writeStatus(const std::string& file, const ZR::CXmlElement& root) {
  std::string text, error;
  root.serialize(text, false, true, kStatusStylesheet);
  ZR::CFileUtils::writeFileAtomically(file, text, error);
}

std::unique_ptr<ZR::CXmlElement> load(const std::string& file, std::string& error) {
  return std::unique_ptr<ZR::CXmlElement>(ZR::CXmlBuilder::fileToDocument(file, error));
}

struct Uploaded {
  std::string path, size, time;
};

void addFile(ZR::CXmlBuilder& builder, const std::string& path, const std::string* policy,
             const Uploaded* details = nullptr) {
  builder.startElement("file");
  if (details && !details->size.empty()) builder.attribute("size", details->size);
  if (details && !details->time.empty()) builder.attribute("time", details->time);
  builder.element("path", path);
  if (policy) builder.element("policy", *policy);
  builder.endElement("file");
}

}  // namespace

std::string StatusFiles::normalise(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

void StatusFiles::setUploading(const std::string& path) {
  ZR::CXmlBuilder builder;
  builder.startElement("cs_uploading");
  addFile(builder, path, nullptr);
  builder.endElement("cs_uploading");
  writeStatus(uploadingFile(), *builder.getDocument());
}

void StatusFiles::clearUploading() {
  ZR::CXmlBuilder builder;
  builder.startElement("cs_uploading");
  builder.endElement("cs_uploading");
  writeStatus(uploadingFile(), *builder.getDocument());
}

template <typename Drop>
bool StatusFiles::readWaiting(std::vector<Waiting>& kept, Drop drop) {
  std::string error;
  auto document = load(waitingFile(), error);
  if (!document) {
    std::printf("no waitng policies.");
    return false;
  }
  for (size_t i = 0; i < document->getChildCount(); ++i) {
    const ZR::CXmlElement* entry = document->getChild(i);
    if (entry->getChildCount() == 0) continue;
    Waiting w;
    std::string message;
    if (!entry->getValue("/file/path", w.path, message)) {
      std::printf("unable to find path value in cs_waiting.xml : %s", message.c_str());
      continue;
    }
    if (!entry->getValue("/file/policy", w.policy, message)) {
      std::printf("unable to find policy value in cs_waiting.xml : %s", message.c_str());
      continue;
    }
    if (drop(w)) continue;
    w.path = normalise(w.path);
    kept.push_back(w);
  }
  return true;
}

void StatusFiles::writeWaiting(const std::vector<Waiting>& entries) {
  ZR::CXmlBuilder builder;
  builder.startElement("cs_waiting");
  builder.attribute("origin", "velkan");
  for (const Waiting& w : entries) {
    addFile(builder, w.path, &w.policy);
    std::printf("listWaiting : path=%s, policy=%s\n", w.path.c_str(), w.policy.c_str());
  }
  builder.endElement("cs_waiting");
  writeStatus(waitingFile(), *builder.getDocument());
}

void StatusFiles::removeWaiting(const std::string& path) {
  std::vector<Waiting> kept;
  bool loaded = readWaiting(kept, [&](const Waiting& w) {
    if (w.path != path) return false;
    std::printf("ignore this target %s.\n", w.path.c_str());
    return true;
  });
  if (loaded) writeWaiting(kept);
}

void StatusFiles::replaceWaiting(const std::string& policy, const std::vector<std::string>& targets) {
  std::vector<Waiting> entries;
  for (const std::string& target : targets) entries.push_back(Waiting{target, policy});
  std::vector<Waiting> kept;
  bool loaded = readWaiting(kept, [&](const Waiting& w) {
    if (w.policy != policy) return false;
    std::printf("replace target %s of policy %s.\n", w.path.c_str(), w.policy.c_str());
    return true;
  });
  if (!loaded) return;
  entries.insert(entries.end(), kept.begin(), kept.end());
  writeWaiting(entries);
}

void StatusFiles::addUploadedToday(const std::string& path) {
  std::string now;
  ZR::CTimeUtils::getUTCTime(now);
  std::string today = now.substr(0, 8);
  std::string error;
  auto document = load(uploadedTodayFile(), error);
  std::vector<Uploaded> paths;
  if (document) {
    const ZR::CXmlAttribute* date = document->getAttribute("date");
    std::printf("date = %s\n", date ? date->value.c_str() : "");
    if (date && date->value == today) {
      for (size_t i = 0; i < document->getChildCount(); ++i) {
        const ZR::CXmlElement* entry = document->getChild(i);
        if (entry->getChildCount() == 0) continue;
        std::string stored, message;
        if (entry->getValue("/file/path", stored, message)) {
          const ZR::CXmlAttribute* size = entry->getAttribute("size");
          const ZR::CXmlAttribute* time = entry->getAttribute("time");
          paths.push_back(Uploaded{normalise(stored), size ? size->value : "", time ? time->value : ""});
        } else {
          std::printf("unable to find path value in uploadedtoday.xml : %s", message.c_str());
        }
      }
    }
  } else {
    std::printf("no file uploaded today.");
  }
  ZR::CFileInfo info;
  std::string size = ZR::CFileUtils::getFileInfo(path, info) ? std::to_string(info.size) : "";
  paths.push_back(Uploaded{path, size, now.substr(8, 2) + ":" + now.substr(10, 2) + ":" + now.substr(12, 2)});
  ZR::CXmlBuilder builder;
  builder.startElement("cs_uploadedtoday");
  builder.attribute("date", today);
  for (const Uploaded& p : paths) {
    addFile(builder, p.path, nullptr, &p);
    std::printf("vectorUploaded : %s\n", p.path.c_str());
  }
  builder.endElement("cs_uploadedtoday");
  writeStatus(uploadedTodayFile(), *builder.getDocument());
}

}  // namespace velkan
