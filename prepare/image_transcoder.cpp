#include "prepare/image_transcoder.h"

#include <cmath>
#include <map>
#include <mutex>

#include "bindings/zrcore/log.h"
#include "prepare/image_codec.h"

namespace velkan {
namespace {

enum class Encoder { Jpeg, Png };

std::mutex tableMutex;
std::map<std::string, Encoder>& encoderTable() {
  static std::map<std::string, Encoder> table;
  return table;
}

bool findEncoder(const std::string& subtype, Encoder& encoder) {
  std::lock_guard<std::mutex> lock(tableMutex);
  auto found = encoderTable().find(subtype);
  if (found == encoderTable().end()) return false;
  encoder = found->second;
  return true;
}

uint32_t trunc32(double value) { return static_cast<uint32_t>(std::trunc(value)); }

bool encode(Encoder encoder, const Image& image, int quality, const std::string& exif, std::vector<uint8_t>& out,
            std::string& error) {
  platform::Status encoded = encoder == Encoder::Jpeg ? encodeJpeg(image, quality, exif, out) : encodePng(image, exif, out);
  error = encoded.message();
  return encoded.isOk();
}

}  // namespace

// The five formats of the table, in the order they are looked for. BMP,
// GIF and TIFF pictures are written as PNG (a BMP or TIFF target becomes
// PNG before the look-up, and GIF sources are transformed to PNG), so
// their entries stand for the PNG encoder.
int buildEncoderTable(ZR::CLogger* log) {
  std::lock_guard<std::mutex> lock(tableMutex);
  auto& table = encoderTable();
  table.clear();
  const std::pair<const char*, Encoder> kEncoders[] = {
      {"bmp", Encoder::Png}, {"jpeg", Encoder::Jpeg}, {"png", Encoder::Png}, {"gif", Encoder::Png}, {"tiff", Encoder::Png}};
  for (const auto& [name, encoder] : kEncoders) {
    table[name] = encoder;
    if (log) log->info("Located %s encoder", name);
  }
  return table.empty() ? -1 : 0;
}

int startImageCodecs(ZR::CLogger* log) {
  if (buildEncoderTable(log) == -1) {
    if (log) log->error("Unable to build encoder table.");
    return -1;
  }
  return 0;
}

void stopImageCodecs() {}

void imageSize(platform::Env& env, const std::string& path, int32_t& height, int32_t& width) {
  int w = 0, h = 0;
  readImageSize(env, path, w, h);
  height = h;
  width = w;
}

void imageSize(const std::string& path, int32_t& height, int32_t& width) {
  imageSize(*platform::env(), path, height, width);
}

void scaledSize(uint32_t w, uint32_t h, uint32_t mw, uint32_t mh, uint32_t& nw, uint32_t& nh) {
  double width = w, height = h;
  if (h > mh && w <= mw) {
    nw = trunc32(mh * (width / height));
    nh = mh;
  } else if (w > mw && h <= mh) {
    nw = mw;
    nh = trunc32(mw * (height / width));
  } else if (h > w) {
    uint32_t n1 = trunc32(mh * (width / height));
    nw = n1 > mw ? mw : n1;
    nh = n1 > mw ? trunc32(mw * (static_cast<double>(mh) / n1)) : mh;
  } else {
    uint32_t n2 = trunc32(mw * (height / width));
    nw = n2 > mh ? trunc32(mh * (static_cast<double>(mw) / n2)) : mw;
    nh = n2 > mh ? mh : n2;
  }
}

int transcodeImage(platform::Env& env, const std::string& path, MimeType& type, const TranscodeParameters& parameters,
                   std::vector<uint8_t>& buffer, bool forcePng, bool copyProperties, ZR::CLogger* log,
                   const PictureSize* known, PictureSize* result) {
  try {
    bool keepProperties = true;
    if (type.subtype() == "bmp" || type.subtype() == "tiff" || forcePng) {
      type = MimeType("image", "png");
      keepProperties = false;
    }
    Encoder encoder;
    if (!findEncoder(type.subtype(), encoder)) {
      if (log) log->trace("Unable to locate encoder for: %s", type.subtype().c_str());
      return -1;
    }
    // What is written is said by its own type.
    if (encoder == Encoder::Png && type.subtype() != "png") type = MimeType("image", "png");
    int width = known ? known->width : 0, height = known ? known->height : 0;
    if (!known) readImageSize(env, path, width, height);
    uint32_t mh = static_cast<uint32_t>(parameters.maxHeight), mw = static_cast<uint32_t>(parameters.maxWidth);
    bool scale = mh != 0 && mw != 0 && (static_cast<uint32_t>(height) > mh || static_cast<uint32_t>(width) > mw);
    uint32_t nw = static_cast<uint32_t>(width), nh = static_cast<uint32_t>(height);
    if (scale) scaledSize(static_cast<uint32_t>(width), static_cast<uint32_t>(height), mw, mh, nw, nh);
    Image source;
    std::string error;
    platform::Status decoded =
        decodeImage(env, path, source, scale ? static_cast<int>(nw) : 0, scale ? static_cast<int>(nh) : 0);
    error = decoded.message();
    if (!decoded) {
      // A picture that cannot be read cannot be saved either: the save's
      // line, and ours with the reason.
      if (log) log->error("Error writing image to stream: %d.", -1);
      if (log) log->error("%s", ("Unable to read image " + path + ": " + error).c_str());
      return -1;
    }
    std::string noProperties;
    bool saved;
    if (!scale) {
      // Saved as it is, the picture keeps what it carried.
      saved = encode(encoder, source, parameters.quality, source.exif, buffer, error);
    } else {
      Image scaled;
      if (nw == 0 || nh == 0 || !resizeImage(source, static_cast<int>(nw), static_cast<int>(nh), scaled)) {
        if (log) log->error("Error writing image to stream: %d.", -1);
        return -1;
      }
      const std::string& exif = keepProperties && copyProperties ? scaled.exif : noProperties;
      saved = encode(encoder, scaled, parameters.quality, exif, buffer, error);
    }
    if (!saved) {
      if (log) log->error("Error writing image to stream: %d.", -1);
      if (log) log->error("%s", error.c_str());
      return -1;
    }
    if (result) *result = PictureSize{static_cast<int32_t>(nh), static_cast<int32_t>(nw)};
    return 0;
  } catch (const std::exception&) {
    if (log) log->error("Exception caught transcoding image.");
    return -1;
  }
}

int transcodeImage(const std::string& path, MimeType& type, const TranscodeParameters& parameters,
                   std::vector<uint8_t>& buffer, bool forcePng, bool copyProperties, ZR::CLogger* log,
                   const PictureSize* known, PictureSize* result) {
  return transcodeImage(*platform::env(), path, type, parameters, buffer, forcePng, copyProperties, log, known, result);
}

std::string transformImage(platform::Env& env, const std::string& path, std::vector<uint8_t>& buffer,
                           const TranscodeParameters& parameters, ZR::CLogger* log, const PictureSize* known,
                           PictureSize* result) {
  std::string mime;
  int32_t generic = 0;
  mimeTypeOf(path, mime, generic);
  MimeType type(mime);
  if (type.matches(MimeType("image", "gif"))) type = MimeType("image", "png");
  if (transcodeImage(env, path, type, parameters, buffer, false, true, log, known, result) != 0) {
    if (log) log->info("%s", ("Image transformation for : " + path + " failed. \n").c_str());
    return "application/octet-stream";
  }
  return type.toString();
}

std::string transformImage(const std::string& path, std::vector<uint8_t>& buffer, const TranscodeParameters& parameters,
                           ZR::CLogger* log, const PictureSize* known, PictureSize* result) {
  return transformImage(*platform::env(), path, buffer, parameters, log, known, result);
}

}  // namespace velkan
