// GIF pictures on giflib: the first frame only.
#include "prepare/image_formats.h"

#include <gif_lib.h>

namespace velkan {
namespace picture {


int readGifBytes(GifFileType* gif, GifByteType* into, int length) {
  if (length <= 0) return 0;
  return static_cast<int>(static_cast<ImageSource*>(gif->UserData)->read(into, static_cast<size_t>(length)));
}

bool decodeGif(ImageSource* file, Image& image, std::string& error, bool headerOnly) {
  int status = 0;
  GifFileType* gif = file ? DGifOpen(file, readGifBytes, &status) : nullptr;
  if (!file) status = D_GIF_ERR_OPEN_FAILED;
  if (!gif) {
    const char* reason = GifErrorString(status);  // null for codes it does not know
    error = std::string("GIF: ") + (reason ? reason : "cannot open");
    return false;
  }
  std::unique_ptr<GifFileType, void (*)(GifFileType*)> closer(gif, [](GifFileType* g) {
    int ignored = 0;
    DGifCloseFile(g, &ignored);
  });
  image.width = gif->SWidth;
  image.height = gif->SHeight;
  if (headerOnly) return image.width > 0 && image.height > 0;
  if (!sizeAllowed(static_cast<uint64_t>(gif->SWidth), static_cast<uint64_t>(gif->SHeight), error)) return false;
  image.rgba.assign(static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 4, 0);
  image.hasAlpha = true;
  int transparent = -1;
  for (;;) {
    GifRecordType record;
    if (DGifGetRecordType(gif, &record) == GIF_ERROR) break;
    if (record == TERMINATE_RECORD_TYPE) break;
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* extension = nullptr;
      if (DGifGetExtension(gif, &code, &extension) == GIF_ERROR) break;
      if (code == GRAPHICS_EXT_FUNC_CODE && extension && extension[0] >= 4 && (extension[1] & 1)) transparent = extension[4];
      while (extension) {
        if (DGifGetExtensionNext(gif, &extension) == GIF_ERROR) {
          error = "GIF: broken extension";
          return false;
        }
      }
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE || DGifGetImageDesc(gif) == GIF_ERROR) break;
    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* colors = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    if (!colors || frame.Width <= 0 || frame.Height <= 0 || static_cast<uint64_t>(frame.Width) > kMaxImagePixels) {
      error = "GIF: frame without colours or size";
      return false;
    }
    std::vector<GifPixelType> line(static_cast<size_t>(frame.Width));
    static const int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
    int passes = frame.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
      for (int y = frame.Interlace ? kStart[pass] : 0; y < frame.Height; y += frame.Interlace ? kStep[pass] : 1) {
        if (DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR) {
          error = "GIF: truncated frame";
          return false;
        }
        int canvasY = frame.Top + y;
        if (canvasY < 0 || canvasY >= image.height) continue;
        for (int x = 0; x < frame.Width; ++x) {
          int canvasX = frame.Left + x;
          int index = line[static_cast<size_t>(x)];
          if (canvasX < 0 || canvasX >= image.width || index == transparent || index >= colors->ColorCount) continue;
          uint8_t* p = image.rgba.data() + (static_cast<size_t>(canvasY) * image.width + canvasX) * 4;
          p[0] = colors->Colors[index].Red;
          p[1] = colors->Colors[index].Green;
          p[2] = colors->Colors[index].Blue;
          p[3] = 255;
        }
      }
    }
    return true;  // the first frame is the picture
  }
  error = "GIF: no frame";
  return false;
}

}  // namespace picture

}  // namespace velkan
