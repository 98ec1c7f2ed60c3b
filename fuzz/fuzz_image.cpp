// Picture decoding through the transcoder, into 64 x 48 bounds. The name's
// extension comes from the last byte (the decoder goes by content, but the
// name picks the output format). What comes out must be a picture within
// the bounds.
#include <vector>

#include "fuzz/fuzz_support.h"
#include "prepare/image_transcoder.h"

using namespace fuzzsupport;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  require(velkan::startImageCodecs(nullptr) == 0, "no encoders");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kExtensions[] = {"jpg", "png", "gif", "bmp", "tif"};
  const char* extension = kExtensions[size == 0 ? 0 : data[size - 1] % 5];
  std::string path = writeInput(std::string("input.") + extension, asText(data, size));
  velkan::TranscodeParameters bounds;
  bounds.maxWidth = 64;
  bounds.maxHeight = 48;
  std::vector<uint8_t> encoded;
  std::string type = velkan::transformImage(path, encoded, bounds, nullptr);
  if (type == "application/octet-stream") return 0;
  require(!encoded.empty(), "a transcoded picture without bytes");
  std::string output = writeInput(type == "image/png" ? "output.png" : "output.jpg",
                                  std::string_view(reinterpret_cast<const char*>(encoded.data()), encoded.size()));
  int32_t height = 0, width = 0;
  velkan::imageSize(output, height, width);
  require(width >= 1 && height >= 1, "a transcoded picture that does not decode");
  require(width <= 64 && height <= 48, "a transcoded picture beyond its bounds");
  return 0;
}
