// The history operations: a file's kept versions, a folder as it was at a
// time, and the bytes of a kept version. Confined to the session's agent.
#include "bindings/zrcore/xml_writer.h"
#include "localservice/operation_support.h"

using namespace localservice::operations;

namespace {

std::string versionsDocument(const std::string& path, const std::vector<localservice::CacheStore::StoredVersion>& all) {
  std::string text;
  ZR::CXmlWriter xml(text, true);
  xml.declaration();
  xml.startElement("versions");
  xml.attribute("path", path);
  for (const auto& version : all) {
    xml.startElement("version");
    xml.attribute("id", std::to_string(version.id));
    xml.attribute("size", std::to_string(version.size));
    xml.attribute("became", std::to_string(version.became));
    xml.attribute("ended", std::to_string(version.ended));
    xml.attribute("deleted", version.deleted ? "1" : "0");
    metadataAttributes(xml, version.metadata);
    xml.endElement();
  }
  xml.finish();
  return text;
}

}  // namespace

int zh__listVersions(struct soap* soap, char* in0, char* in1, char** out) {
  return serveOperation(soap, "listVersions", in0, out, [&](const std::string& agent) {
    std::string path = textOf(in1);
    return answer(soap, out, versionsDocument(path, service(soap).store().versionsOf(agent, path)));
  });
}

int zh__listFolderAt(struct soap* soap, char* in0, char* in1, LONG64 in2, char** out) {
  return serveOperation(soap, "listFolderAt", in0, out, [&](const std::string& agent) {
    std::string folder = textOf(in1);
    return answer(soap, out, contentsDocument(folder, service(soap).store().filesAt(agent, folder, in2), -1));
  });
}

int zh__getVersion(struct soap* soap, char* in0, LONG64 in1, LONG64 in2, int in3, struct xsd__base64Binary* out) {
  out->__ptr = nullptr;
  out->__size = 0;
  localservice::LocalService& s = service(soap);
  std::optional<std::string> agent = s.agentOf(textOf(in0));
  if (!agent) return soap_sender_fault(soap, "not authorized", nullptr);
  return answerRange(soap, s.store().versionContent(*agent, in1), in2, in3, out);
}
