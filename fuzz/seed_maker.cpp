// Writes the binary seeds of the fuzz targets into a corpus folder: small
// pictures in every format the transcoder reads, and the raw requests the
// client sends for each service operation, with the session key written as
// 64 'k' characters (the service target substitutes its own key).
#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include <cstdio>
#include <memory>
#include <string>

#include "bindings/zrcore/file.h"
#include "bindings/zrcore/log.h"
#include "service/soap_session.h"
#include "tests/image_fixtures.h"
#include "tests/test_support.h"
#include "tests/wire_recorder.h"

namespace {

void writeImages(const std::string& folder) {
  using namespace testsupport;
  std::string exif = exifBlock("seed");
  writeJpeg(folder + "/photo.jpg", 40, 30, exif);
  writeJpeg(folder + "/wide.jpg", 200, 8);
  writePng(folder + "/alpha.png", 90, 70, exif, true);
  writePng(folder + "/plain.png", 12, 16);
  writeGif(folder + "/small.gif", 20, 20);
  writeBmp(folder + "/small.bmp", 16, 12);
  writeTiff(folder + "/small.tif", 24, 24);
}

void recordRequests(const std::string& folder) {
  ZR::CLogger log(std::make_shared<spdlog::logger>("seeds", std::make_shared<spdlog::sinks::null_sink_mt>()), "");
  testsupport::WireRecorder recorder;
  velkan::CSoapSession session(recorder.server(), velkan::ServiceOptions(), log);
  const std::string key(64, 'k');
  std::string content(2500, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31);
  testsupport::writeFile(folder + "/.content", content);

  session.login("agent text");
  session.createFile(key, "c:\\docs\\a.txt", "origin.size=2500\norigin.doctype=txt\n");
  session.writeFileAttachment(key, "c:\\docs\\a.txt", std::make_unique<ZR::CFile>(folder + "/.content", "r"),
                              "attach-id");
  session.finalizeFile(key, "c:\\docs\\a.txt");
  session.finalizeFileWithMetadata(key, "c:\\docs\\a.txt", "cache.size=2500\n");
  session.deleteFile(key, "c:\\docs\\old.txt");
  session.getStoreContentsForPath(key, "c:\\docs");
  session.getPoliciesForAgent(key, 12345);
  session.setAgentSymLinks(key, "<links><link from=\"c:\\a\" to=\"c:\\b\"/></links>");
  session.writeGhostFileAttachment(key, "C:/docs/sub/sub.xml", "<contents><file path=\"C:/docs/sub/x\"/></contents>");
  session.deletePolicy(key, "policy.1");
  std::remove((folder + "/.content").c_str());

  int number = 0;
  for (const auto& request : recorder.requests()) {
    testsupport::writeFile(folder + "/request-" + std::to_string(++number) + ".bin", request.raw);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS-FOLDER\n", argv[0]);
    return 2;
  }
  std::string corpus = argv[1];
  writeImages(corpus + "/fuzz_image");
  recordRequests(corpus + "/fuzz_service_request");
  return 0;
}
