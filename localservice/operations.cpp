// The service's operations. Outcomes are result codes in the return text,
// never SOAP faults; a fault means the service itself failed.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/string_utils.h"
#include "bindings/zrcore/xml_builder.h"
#include "bindings/zrcore/xml_writer.h"
#include "localservice/connection.h"
#include "localservice/local_service.h"
#include "localservice/operation_support.h"
#include "platform/env.h"
#include "soapH.h"


namespace {

using namespace localservice::operations;
using localservice::LocalService;

constexpr int64_t kMaxGhostDocument = 16 * 1024 * 1024;

// Takes the attachment that came with this request, if any. Its bytes stop
// counting as on their way at once: once the store has counted them too, an
// attachment arriving meanwhile on another connection would find the quota
// full with bytes counted twice.
std::unique_ptr<localservice::Connection::Attachment> takeAttachment(struct soap* soap) {
  auto attachment = std::move(static_cast<localservice::Connection*>(soap->user)->attachment);
  if (attachment) attachment->stopCounting();
  return attachment;
}

// The policy documents an administrator placed in <root>/policies, those
// changed after the stamp (seconds since 1970), under one root.
std::string policiesDocument(platform::Env& env, const std::string& folder, int64_t stamp) {
  std::vector<std::string> names;
  env.listDirectory(folder, &names);
  std::sort(names.begin(), names.end());
  ZR::CXmlBuilder builder;
  builder.startElement("policies");
  std::unique_ptr<ZR::CXmlElement> root = builder.takeDocument();
  for (const std::string& name : names) {
    platform::FileInfo info;
    std::string path = folder + "/" + name, error;
    if (name.size() < 5 || name.substr(name.size() - 4) != ".xml") continue;
    if (!env.getFileInfo(path, &info) || info.modifiedUnixSeconds <= stamp) continue;
    std::unique_ptr<ZR::CXmlElement> policy(ZR::CXmlBuilder::fileToDocument(env, path, error));
    if (policy) root->addChild(std::move(policy));
  }
  std::string text;
  ZR::CXmlBuilder::documentToBuffer(*root, text);
  return text;
}

bool plainName(const std::string& name) {
  if (name.empty() || name.size() > 200 || name.find("..") != std::string::npos) return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
              c == '.';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

int ns1__login(struct soap* soap, char* in0, char** out) {
  LocalService& s = service(soap);
  if (auto injected = s.injectedAnswer("login")) return answerCode(soap, out, *injected);
  std::string key = s.login(textOf(in0));
  return key.empty() ? answerCode(soap, out, localservice::kInvalidAgent) : answer(soap, out, key);
}

int ns1__logout(struct soap* soap, char* in0, char** out) {
  return serveOperation(soap, "logout", in0, out, [&](const std::string&) {
    service(soap).logout(textOf(in0));
    return answerCode(soap, out, localservice::kSuccess);
  });
}

int ns1__createFile(struct soap* soap, char* in0, char* in1, char* in2, char** out) {
  return serveOperation(soap, "createFile", in0, out, [&](const std::string& agent) {
    return answerCode(soap, out, service(soap).store().createFile(agent, textOf(in0), textOf(in1), textOf(in2)));
  });
}

int ns1__writeFileAttachment(struct soap* soap, char* in0, char* in1, char** out) {
  auto attachment = takeAttachment(soap);
  std::string received = attachment && !attachment->inMemory ? attachment->path : "";
  int code = 0;
  serveOperation(soap, "writeFileAttachment", in0, out, [&](const std::string& agent) {
    if (attachment && attachment->failed && !attachment->refused && service(soap).store().diskFull(attachment->size)) {
      code = localservice::kStorageFull;
    } else if (!attachment || attachment->failed || attachment->refused) {
      code = localservice::kNoFileAttached;
    } else if (attachment->tooLarge) {
      service(soap).store().reportFull("an attachment of " + std::to_string(attachment->size) +
                                       " bytes does not fit in the quota");
      code = localservice::kStorageFull;
    } else if (attachment->inMemory) {
      code = service(soap).store().attachContent(agent, textOf(in0), textOf(in1), attachment->pending,
                                                 attachment->digest.hex());
    } else {
      code = service(soap).store().attachFile(agent, textOf(in0), textOf(in1), attachment->path, attachment->size,
                                              attachment->digest.hex());
      received.clear();  // taken over (or removed) by the store
    }
    return answerCode(soap, out, code);
  });
  if (!received.empty()) service(soap).store().env().removeFile(received);
  return SOAP_OK;
}

int ns1__writeFileBlock(struct soap* soap, char* in0, char*, struct xsd__base64Binary, LONG64, int, char** out) {
  // Files arrive whole as attachments; block uploads are not offered.
  return serveOperation(soap, "writeFileBlock", in0, out,
                        [&](const std::string&) { return answerCode(soap, out, localservice::kOutOfSequence); });
}

int ns1__finalizeFile(struct soap* soap, char* in0, char* in1, char** out) {
  return serveOperation(soap, "finalizeFile", in0, out, [&](const std::string& agent) {
    return answerCode(soap, out, service(soap).store().finalizeFile(agent, textOf(in0), textOf(in1), nullptr));
  });
}

int ns1__finalizeFileWithMetadata(struct soap* soap, char* in0, char* in1, char* in2, char** out) {
  return serveOperation(soap, "finalizeFileWithMetadata", in0, out, [&](const std::string& agent) {
    std::string metadata = textOf(in2);
    return answerCode(soap, out, service(soap).store().finalizeFile(agent, textOf(in0), textOf(in1), &metadata));
  });
}

int ns1__deleteFile(struct soap* soap, char* in0, char* in1, char** out) {
  return serveOperation(soap, "deleteFile", in0, out, [&](const std::string& agent) {
    return answerCode(soap, out, service(soap).store().deleteFile(agent, textOf(in1)));
  });
}

int ns1__deletePolicy(struct soap* soap, char* in0, char* in1, char** out) {
  return serveOperation(soap, "deletePolicy", in0, out, [&](const std::string&) {
    std::string id = textOf(in1);
    std::string path = service(soap).store().root() + "/policies/" + id + ".xml";
    if (!plainName(id) || !service(soap).store().env().removeFile(path)) return answerCode(soap, out, localservice::kInvalidPath);
    return answerCode(soap, out, localservice::kSuccess);
  });
}

int ns1__getFileAttr(struct soap* soap, char* in0, char* in1, char** out) {
  return serveOperation(soap, "getFileAttr", in0, out, [&](const std::string& agent) {
    localservice::CacheStore::StoredFile file;
    if (!service(soap).store().fileInfo(agent, textOf(in1), file)) {
      return answerCode(soap, out, localservice::kInvalidPath);
    }
    std::string text;
    ZR::CXmlWriter xml(text, false);
    xml.startElement("file");
    xml.attribute("path", file.path);
    xml.attribute("size", std::to_string(file.size));
    xml.attribute("updated", std::to_string(file.updated));
    xml.text(file.metadata);
    xml.finish();
    return answer(soap, out, text);
  });
}

int ns1__getStoreContentsForPath(struct soap* soap, char* in0, char* in1, char** out) {
  return serveOperation(soap, "getStoreContentsForPath", in0, out, [&](const std::string& agent) {
    std::string folder = textOf(in1);
    return answer(soap, out, contentsDocument(folder, service(soap).store().filesUnder(agent, folder),
                                              service(soap).config().fakeListedSize));
  });
}

int ns1__getStoreMetricsForUser(struct soap* soap, char* in0, char** out) {
  return serveOperation(soap, "getStoreMetricsForUser", in0, out, [&](const std::string&) {
    auto& store = service(soap).store();
    std::string text;
    ZR::CXmlWriter xml(text, false);
    xml.startElement("metrics");
    xml.attribute("bytes", std::to_string(store.usedBytes()));
    xml.attribute("quota", std::to_string(store.quota()));
    xml.finish();
    return answer(soap, out, text);
  });
}

int ns1__getPoliciesForAgent(struct soap* soap, char* in0, LONG64 in1, char** out) {
  return serveOperation(soap, "getPoliciesForAgent", in0, out, [&](const std::string&) {
    return answer(soap, out, policiesDocument(service(soap).store().env(), service(soap).store().root() + "/policies", in1));
  });
}

int ns1__getAgentSymLinks(struct soap* soap, char* in0, char** out) {
  return serveOperation(soap, "getAgentSymLinks", in0, out, [&](const std::string& agent) {
    return answer(soap, out, service(soap).store().symLinks(agent));
  });
}

int ns1__setAgentSymLinks(struct soap* soap, char* in0, char* in1, char** out) {
  return serveOperation(soap, "setAgentSymLinks", in0, out, [&](const std::string& agent) {
    return answerCode(soap, out, service(soap).store().setSymLinks(agent, textOf(in1)));
  });
}

int ns1__writeGhostFileAttachment(struct soap* soap, char* in0, char* in1, char** out) {
  auto attachment = takeAttachment(soap);
  // A ghost document is kept in a file of its own.
  if (attachment && !attachment->refused && !attachment->failed && !attachment->tooLarge && !attachment->spill()) {
    attachment->failed = true;
  }
  std::string received = attachment && !attachment->inMemory ? attachment->path : "";
  serveOperation(soap, "writeGhostFileAttachment", in0, out, [&](const std::string& agent) {
    if (!attachment || attachment->failed || attachment->refused) return answerCode(soap, out, localservice::kNoFileAttached);
    if (attachment->tooLarge || attachment->size > kMaxGhostDocument) {
      return answerCode(soap, out, localservice::kStorageFull);
    }
    std::string error;
    std::unique_ptr<ZR::CXmlElement> document(
        ZR::CXmlBuilder::fileToDocument(service(soap).store().env(), attachment->path, error));
    if (!document) return answerCode(soap, out, localservice::kInvalidMetadata);
    received.clear();
    return answerCode(soap, out,
                      service(soap).store().storeGhost(agent, textOf(in1), attachment->path, attachment->size));
  });
  if (!received.empty()) service(soap).store().env().removeFile(received);
  return SOAP_OK;
}

int ns1__getFile(struct soap* soap, char* in0, char* in1, int, LONG64 in3, int in4, struct xsd__base64Binary* out) {
  out->__ptr = nullptr;
  out->__size = 0;
  LocalService& s = service(soap);
  std::optional<std::string> agent = s.agentOf(textOf(in0));
  if (!agent) return soap_sender_fault(soap, "not authorized", nullptr);
  return answerRange(soap, s.store().content(*agent, textOf(in1)), in3, in4, out);
}
