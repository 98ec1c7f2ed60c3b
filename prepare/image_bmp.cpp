// BMP pictures on stb_image.
#include "prepare/image_formats.h"

#include <stb_image.h>

namespace velkan {
namespace picture {


int readStb(void* user, char* out, int size) {
  return size <= 0 ? 0 : static_cast<int>(static_cast<ImageSource*>(user)->read(out, static_cast<size_t>(size)));
}

void skipStb(void* user, int count) {
  if (count > 0) static_cast<ImageSource*>(user)->skip(static_cast<size_t>(count));
}

int endOfStb(void* user) { return static_cast<ImageSource*>(user)->atEnd() ? 1 : 0; }

const stbi_io_callbacks kStbCallbacks = {readStb, skipStb, endOfStb};

// stb reads the header again for the pixels: the file is opened twice.
bool decodeBmp(ImageSource* file, Image& image, std::string& error, bool headerOnly) {
  int width = 0, height = 0, channels = 0;
  if (!stbi_info_from_callbacks(&kStbCallbacks, file, &width, &height, &channels)) {
    error = std::string("BMP: ") + stbi_failure_reason();
    return false;
  }
  image.width = width;
  image.height = height;
  if (headerOnly) return true;
  if (!sizeAllowed(static_cast<uint64_t>(width), static_cast<uint64_t>(height), error)) return false;
  if (!file->rewind()) {
    error = "BMP: cannot read it again from the start";
    return false;
  }
  std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
      stbi_load_from_callbacks(&kStbCallbacks, file, &width, &height, &channels, 4), stbi_image_free);
  if (!pixels) {
    error = std::string("BMP: ") + stbi_failure_reason();
    return false;
  }
  image.rgba.assign(pixels.get(), pixels.get() + static_cast<size_t>(width) * height * 4);
  image.hasAlpha = channels == 4;
  return true;
}

}  // namespace picture

}  // namespace velkan
