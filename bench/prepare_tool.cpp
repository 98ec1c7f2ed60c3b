// Runs one preparation step on its own, so that it can be timed as a whole
// process beside other tools:
//   prepare_tool gzip SOURCE TARGET
//   prepare_tool transcode SOURCE TARGET [MAX_WIDTH MAX_HEIGHT QUALITY]
//   prepare_tool make-jpeg|make-png WIDTH HEIGHT TARGET   (a photo-like test picture)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "service/velkan_exceptions.h"
#include "platform/env.h"
#include "prepare/compression.h"
#include "prepare/image_codec.h"
#include "prepare/image_transcoder.h"

namespace {

// Smooth areas with fine detail, so encoders work as on a photograph.
velkan::Image photoLike(int width, int height) {
  velkan::Image image;
  image.width = width;
  image.height = height;
  image.rgba.resize(static_cast<size_t>(width) * height * 4);
  uint32_t noise = 12345;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      noise = noise * 1664525 + 1013904223;
      uint8_t* p = image.rgba.data() + (static_cast<size_t>(y) * width + x) * 4;
      int grain = static_cast<int>(noise >> 28) - 8;
      p[0] = static_cast<uint8_t>(std::clamp(x * 255 / width + grain, 0, 255));
      p[1] = static_cast<uint8_t>(std::clamp(y * 255 / height + grain, 0, 255));
      p[2] = static_cast<uint8_t>(std::clamp(((x / 40 + y / 40) % 2) * 120 + 60 + grain, 0, 255));
      p[3] = 255;
    }
  }
  return image;
}

bool save(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::unique_ptr<platform::WritableFile> out;
  return platform::env()->openWritable(path, &out) && out->append(reinterpret_cast<const char*>(bytes.data()), bytes.size()) && out->close();
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  try {
    if (command == "gzip" && argc == 4) {
      velkan::gzipFile(*platform::Env::defaultEnv(), argv[2], argv[3]);
      return 0;
    }
    if (command == "transcode" && (argc == 4 || argc == 7)) {
      velkan::startImageCodecs(nullptr);
      velkan::TranscodeParameters parameters{1024, 768, 80};
      if (argc == 7) parameters = {std::atoi(argv[5]), std::atoi(argv[4]), std::atoi(argv[6])};
      std::vector<uint8_t> buffer;
      std::string type = velkan::transformImage(argv[2], buffer, parameters, nullptr);
      if (type == "application/octet-stream" || !save(argv[3], buffer)) return 1;
      std::printf("%s\n", type.c_str());
      return 0;
    }
    if ((command == "make-jpeg" || command == "make-png") && argc == 5) {
      velkan::Image image = photoLike(std::atoi(argv[2]), std::atoi(argv[3]));
      std::vector<uint8_t> bytes;
      std::string error;
      platform::Status encoded =
          command == "make-jpeg" ? velkan::encodeJpeg(image, 92, "", bytes) : velkan::encodePng(image, "", bytes);
      bool ok = encoded.isOk();
      error = encoded.message();
      return ok && save(argv[4], bytes) ? 0 : 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s", e.what());
    return 1;
  }
  std::fprintf(stderr, "usage: prepare_tool gzip|transcode|make-jpeg|make-png ...\n");
  return 2;
}
